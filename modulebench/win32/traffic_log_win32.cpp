#include "modulebench/win32/traffic_log_win32.h"

#include <string>
#include <utility>
#include <vector>

#include "modulebench/traffic_log.h"
#include "modulebench/win32/pellfray_resources.h"

namespace {

// Written once by the GUI thread in TrafficLogAttach, before the chunk
// processor is started; only read afterwards, by any thread.
HWND LogDialog;
DWORD GuiThreadId;
HWND LogList;
HWND TxLabel;
HWND RxLabel;
HWND StatusLabel;

// Lines and status texts of other threads on their way to the GUI thread.
LogHandOff Pending;

// GUI thread only: entries taken from the hand-off, the next of them to
// show, and the line being formatted, kept to reuse their storage.
std::vector<PendingLogEntry> Taken;
size_t TakenNext;
std::string LineBuffer;

// Lines shown per kLogLineMessage, and the longest a slice may take. A burst
// of thousands of lines is shown in slices, each followed by a fresh post, so
// the GUI thread gets back to its message loop (input, painting, other
// threads' messages) between slices. The list does not redraw or rescroll
// inside a slice: once per slice is all the eye can see anyway.
constexpr size_t kLinesPerMessage = 128;
constexpr ULONGLONG kSliceMs = 20;
constexpr size_t kAllPending = ~static_cast<size_t>(0);

bool OnGuiThread()
{
    return GetCurrentThreadId() == GuiThreadId;
}

std::string &FormatNow(char direction, uint32_t count, const uint8_t *bytes, std::string &out)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatLogLine(direction, now.wHour, now.wMinute, now.wSecond, bytes, count, out);
    return out;
}

void ShowTotal(char direction, uint64_t total)
{
    char total_text[24];
    SetWindowTextA(direction == 'R' ? RxLabel : TxLabel, FormatByteCount(total, total_text));
}

void ScrollToEnd()
{
    const LRESULT lines = SendMessageA(LogList, LB_GETCOUNT, 0, 0);
    SendMessageA(LogList, LB_SETCURSEL, static_cast<WPARAM>(lines - 1), 0);
}

// GUI thread: shows up to limit of the entries other threads handed over,
// in their order; a slice updates each label and the scroll position once.
// True when more are waiting.
bool ShowPending(size_t limit)
{
    bool rx_changed = false;
    bool tx_changed = false;
    bool lines_added = false;
    uint64_t rx_total = 0;
    uint64_t tx_total = 0;
    const ULONGLONG started = GetTickCount64();
    for (size_t shown = 0; shown < limit; ++shown) {
        if (limit != kAllPending && shown != 0 && GetTickCount64() - started >= kSliceMs)
            break;
        if (TakenNext == Taken.size()) {
            Pending.TakeAll(Taken);
            TakenNext = 0;
            if (Taken.empty())
                break;
        }
        const PendingLogEntry &entry = Taken[TakenNext++];
        if (entry.kind == 'T') {
            SetWindowTextA(StatusLabel, entry.text.c_str());
            continue;
        }
        if (entry.kind == 'R') {
            rx_total = AddRxBytes(entry.count);
            rx_changed = true;
        } else if (entry.kind == 'N') {
            // a note counts for neither label
        } else {
            tx_total = AddTxBytes(entry.count);
            tx_changed = true;
        }
        if (!lines_added)
            SendMessageA(LogList, WM_SETREDRAW, FALSE, 0);
        SendMessageA(LogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.text.c_str()));
        lines_added = true;
    }
    if (rx_changed)
        ShowTotal('R', rx_total);
    if (tx_changed)
        ShowTotal('S', tx_total);
    if (lines_added) {
        SendMessageA(LogList, WM_SETREDRAW, TRUE, 0);
        ScrollToEnd();
        InvalidateRect(LogList, nullptr, TRUE);
    }
    return TakenNext < Taken.size();
}

void HandOver(PendingLogEntry entry)
{
    if (!Pending.Push(std::move(entry)))
        return;
    if (!PostMessageA(LogDialog, kLogLineMessage, 0, 0))
        Pending.WakeFailed();
}

void AddListLine(const std::string &line)
{
    SendMessageA(LogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    ScrollToEnd();
}

void AddLogLine(char direction, uint32_t count, const uint8_t *bytes)
{
    ShowPending(kAllPending);
    const uint64_t total = direction == 'R' ? AddRxBytes(count) : AddTxBytes(count);
    ShowTotal(direction, total);
    AddListLine(FormatNow(direction, count, bytes, LineBuffer));
}

void LogLine(char direction, uint32_t count, const uint8_t *bytes)
{
    if (LogDialog == nullptr)
        return;
    if (OnGuiThread()) {
        AddLogLine(direction, count, bytes);
        return;
    }
    PendingLogEntry entry{direction, count, std::string()};
    FormatNow(direction, count, bytes, entry.text);
    HandOver(std::move(entry));
}

} // namespace

void TrafficLogAttach(HWND dialog)
{
    LogList = GetDlgItem(dialog, IDC_LOG_LIST);
    TxLabel = GetDlgItem(dialog, IDC_TX_COUNT);
    RxLabel = GetDlgItem(dialog, IDC_RX_COUNT);
    StatusLabel = GetDlgItem(dialog, IDC_CONFIG_STATUS);
    GuiThreadId = GetCurrentThreadId();
    LogDialog = dialog;
}

void TrafficLogOnMessage()
{
    // Entries still taken but not shown have no post of their own.
    if (ShowPending(kLinesPerMessage) && !PostMessageA(LogDialog, kLogLineMessage, 0, 0))
        ShowPending(kAllPending);
}

void LogReceived(uint32_t count, const uint8_t *bytes)
{
    LogLine('R', count, bytes);
}

void LogSent(uint32_t count, const uint8_t *bytes)
{
    LogLine('S', count, bytes);
}

void LogNote(const char *text)
{
    if (LogDialog == nullptr)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    PendingLogEntry entry{'N', 0, std::string()};
    FormatLogNote(now.wHour, now.wMinute, now.wSecond, text, entry.text);
    if (!OnGuiThread()) {
        HandOver(std::move(entry));
        return;
    }
    ShowPending(kAllPending);
    AddListLine(entry.text);
}

void ClearTrafficLog()
{
    // What was logged before the clear goes with it.
    ShowPending(kAllPending);
    SendMessageA(TxLabel, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("0"));
    SendMessageA(RxLabel, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("0"));
    SendMessageA(LogList, LB_RESETCONTENT, 0, 0);
    ResetByteCounts();
}

void ShowConfigStatus(const char *text)
{
    if (LogDialog != nullptr && !OnGuiThread()) {
        HandOver(PendingLogEntry{'T', 0, text});
        return;
    }
    // A text handed over earlier must not land on top of this one.
    ShowPending(kAllPending);
    SetWindowTextA(StatusLabel, text);
}

void ResetTrafficCounters()
{
    SetWindowTextA(TxLabel, "0");
    SetWindowTextA(RxLabel, "0");
    ResetByteCounts();
}
