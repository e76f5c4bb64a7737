#include "modulebench/win32/traffic_log_win32.h"

#include <string>

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

// GUI thread only: the line being formatted, kept to reuse its storage.
std::string LineBuffer;

void AddLogLine(char direction, uint32_t count, const uint8_t *bytes)
{
    const uint64_t total = direction == 'R' ? AddRxBytes(count) : AddTxBytes(count);
    char total_text[24];
    SetWindowTextA(direction == 'R' ? RxLabel : TxLabel, FormatByteCount(total, total_text));

    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatLogLine(direction, now.wHour, now.wMinute, now.wSecond, bytes, count, LineBuffer);
    SendMessageA(LogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LineBuffer.c_str()));
    const LRESULT lines = SendMessageA(LogList, LB_GETCOUNT, 0, 0);
    SendMessageA(LogList, LB_SETCURSEL, static_cast<WPARAM>(lines - 1), 0);
}

void LogLine(char direction, uint32_t count, const uint8_t *bytes)
{
    if (LogDialog == nullptr)
        return;
    if (GetCurrentThreadId() == GuiThreadId) {
        AddLogLine(direction, count, bytes);
        return;
    }
    // Waits until the GUI thread has added the line; the request lives on
    // this stack until then.
    LogLineRequest request{direction, count, bytes};
    SendMessageA(LogDialog, kLogLineMessage, 0, reinterpret_cast<LPARAM>(&request));
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

void TrafficLogOnMessage(LPARAM request)
{
    const auto *r = reinterpret_cast<const LogLineRequest *>(request);
    if (r != nullptr)
        AddLogLine(r->direction, r->count, r->bytes);
}

void LogReceived(uint32_t count, const uint8_t *bytes)
{
    LogLine('R', count, bytes);
}

void LogSent(uint32_t count, const uint8_t *bytes)
{
    LogLine('S', count, bytes);
}

void ClearTrafficLog()
{
    SendMessageA(TxLabel, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("0"));
    SendMessageA(RxLabel, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("0"));
    SendMessageA(LogList, LB_RESETCONTENT, 0, 0);
    ResetByteCounts();
}

void ShowConfigStatus(const char *text)
{
    SetWindowTextA(StatusLabel, text);
}

void ResetTrafficCounters()
{
    SetWindowTextA(TxLabel, "0");
    SetWindowTextA(RxLabel, "0");
    ResetByteCounts();
}
