// The batch configuration window (see batch_window_win32.h).
//
// The run (BatchRun) lives as long as the program; the window shows it and
// feeds it. 自动's pause is a one-shot timer set for the moment the run
// names, so the next ID is armed on time without a thread that sleeps; a
// slower timer refreshes the rate and notices a main dialog whose
// configuration was changed by hand.
#include "modulebench/win32/batch_window_win32.h"

#include <commdlg.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "modulebench/batch_journal.h"
#include "modulebench/batch_run.h"
#include "modulebench/module_hooks.h"
#include "modulebench/win32/batch_journal_win32.h"
#include "modulebench/win32/batch_window_resources.h"
#include "modulebench/win32/main_dialog.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/traffic_log_win32.h"
#include "shell/win32/app_shell.h"
#include "shell/win32/save_file_win32.h"

namespace {

// Posted to the relay by the processor thread (lParam: a NotSentReport it
// hands over), and by the window to itself when a row could not be written
// (wParam: the system's error), so the box does not open inside an event.
constexpr UINT kNotSentMessage = WM_APP + 40;
constexpr UINT kJournalFailedMessage = WM_APP + 41;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT_PTR kPauseTimer = 2;
constexpr UINT kRefreshMs = 250;
constexpr int kFieldTextMax = 32;
constexpr UINT kGbk = 936;
// How long the exit waits for the journal's last rows to reach the disk.
constexpr DWORD kExitDrainMs = 2000;

struct NotSentReport {
    uint32_t arm;
    std::string reason; // GBK, as WriteOutcomeReason writes it
};

// GUI thread only, except Relay and PreviousNotSent: written once before
// the processor starts, read by it afterwards.
HWND MainWindow;
HWND Window;
HWND Relay;
void (*PreviousNotSent)(uint32_t, const SerialWriteOutcome &, uint32_t);
// The journal's file is open for the run (batch_journal_win32.h writes it).
bool JournalActive;
std::wstring JournalPath;

uint64_t Now()
{
    return GetTickCount64();
}

JournalStamp LocalStamp()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::wstring Utf8ToWide(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

void Tell(const char *text)
{
    MessageBoxA(Window, text, nullptr, MB_OK);
}

std::string FieldText(int id)
{
    char text[kFieldTextMax] = {};
    GetDlgItemTextA(Window, id, text, sizeof text);
    return text;
}

void ShowRow(const std::string &display)
{
    HWND list = GetDlgItem(Window, IDC_BATCH_ROWS);
    if (list == nullptr)
        return;
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(display).c_str()));
    while (SendMessageW(list, LB_GETCOUNT, 0, 0) > static_cast<LRESULT>(kJournalRecentRows))
        SendMessageW(list, LB_DELETESTRING, 0, 0);
}

// --- the journal's file ------------------------------------------------------

DWORD LastError()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

bool ReadWholeFile(const std::wstring &path, std::string *bytes, DWORD *error)
{
    bytes->clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND; // a new journal
    }
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0)
        bytes->append(buffer, got);
    if (!ok)
        *error = LastError();
    CloseHandle(file);
    return ok;
}

bool AskJournalPath(std::wstring *path)
{
    wchar_t file[MAX_PATH] = {};
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::wstring name = DefaultSaveName(L"pellfray-batch", now, L"csv");
    lstrcpynW(file, name.c_str(), MAX_PATH);
    wchar_t filter[128] = {};
    LoadStringW(AppInstance, IDS_BATCH_FILTER, filter, 120);
    for (wchar_t &c : filter)
        if (c == L'|')
            c = L'\0';
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Window;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"csv";
    // No question about replacing: an existing journal is continued.
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn))
        return false;
    *path = file;
    return true;
}

// --- the run's way out -------------------------------------------------------

uint32_t ArmForRun(uint32_t id, int32_t send_period, int32_t battery_period)
{
    return ArmTagConfigForBatch(id, send_period, battery_period);
}

// Queued for the journal's writer, which flushes it at once; a failure
// comes back as kJournalFailedMessage and pauses the run.
bool WriteRow(const JournalRow &row)
{
    const JournalStamp stamp = LocalStamp();
    JournalFileAppend(FormatJournalRow(stamp, row), Window, kJournalFailedMessage);
    ShowRow(JournalDisplayText(FormatJournalStamp(stamp), std::to_string(row.id), row.result));
    return true;
}

// The sounds play on a thread of their own: the first MessageBeep of a
// process loads the sound system, which takes a second under Wine and may
// take long on Windows too, and the window must not wait for it. A sound
// asked for while another plays replaces any still waiting.
std::atomic<UINT> SoundWaiting{0};
HANDLE SoundEvent;

DWORD WINAPI SoundThread(LPVOID)
{
    for (;;) {
        WaitForSingleObject(SoundEvent, INFINITE);
        const UINT type = SoundWaiting.exchange(0);
        if (type != 0)
            MessageBeep(type);
    }
}

void Sound(BatchSound sound)
{
    if (SoundEvent == nullptr) {
        SoundEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        CloseHandle(CreateThread(nullptr, 0, SoundThread, nullptr, 0, nullptr));
    }
    SoundWaiting.store(sound == BatchSound::Configured ? MB_OK
                       : sound == BatchSound::NotSent  ? MB_ICONHAND
                                                       : MB_ICONASTERISK);
    SetEvent(SoundEvent);
}

BatchRun Run(BatchOutside{ArmForRun, DisarmTagConfigForBatch, WriteRow, Sound, LogNote});

// --- the window --------------------------------------------------------------

void Enable(int id, bool on)
{
    EnableWindow(GetDlgItem(Window, id), on ? TRUE : FALSE);
}

// Set only when it changes: a static repaints on every new text, and the
// view is refreshed four times a second.
void SetText(int id, const std::string &text)
{
    char now[128] = {};
    GetDlgItemTextA(Window, id, now, sizeof now);
    if (text != now)
        SetDlgItemTextA(Window, id, text.c_str());
}

std::string StateText()
{
    char text[96];
    switch (Run.state()) {
    case BatchState::Idle:
        return "未开始";
    case BatchState::Stopped:
        return "已停止";
    case BatchState::Done:
        return "已完成";
    case BatchState::Waiting:
        return "等待标签唤醒";
    case BatchState::Paused:
        return "暂停";
    case BatchState::Configured:
        std::snprintf(text, sizeof text, "已配置 ID %u，请换下一个标签", static_cast<unsigned>(Run.last_configured_id()));
        return text;
    }
    return std::string();
}

std::string CurrentText()
{
    char text[64] = {};
    if (Run.state() == BatchState::Waiting)
        std::snprintf(text, sizeof text, "当前ID号：%u（等待生效）", static_cast<unsigned>(Run.current_id()));
    else if (Run.running())
        std::snprintf(text, sizeof text, "下一个ID号：%u", static_cast<unsigned>(Run.current_id()));
    return text;
}

void Render()
{
    if (Window == nullptr)
        return;
    SetText(IDC_BATCH_STATE, StateText());
    SetText(IDC_BATCH_CURRENT, CurrentText());
    char text[64] = {};
    if (Run.state() != BatchState::Idle)
        std::snprintf(text, sizeof text, "已配置 %u / %u", static_cast<unsigned>(Run.configured_in_range()),
                      static_cast<unsigned>(Run.range_size()));
    SetText(IDC_BATCH_PROGRESS, text);
    text[0] = '\0';
    if (Run.state() != BatchState::Idle)
        std::snprintf(text, sizeof text, "每分钟 %.1f 个", Run.per_minute());
    SetText(IDC_BATCH_RATE, text);
    SetText(IDC_BATCH_HOLD, Run.state() == BatchState::Paused ? "继续" : "暂停");
    const bool running = Run.running();
    for (int id : {IDC_BATCH_FIRST, IDC_BATCH_LAST, IDC_BATCH_COUNT, IDC_BATCH_STEP, IDC_BATCH_SEND,
                   IDC_BATCH_BATTERY, IDC_BATCH_MANUAL, IDC_BATCH_AUTO, IDC_BATCH_START})
        Enable(id, !running);
    Enable(IDC_BATCH_PAUSE, !running && IsDlgButtonChecked(Window, IDC_BATCH_AUTO) == BST_CHECKED);
    Enable(IDC_BATCH_NEXT, Run.state() == BatchState::Configured);
    Enable(IDC_BATCH_HOLD, running);
    Enable(IDC_BATCH_STOP, running);
}

void WriteStopLine(const std::string &summary)
{
    const JournalStamp stamp = LocalStamp();
    JournalFileAppend(FormatJournalStop(stamp, summary), Window, kJournalFailedMessage);
    JournalFileClose();
    JournalActive = false;
    ShowRow(JournalDisplayText(FormatJournalStamp(stamp), "", summary));
}

// After every event: 自动's timer, a finished range's stop line, the view.
void AfterEvent()
{
    if (Window != nullptr) {
        KillTimer(Window, kPauseTimer);
        if (Run.state() == BatchState::Configured && Run.settings().automatic) {
            const uint64_t now = Now();
            const uint64_t due = Run.pause_due_ms();
            SetTimer(Window, kPauseTimer, due > now ? static_cast<UINT>(due - now) : 1, nullptr);
        }
    }
    if (Run.state() == BatchState::Done && JournalActive)
        WriteStopLine(std::string(u8"已完成；") + Run.Summary());
    Render();
}

BatchFieldTexts ReadFields()
{
    BatchFieldTexts t;
    t.first = FieldText(IDC_BATCH_FIRST);
    t.last = FieldText(IDC_BATCH_LAST);
    t.count = FieldText(IDC_BATCH_COUNT);
    t.step = FieldText(IDC_BATCH_STEP);
    t.send_period = FieldText(IDC_BATCH_SEND);
    t.battery_period = FieldText(IDC_BATCH_BATTERY);
    t.pause = FieldText(IDC_BATCH_PAUSE);
    t.automatic = IsDlgButtonChecked(Window, IDC_BATCH_AUTO) == BST_CHECKED;
    return t;
}

void OnStart()
{
    if (Run.running())
        return;
    BatchSettings settings;
    if (const char *why = CheckBatchSettings(ReadFields(), &settings)) {
        Tell(why);
        return;
    }
    if (!ReadyForBatch()) {
        Tell("请先在主窗口打开串口并选择电子标签");
        return;
    }
    std::wstring path;
    if (!AskJournalPath(&path))
        return;
    std::string bytes;
    DWORD error = 0;
    if (!ReadWholeFile(path, &bytes, &error)) {
        ShowFileFailure(Window, IDS_BATCH_JOURNAL_CANNOT_OPEN, path, error);
        return;
    }
    JournalContents contents;
    std::string prefix;
    if (ReadJournal(bytes, &contents, &prefix) == JournalOpen::Foreign) {
        const std::wstring text = L"所选文件不是批量配置日志（第一行不是日志的表头），未作任何改动：\n" + path;
        MessageBoxW(Window, text.c_str(), nullptr, MB_OK);
        return;
    }
    if ((error = JournalFileOpen(path, prefix)) != 0) {
        ShowFileFailure(Window, IDS_BATCH_JOURNAL_CANNOT_OPEN, path, error);
        return;
    }
    JournalPath = path;
    JournalActive = true;
    SetDlgItemTextW(Window, IDC_BATCH_JOURNAL, path.c_str());
    SendDlgItemMessageW(Window, IDC_BATCH_ROWS, LB_RESETCONTENT, 0, 0);
    for (const std::string &row : contents.recent)
        ShowRow(row);
    if (const char *why = Run.Start(settings, contents.configured, Now())) {
        JournalFileClose();
        JournalActive = false;
        Tell(why);
        return;
    }
    SetTimer(Window, kRefreshTimer, kRefreshMs, nullptr);
    SetFocus(GetDlgItem(Window, IDC_BATCH_HOLD));
    AfterEvent();
}

void OnNext()
{
    Run.Next();
    AfterEvent();
}

void OnHold()
{
    if (Run.state() == BatchState::Paused) {
        if (!ReadyForBatch()) {
            Tell("串口未打开或不在电子标签模式，无法继续");
            return;
        }
        Run.Resume(Now());
    } else {
        Run.Pause();
    }
    AfterEvent();
}

void OnStop()
{
    if (!Run.running())
        return;
    WriteStopLine(Run.Stop());
    AfterEvent();
}

void OnTimer(UINT_PTR timer)
{
    if (timer == kPauseTimer)
        KillTimer(Window, kPauseTimer);
    if (!Run.running())
        KillTimer(Window, kRefreshTimer);
    Run.Tick(Now(), TagConfigArmCurrent(Run.arm()));
    if (timer == kPauseTimer || Run.state() != BatchState::Configured)
        AfterEvent();
    else
        Render(); // the rate; 自动's own timer stays as it is
}

void InitWindow(HWND window)
{
    Window = window;
    // The periods the main dialog holds, as the likeliest choice.
    char text[kFieldTextMax] = {};
    GetDlgItemTextA(AppMainDialog, IDC_SEND_PERIOD, text, sizeof text);
    SetDlgItemTextA(window, IDC_BATCH_SEND, text[0] != '\0' ? text : "5");
    GetDlgItemTextA(AppMainDialog, IDC_BATTERY_PERIOD, text, sizeof text);
    SetDlgItemTextA(window, IDC_BATCH_BATTERY, text[0] != '\0' ? text : "10");
    CheckRadioButton(window, IDC_BATCH_MANUAL, IDC_BATCH_AUTO, IDC_BATCH_MANUAL);
    Render();
}

INT_PTR CALLBACK BatchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitWindow(window);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_BATCH_START:
            OnStart();
            return TRUE;
        case IDC_BATCH_NEXT:
        case IDOK:
            OnNext();
            return TRUE;
        case IDC_BATCH_HOLD:
            OnHold();
            return TRUE;
        case IDC_BATCH_STOP:
            OnStop();
            return TRUE;
        case IDC_BATCH_MANUAL:
        case IDC_BATCH_AUTO:
            Render();
            return TRUE;
        case IDCANCEL:
            // Closing ends a run as 停止 does: disarmed, the stop line written.
            OnStop();
            DestroyWindow(window);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_TIMER:
        OnTimer(wparam);
        return TRUE;
    case kJournalFailedMessage:
        // Nothing more is given out until the operator has seen why.
        Run.Pause();
        AfterEvent();
        ShowFileFailure(window, IDS_BATCH_JOURNAL_FAILED, JournalPath, static_cast<DWORD>(wparam));
        return TRUE;
    case WM_DESTROY:
        KillTimer(window, kRefreshTimer);
        KillTimer(window, kPauseTimer);
        Window = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

// --- the processor's report ---------------------------------------------------

// Processor thread.
void NotSentHook(uint32_t arm, const SerialWriteOutcome &outcome, uint32_t length)
{
    if (PreviousNotSent != nullptr)
        PreviousNotSent(arm, outcome, length);
    char reason[128];
    WriteOutcomeReason(outcome, length, reason, sizeof reason);
    NotSentReport *report = new NotSentReport{arm, reason};
    if (!PostMessageA(Relay, kNotSentMessage, 0, reinterpret_cast<LPARAM>(report)))
        delete report;
}

LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != kNotSentMessage)
        return DefWindowProcA(window, message, wparam, lparam);
    NotSentReport *report = reinterpret_cast<NotSentReport *>(lparam);
    Run.NotSent(report->arm, CodePageToUtf8(kGbk, report->reason.c_str()));
    delete report;
    AfterEvent();
    return 0;
}

} // namespace

void OpenBatchWindow(HWND main_window)
{
    MainWindow = main_window;
    if (Window == nullptr) {
        if (CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_BATCH), main_window, BatchWindowProc, 0) ==
            nullptr)
            return;
    }
    ShowWindow(Window, SW_SHOW);
    SetForegroundWindow(Window);
    SetActiveWindow(Window);
}

bool BatchPreTranslate(MSG *message)
{
    if (Window == nullptr || message->hwnd == nullptr ||
        (message->hwnd != Window && !IsChild(Window, message->hwnd)))
        return false;
    if (message->message == WM_KEYDOWN && Run.running()) {
        if (message->wParam == VK_RETURN || message->wParam == VK_SPACE) {
            OnNext();
            return true;
        }
        // Esc would close the window and so stop the run: only the close
        // box or 停止 does that.
        if (message->wParam == VK_ESCAPE)
            return true;
    }
    return IsDialogMessageA(Window, message) != FALSE;
}

void BatchAttachHooks()
{
    WNDCLASSA relay_class = {};
    relay_class.lpfnWndProc = RelayProc;
    relay_class.hInstance = AppInstance;
    relay_class.lpszClassName = "PellfrayBatchRelay";
    RegisterClassA(&relay_class);
    Relay = CreateWindowExA(0, relay_class.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, AppInstance,
                            nullptr);
    ModuleHooks hooks = CurrentModuleHooks();
    PreviousNotSent = hooks.config_not_sent;
    hooks.config_not_sent = NotSentHook;
    SetModuleHooks(hooks);
}

void BatchConfigAnswered(uint32_t arm)
{
    Run.Answered(arm, Now());
    AfterEvent();
}

void BatchPortClosed()
{
    Run.PortClosed();
    AfterEvent();
}

void BatchPortResumed()
{
    Run.PortResumed(Now());
    AfterEvent();
}

void BatchStopAtExit()
{
    if (Run.running())
        WriteStopLine(Run.Stop());
    JournalFileDrain(kExitDrainMs);
}
