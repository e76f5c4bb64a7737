// Working Tarnwick's batch check window (批量验收…) from another process, as
// a user would: open it from the window menu, give the range, read the
// counts, the verdict and the list of failures back (texts as UTF-8).
// Every wait has a deadline.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace accept {

constexpr UINT kCommand = 0x0190; // system menu item 批量验收…
constexpr int kFirst = 1901;      // 起始
constexpr int kLast = 1902;       // 结束
constexpr int kRange = 1903;      // 按范围
constexpr int kFile = 1904;       // 从文件…
constexpr int kSource = 1905;
constexpr int kMinSignal = 1906;   // 最低信号
constexpr int kMinReports = 1907;  // 至少报告次数
constexpr int kUnderVoltage = 1908; // 欠压不合格
constexpr int kOffline = 1909;      // 掉线不合格
constexpr int kFirstCount = 1911;   // 应到 已到 合格 缺失 欠压 信号弱 掉线 多余: 1911..1918
constexpr int kVerdict = 1920;
constexpr int kNote = 1921;
constexpr int kList = 1922;
constexpr int kTiming = 1923;
constexpr int kExport = 1924;
constexpr int kListColumns = 6;

// Opens the window through the main window's system menu; null when none
// came within timeout_ms.
HWND Open(HWND main, DWORD pid, DWORD timeout_ms);
// A control's text as UTF-8.
std::string Text(HWND window, int id);
// Types a text into a field (as UTF-8).
void SetText(HWND window, int id, const std::string &text);
// The range typed in and 按范围 pressed (posted: a refusal raises a box).
void UseRange(HWND window, uint32_t first, uint32_t last);
// The eight counts, 应到 to 多余, as shown.
std::vector<std::string> Counts(HWND window);
// "应到 N 已到 N ..." in one line, for messages.
std::string CountsLine(HWND window);
// The rows of the list of failures, each its six cells, read across the
// process boundary.
std::vector<std::vector<std::string>> ListRows(HWND window, DWORD pid);
// The rectangle of row item in the list's client area.
RECT RowRect(HWND window, DWORD pid, int item);
// A double-click on row item of the list, posted as the mouse sends it.
void DoubleClickRow(HWND window, DWORD pid, int item);
// The times the window shows of its last refresh, in ms: the judgement
// (copy and merge) and the whole refresh with the window's updates; -1
// when it shows none.
double LastJudgeMs(HWND window);
double LastRefreshMs(HWND window);

} // namespace accept
