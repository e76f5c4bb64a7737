// Resource and control identifiers of Pellfray's batch configuration
// window. Included by windres too, so it holds nothing but #defines.
#pragma once

#define IDD_BATCH 140

#define IDC_BATCH_FIRST 1101
#define IDC_BATCH_LAST 1102
#define IDC_BATCH_COUNT 1103
#define IDC_BATCH_STEP 1104
#define IDC_BATCH_SEND 1105
#define IDC_BATCH_BATTERY 1106
#define IDC_BATCH_JOURNAL 1107
#define IDC_BATCH_MANUAL 1108
#define IDC_BATCH_AUTO 1109
#define IDC_BATCH_PAUSE 1110
#define IDC_BATCH_START 1111
#define IDC_BATCH_NEXT 1112
#define IDC_BATCH_HOLD 1113
#define IDC_BATCH_STOP 1114
#define IDC_BATCH_STATE 1115
#define IDC_BATCH_CURRENT 1116
#define IDC_BATCH_PROGRESS 1117
#define IDC_BATCH_RATE 1118
#define IDC_BATCH_ROWS 1119

// The system menu item (below 0xF000, low four bits clear), its text, the
// journal's Save As filter and the headings of a journal that cannot be
// written or opened.
#define IDM_BATCH 0x0170
#define IDS_BATCH_COMMAND 160
#define IDS_BATCH_FILTER 161
#define IDS_BATCH_JOURNAL_FAILED 162
#define IDS_BATCH_JOURNAL_CANNOT_OPEN 163
