// Resource and control identifiers of Pellfray's main dialog. Included by
// windres too, so it holds nothing but #defines.
#pragma once

#define IDD_MODULEBENCH 129

// Controls of dialog 129.
#define IDC_LOG_LIST 1000
#define IDC_PORT_LIST 1003
#define IDC_BAUD_LIST 1004
#define IDC_PORT_BUTTON 1005
#define IDC_READER_MODE 1006
#define IDC_TAG_MODE 1007
#define IDC_READER_ID 1008
#define IDC_CHANNEL_LIST 1009
#define IDC_CREATE_TIMEOUT 1010
#define IDC_EXIT_TIMEOUT 1011
#define IDC_TRANSPARENT 1012
#define IDC_TAG_ID 1013
#define IDC_SEND_PERIOD 1014
#define IDC_BATTERY_PERIOD 1015
#define IDC_HEX_TEXT 1016
#define IDC_CLEAR_LOG 1017
#define IDC_HEX_SEND 1018
#define IDC_MODIFY 1019
#define IDC_TX_COUNT 1020
#define IDC_RX_COUNT 1021
#define IDC_CONFIG_STATUS 1023

// The log's items of the system menu (below 0xF000, low four bits clear)
// and their texts: 毫秒时间, 开始记录… / 停止记录, the recording's Save As
// filter, the title bar's mark and the two failure headings.
#define IDM_LOG_MILLISECONDS 0x0150
#define IDM_LOG_RECORD 0x0160
#define IDS_LOG_MILLISECONDS 150
#define IDS_RECORD_START 151
#define IDS_RECORD_STOP 152
#define IDS_RECORD_FILTER 153
#define IDS_RECORDING_TITLE 154
#define IDS_RECORD_FAILED 155
#define IDS_RECORD_CANNOT_START 156
