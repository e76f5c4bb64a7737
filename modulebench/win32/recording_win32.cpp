#include "modulebench/win32/recording_win32.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <utility>

#include "modulebench/traffic_recording.h"
#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/traffic_log_win32.h"
#include "shell/win32/app_shell.h"
#include "shell/win32/save_file_win32.h"

namespace {

const char kStartNote[] = "开始记录";
const char kStopNote[] = "停止记录";
const char kFailedNote[] = "记录因写入失败而停止";

// The writer lives as long as the process. StopRecordingAtExit ends its
// thread; it is never destroyed, so that a process ended some other way
// does not run a destructor for a thread that is already gone.
TrafficRecorder &Recorder()
{
    static TrafficRecorder *recorder = new TrafficRecorder();
    return *recorder;
}

// A recording ended: WPARAM its error (0: stopped), LPARAM its number.
constexpr UINT kRecordingEndedMessage = WM_APP + 20;

// GUI thread only.
HWND MainWindow;
HWND EventWindow; // message-only: reports reach it in modal loops too
std::wstring PlainTitle;
unsigned Current; // number of the recording the title shows; 0: none
unsigned LastNumber;
std::map<unsigned, std::wstring> Paths; // recordings not yet reported, by number

std::wstring LoadText(UINT id)
{
    const wchar_t *text = nullptr;
    const int length = LoadStringW(AppInstance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

std::string ToAnsi(const std::wstring &text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 1 ? length : 1), '\0');
    if (length > 1)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void ShowTitle()
{
    if (Current == 0) {
        SetWindowTextW(MainWindow, PlainTitle.c_str());
        return;
    }
    const std::wstring &path = Paths[Current];
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    SetWindowTextW(MainWindow, (PlainTitle + LoadText(IDS_RECORDING_TITLE) + name).c_str());
}

LRESULT CALLBACK EventProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != kRecordingEndedMessage)
        return DefWindowProcW(window, message, wparam, lparam);
    const DWORD error = static_cast<DWORD>(wparam);
    const unsigned number = static_cast<unsigned>(lparam);
    const std::wstring path = Paths[number];
    Paths.erase(number);
    if (number == Current) {
        // Ended by itself: the disk failed it.
        Current = 0;
        ShowTitle();
    }
    if (error != 0) {
        LogNote(kFailedNote);
        ShowFileFailure(MainWindow, IDS_RECORD_FAILED, path, error);
    }
    return 0;
}

bool MakeEventWindow()
{
    if (EventWindow != nullptr)
        return true;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = EventProc;
    wc.hInstance = AppInstance;
    wc.lpszClassName = L"PellfrayRecordingEvents";
    RegisterClassW(&wc);
    EventWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, AppInstance,
                                  nullptr);
    return EventWindow != nullptr;
}

// How long the exit waits for the writer, as for the program's other threads.
constexpr std::chrono::milliseconds kWriterStopWait{2000};

// The sink: one open file, written and flushed by the writer thread.
RecordingSink FileSink(HANDLE file)
{
    auto handle = std::make_shared<HANDLE>(file);
    // The writer thread, for a cancel from the exit; set by each write.
    auto writer = std::make_shared<std::atomic<DWORD>>(0);
    RecordingSink sink;
    sink.write = [handle, writer](const char *data, size_t length) -> uint32_t {
        writer->store(GetCurrentThreadId());
        while (length > 0) {
            const DWORD chunk = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
            DWORD written = 0;
            if (!WriteFile(*handle, data, chunk, &written, nullptr))
                return GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
            if (written == 0)
                return ERROR_WRITE_FAULT;
            data += written;
            length -= written;
        }
        return 0;
    };
    sink.cancel = [writer] {
        const DWORD id = writer->load();
        if (id == 0)
            return;
        HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, id);
        if (thread == nullptr)
            return;
        CancelSynchronousIo(thread);
        CloseHandle(thread);
    };
    sink.flush = [handle]() -> uint32_t {
        return FlushFileBuffers(*handle) ? 0 : (GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT);
    };
    sink.close = [handle]() -> uint32_t {
        if (*handle == INVALID_HANDLE_VALUE)
            return 0;
        const BOOL closed = CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
        return closed ? 0 : (GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT);
    };
    return sink;
}

RecordingDate DateOf(const SYSTEMTIME &time)
{
    return RecordingDate{time.wYear, time.wMonth, time.wDay};
}

void StartRecording(HWND main_window)
{
    const SaveRequest request = {L"pellfray-record", L"log", IDS_RECORD_FILTER};
    std::wstring path;
    if (!AskSavePath(main_window, request, &path))
        return;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ShowFileFailure(main_window, IDS_RECORD_CANNOT_START, path, GetLastError());
        return;
    }
    if (!MakeEventWindow()) {
        CloseHandle(file);
        return;
    }
    const unsigned number = ++LastNumber;
    Paths[number] = path;
    Current = number;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const HWND events = EventWindow;
    Recorder().Start(FileSink(file), DateOf(now), [events, number](uint32_t error) {
        PostMessageW(events, kRecordingEndedMessage, error, static_cast<LPARAM>(number));
    });
    ShowTitle();
    LogNote((std::string(kStartNote) + " " + ToAnsi(path)).c_str());
}

} // namespace

bool RecordingActive()
{
    return Recorder().Recording();
}

void RecordLine(const SYSTEMTIME &now, const LogStamp &time, std::string text)
{
    Recorder().Append(RecordedLine{DateOf(now), time, std::move(text)});
}

void ToggleRecordingCommand(HWND main_window)
{
    if (MainWindow == nullptr) {
        MainWindow = main_window;
        const int length = GetWindowTextLengthW(main_window);
        PlainTitle.assign(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        PlainTitle.resize(static_cast<size_t>(GetWindowTextW(main_window, &PlainTitle[0], length + 1)));
    }
    if (!RecordingActive()) {
        StartRecording(main_window);
        return;
    }
    LogNote(kStopNote);
    Recorder().Stop();
    Current = 0;
    ShowTitle();
}

void StopRecordingAtExit()
{
    // The dialog is gone by now: the note goes to the file alone, as the
    // last line the writer writes before it ends.
    SYSTEMTIME now;
    GetLocalTime(&now);
    RecordedLine note{DateOf(now), LogStamp{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds}, std::string()};
    FormatLogNote(note.time, kStopNote, note.text);
    note.text = CodePageToUtf8(CP_ACP, note.text.c_str());
    // A file on a share that stopped answering holds the exit no longer
    // than the other threads do: the file keeps what it got.
    Recorder().Shutdown(&note, kWriterStopWait);
}
