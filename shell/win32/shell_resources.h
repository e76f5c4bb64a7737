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

// The program's own item of the system menu (save the log, export the
// table). System menu commands stay below 0xF000 and keep their low four
// bits clear, which WM_SYSCOMMAND uses internally.
#define IDM_SYSTEM_SAVE 0x0110

// Strings of that item: its text and the Save As filter (each program's
// own), and the failure message (shared).
#define IDS_SAVE_COMMAND 110
#define IDS_SAVE_FILTER 111
#define IDS_SAVE_FAILED 112

// Icon shown by the About box picture.
#define IDI_ABOUT 128

// Program icon groups.
#define IDI_TARNWICK 130
#define IDI_PELLFRAY 132
