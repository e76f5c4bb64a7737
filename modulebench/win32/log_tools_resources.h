// Identifiers of Pellfray's log tools (find box, copy, the HEX发送 helpers).
// Included by windres too, so it holds nothing but #defines.
#pragma once

// The system menu item 查找… (below 0xF000, low four bits clear) and its text.
#define IDM_LOG_FIND 0x0240
#define IDS_LOG_FIND 240

// The find box.
#define IDD_LOG_FIND 241
#define IDC_LOG_FIND_TEXT 2410
#define IDC_LOG_FIND_PREV 2411
#define IDC_LOG_FIND_STATUS 2412

// Controls the main dialog gets at start, beside those of its template: the
// 加CRC check box and the history button of the hex field.
#define IDC_HEX_ADD_CRC 2420
#define IDC_HEX_HISTORY 2421

// Commands of the log's context menu and of the history's menu (the
// history's entries follow IDM_HEX_HISTORY_FIRST).
#define IDM_COPY_FOUND 2430
#define IDM_COPY_VIEW 2431
#define IDM_COPY_ALL 2432
#define IDM_CONTEXT_FIND 2433
#define IDM_HEX_HISTORY_FIRST 2440
