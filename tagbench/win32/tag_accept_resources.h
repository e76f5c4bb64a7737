// Resource and control identifiers of Tarnwick's batch check window
// (批量验收…). Included by windres too, so it holds nothing but #defines.
#pragma once

// System menu item 批量验收… (below 0xF000, low four bits clear).
#define IDM_SYSTEM_ACCEPT 0x0190
#define IDS_ACCEPT_COMMAND 190
#define IDS_ACCEPT_READ_FAILED 191

#define IDD_ACCEPT 190
#define IDC_ACCEPT_FIRST 1901
#define IDC_ACCEPT_LAST 1902
#define IDC_ACCEPT_RANGE 1903
#define IDC_ACCEPT_FILE 1904
#define IDC_ACCEPT_SOURCE 1905
#define IDC_ACCEPT_MIN_SIGNAL 1906
#define IDC_ACCEPT_MIN_REPORTS 1907
#define IDC_ACCEPT_UNDER_VOLTAGE 1908
#define IDC_ACCEPT_OFFLINE 1909
// The counts, in this order: 应到 已到 合格 缺失 欠压 信号弱 掉线 多余.
#define IDC_ACCEPT_EXPECTED 1911
#define IDC_ACCEPT_ARRIVED 1912
#define IDC_ACCEPT_PASSED 1913
#define IDC_ACCEPT_MISSING 1914
#define IDC_ACCEPT_UNDER_VOLTAGE_COUNT 1915
#define IDC_ACCEPT_WEAK 1916
#define IDC_ACCEPT_OFFLINE_COUNT 1917
#define IDC_ACCEPT_UNEXPECTED 1918
#define IDC_ACCEPT_VERDICT 1920
#define IDC_ACCEPT_NOTE 1921
#define IDC_ACCEPT_LIST 1922
#define IDC_ACCEPT_TIMING 1923
#define IDC_ACCEPT_EXPORT 1924
