#include "modulebench/win32/traffic_log_win32.h"

#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "modulebench/log_view.h"
#include "modulebench/traffic_log.h"
#include "modulebench/win32/log_options_win32.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/recording_win32.h"
#include "shell/win32/save_file_win32.h"

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

// The user's choice of time stamps for lines logged from now on. Written by
// the GUI thread (start-up, the menu item), read by any thread that logs.
std::atomic<bool> Milliseconds{false};

// Lines the list keeps. A test build of the program sets a few dozen with
// PELLFRAY_LOG_KEEP_LINES, so that an end-to-end test watches lines go
// within seconds; the program itself keeps kLogListKeepLines.
#ifdef PELLFRAY_LOG_KEEP_LINES
constexpr size_t kKeepLines = PELLFRAY_LOG_KEEP_LINES;
#else
constexpr size_t kKeepLines = kLogListKeepLines;
#endif

// GUI thread only: the list's bound.
LogListBound Bound(kKeepLines);

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

LogStamp StampOf(const SYSTEMTIME &time, bool milliseconds)
{
    return LogStamp{time.wHour, time.wMinute, time.wSecond, milliseconds ? time.wMilliseconds : -1};
}

// The line as the list shows it; a running recording gets its own copy,
// always with millisecond time, stamped with the same moment.
std::string &FormatNow(char direction, uint32_t count, const uint8_t *bytes, std::string &out)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const bool milliseconds = Milliseconds.load(std::memory_order_relaxed);
    FormatLogLine(direction, StampOf(now, milliseconds), bytes, count, out);
    if (RecordingActive()) {
        std::string recorded;
        if (milliseconds)
            recorded = out;
        else
            FormatLogLine(direction, StampOf(now, true), bytes, count, recorded);
        RecordLine(now, StampOf(now, true), std::move(recorded));
    }
    return out;
}

void ShowTotal(char direction, uint64_t total)
{
    char total_text[24];
    SetWindowTextA(direction == 'R' ? RxLabel : TxLabel, FormatByteCount(total, total_text));
}

// The log list as LogListBatch reaches it.
struct ListBox {
    size_t Count() const { return Index(SendMessageA(LogList, LB_GETCOUNT, 0, 0)); }
    size_t Top() const { return Index(SendMessageA(LogList, LB_GETTOPINDEX, 0, 0)); }
    // Whole lines in view.
    size_t Page() const
    {
        RECT client;
        GetClientRect(LogList, &client);
        const LRESULT height = SendMessageA(LogList, LB_GETITEMHEIGHT, 0, 0);
        if (height == LB_ERR || height <= 0 || client.bottom <= height)
            return 1;
        return static_cast<size_t>(client.bottom / height);
    }
    void Append(const std::string &line)
    {
        SendMessageA(LogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    void Delete(size_t index) { SendMessageA(LogList, LB_DELETESTRING, static_cast<WPARAM>(index), 0); }
    void Insert(size_t index, const std::string &line)
    {
        SendMessageA(LogList, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(line.c_str()));
    }
    void SetTop(size_t index) { SendMessageA(LogList, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0); }

    static size_t Index(LRESULT value) { return value > 0 ? static_cast<size_t>(value) : 0; }
};

// GUI thread: lines added to the list in one go. The list draws nothing
// while they go in; at the end the oldest lines past the bound go, and the
// view follows the newest line or stays on what the user reads.
class ListLines {
public:
    ListLines() : batch_(list_, Bound) { SendMessageA(LogList, WM_SETREDRAW, FALSE, 0); }
    ~ListLines()
    {
        const bool added = batch_.added() != 0;
        batch_.Finish();
        SendMessageA(LogList, WM_SETREDRAW, TRUE, 0);
        if (added)
            InvalidateRect(LogList, nullptr, TRUE);
    }
    ListLines(const ListLines &) = delete;
    ListLines &operator=(const ListLines &) = delete;

    void Add(const std::string &line) { batch_.Add(line); }

private:
    ListBox list_;
    LogListBatch<ListBox> batch_;
};

// GUI thread: shows up to limit of the entries other threads handed over,
// in their order; a slice updates each label and the scroll position once.
// True when more are waiting.
bool ShowPending(size_t limit)
{
    bool rx_changed = false;
    bool tx_changed = false;
    uint64_t rx_total = 0;
    uint64_t tx_total = 0;
    const ULONGLONG started = GetTickCount64();
    std::optional<ListLines> lines;
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
        if (!lines)
            lines.emplace();
        lines->Add(entry.text);
    }
    if (rx_changed)
        ShowTotal('R', rx_total);
    if (tx_changed)
        ShowTotal('S', tx_total);
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
    ListLines lines;
    lines.Add(line);
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
    SetLogMilliseconds(LoadMillisecondChoice());
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
    const bool milliseconds = Milliseconds.load(std::memory_order_relaxed);
    PendingLogEntry entry{'N', 0, std::string()};
    FormatLogNote(StampOf(now, milliseconds), text, entry.text);
    if (RecordingActive()) {
        // The recording is UTF-8; the note is in the code page the list
        // shows it in.
        std::string recorded;
        FormatLogNote(StampOf(now, true), text, recorded);
        RecordLine(now, StampOf(now, true), CodePageToUtf8(CP_ACP, recorded.c_str()));
    }
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
    Bound.Clear();
    ResetByteCounts();
}

void SetLogMilliseconds(bool on)
{
    Milliseconds.store(on, std::memory_order_relaxed);
}

bool LogMilliseconds()
{
    return Milliseconds.load(std::memory_order_relaxed);
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

LogListState TrafficLogListState()
{
    return LogListState{Bound.clears(), Bound.let_go(), Bound.has_head()};
}

void ResetTrafficCounters()
{
    SetWindowTextA(TxLabel, "0");
    SetWindowTextA(RxLabel, "0");
    ResetByteCounts();
}
