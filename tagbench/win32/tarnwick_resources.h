// Resource and control identifiers of Tarnwick's main dialog. Included by
// windres too, so it holds nothing but #defines.
#pragma once

#define IDD_TAGBENCH 131
#define IDB_BACKGROUND 134

#define IDC_PORT_LIST 1002
#define IDC_SPEED_LIST 1003
#define IDC_NEXT_PAGE 1004
#define IDC_LAMP_GREEN 1005
#define IDC_LAMP_RED 1006
#define IDC_BUZZER 1007
#define IDC_PORT_BUTTON 1016
#define IDC_READER_STATE 1041
#define IDC_PREV_PAGE 1042
#define IDC_TAG_TOTAL 1043
#define IDC_OFFLINE_TOTAL 1044
// Right of 下一页: tags a full table did not take (empty while none).
#define IDC_TABLE_REFUSED 1203
#define IDC_REMINDER_START_ID 1178
#define IDC_REMINDER_BUTTON 1179
#define IDC_REMINDER_QUANTITY 1180
// Below the status box: line errors the port reported since it was opened,
// and what became of a port that vanished.
#define IDC_PORT_ERRORS 1201
#define IDC_PORT_NOTE 1202
// Beside the line errors: reminder frames that did not wholly go out since
// the user opened the port.
#define IDC_REMINDER_FAILURES 1211

// Grid cells: header 1046, 1083..1087; row 0 starts with 1088, then row r
// (0..11) is 1106 + 6r .. 1111 + 6r (there is no 1106).
#define IDC_CELL_HEADER_0 1046
#define IDC_CELL_ROW0_FIRST 1088
