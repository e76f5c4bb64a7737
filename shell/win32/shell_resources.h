// Resource and command identifiers of the application shell, shared by both
// programs' resource scripts and by the shell code. Included by windres too,
// so it holds nothing but #defines.
#pragma once

// String table entries; also the About dialog (103) and accelerator table (109).
#define IDS_APP_TITLE 103
#define IDS_APP_CLASS 109
#define IDD_ABOUTBOX 103
#define IDA_SHELL 109

// Main window commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105

// Icon shown by the About box picture.
#define IDI_ABOUT 128

// Program icon groups.
#define IDI_TARNWICK 130
#define IDI_PELLFRAY 132
