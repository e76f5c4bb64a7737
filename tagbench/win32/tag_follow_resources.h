// Resource and control identifiers of Tarnwick's find box and follow
// windows. Included by windres too, so it holds nothing but #defines.
#pragma once

// System menu item 查找标签… (below 0xF000, low four bits clear).
#define IDM_SYSTEM_FIND 0x0170
#define IDS_FIND_COMMAND 170

// The find box.
#define IDD_FIND_TAG 170
#define IDC_FIND_ID 1701
#define IDC_FIND_FOLLOW 1702

// A follow window's controls: the values (static texts), then the buttons.
#define IDC_FOLLOW_STATE 1801
#define IDC_FOLLOW_FIRST_SEEN 1802
#define IDC_FOLLOW_LAST_SEEN 1803
#define IDC_FOLLOW_LAST_SECOND 1804
#define IDC_FOLLOW_TOTAL 1805
#define IDC_FOLLOW_UNDER_VOLTAGE 1806
#define IDC_FOLLOW_EXTRA 1807
#define IDC_FOLLOW_CURRENT 1808
#define IDC_FOLLOW_NEWEST 1809
#define IDC_FOLLOW_PAUSE 1810
#define IDC_FOLLOW_SAVE 1811
