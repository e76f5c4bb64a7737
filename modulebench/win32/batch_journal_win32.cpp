#include "modulebench/win32/batch_journal_win32.h"

#include <atomic>
#include <deque>
#include <mutex>

namespace {

struct Job {
    enum Kind { Adopt, Append, Close } kind;
    HANDLE file;       // Adopt
    std::wstring path; // Adopt
    std::string bytes; // Append
    HWND window;       // Append: where a failure goes
    UINT message;
};

// Guarded by Mutex: the queue. Jobs counts what is queued or being done
// (GUI thread up, writer down) for the exit's wait.
std::mutex Mutex;
std::deque<Job> Jobs;
std::atomic<int> Unfinished{0};
HANDLE WorkEvent;
HANDLE Writer;

// Writer thread only.
HANDLE File = INVALID_HANDLE_VALUE;
std::wstring Path;

DWORD LastError()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

HANDLE OpenForAppend(const std::wstring &path)
{
    return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

DWORD WriteFlushed(HANDLE file, const std::string &bytes)
{
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return LastError();
    if (written != bytes.size())
        return ERROR_WRITE_FAULT;
    if (!FlushFileBuffers(file))
        return LastError();
    return 0;
}

void CloseFile()
{
    if (File != INVALID_HANDLE_VALUE)
        CloseHandle(File);
    File = INVALID_HANDLE_VALUE;
}

void Do(const Job &job)
{
    switch (job.kind) {
    case Job::Adopt:
        CloseFile();
        File = job.file;
        Path = job.path;
        return;
    case Job::Close:
        CloseFile();
        return;
    case Job::Append: {
        const bool reopened = File == INVALID_HANDLE_VALUE;
        DWORD error = 0;
        if (reopened && (File = OpenForAppend(Path)) == INVALID_HANDLE_VALUE)
            error = Path.empty() ? ERROR_INVALID_HANDLE : LastError();
        if (error == 0)
            error = WriteFlushed(File, job.bytes);
        if (reopened)
            CloseFile();
        if (error != 0 && job.window != nullptr)
            PostMessageA(job.window, job.message, error, 0);
        return;
    }
    }
}

DWORD WINAPI WriterThread(LPVOID)
{
    for (;;) {
        WaitForSingleObject(WorkEvent, INFINITE);
        for (;;) {
            Job job;
            {
                std::lock_guard<std::mutex> lock(Mutex);
                if (Jobs.empty())
                    break;
                job = std::move(Jobs.front());
                Jobs.pop_front();
            }
            Do(job);
            Unfinished.fetch_sub(1);
        }
    }
}

void Queue(Job job)
{
    if (Writer == nullptr) {
        WorkEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        // Lives as long as the process; the exit waits for its queue to
        // empty (JournalFileDrain), not for the thread.
        Writer = CreateThread(nullptr, 0, WriterThread, nullptr, 0, nullptr);
    }
    Unfinished.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Jobs.push_back(std::move(job));
    }
    SetEvent(WorkEvent);
}

} // namespace

DWORD JournalFileOpen(const std::wstring &path, const std::string &prefix)
{
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE)
        return LastError();
    const DWORD error = prefix.empty() ? 0 : WriteFlushed(file, prefix);
    if (error != 0) {
        CloseHandle(file);
        return error;
    }
    Queue(Job{Job::Adopt, file, path, std::string(), nullptr, 0});
    return 0;
}

void JournalFileAppend(const std::string &bytes, HWND window, UINT message)
{
    Queue(Job{Job::Append, INVALID_HANDLE_VALUE, std::wstring(), bytes, window, message});
}

void JournalFileClose()
{
    Queue(Job{Job::Close, INVALID_HANDLE_VALUE, std::wstring(), std::string(), nullptr, 0});
}

bool JournalFileDrain(DWORD timeout_ms)
{
    const ULONGLONG until = GetTickCount64() + timeout_ms;
    while (Unfinished.load() > 0) {
        if (GetTickCount64() >= until)
            return false;
        Sleep(5);
    }
    return true;
}
