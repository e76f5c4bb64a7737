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
