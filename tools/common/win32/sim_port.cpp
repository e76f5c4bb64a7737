#include "tools/common/win32/sim_port.h"

#include <mmsystem.h>

#include "serial/win32/line_state_win32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sim {

std::atomic<bool> StopRequested{false};

namespace {

// The port handle: written by PortOpen/PortClose on the main thread while no
// reader runs; read by the main thread (writes) and the reader thread.
HANDLE Port = INVALID_HANDLE_VALUE;

// Reader thread state. ReaderStop is written by the main thread (StopReader)
// and read by the reader thread; the rest belongs to the reader thread once
// it has started.
HANDLE ReaderThread = nullptr;
std::atomic<bool> ReaderStop{false};
OVERLAPPED ReaderOverlapped;
ChunkSink ReaderSink = nullptr;

CRITICAL_SECTION OutLock;
INIT_ONCE OutLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitOutLock(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&OutLock);
    // Full buffering: the main thread flushes a few times a second.
    setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    return TRUE;
}

BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        StopRequested = true;
        return TRUE;
    }
    return FALSE;
}

// Waits for the pending operation on ReaderOverlapped, calling the sink
// with an empty chunk every 100 ms of quiet. False when the operation failed
// or the reader is told to stop (the operation is then cancelled and over).
bool AwaitReaderOperation(DWORD *transferred)
{
    while (WaitForSingleObject(ReaderOverlapped.hEvent, 100) == WAIT_TIMEOUT) {
        if (ReaderStop) {
            // A character wait is ended by clearing the event mask: Wine
            // does not cancel it otherwise, and on a port that really waits
            // (not a bare pty) the thread would never return.
            SetCommMask(Port, 0);
            CancelIoEx(Port, &ReaderOverlapped);
            GetOverlappedResult(Port, &ReaderOverlapped, transferred, TRUE);
            return false;
        }
        ReaderSink(nullptr, 0, Now());
    }
    return GetOverlappedResult(Port, &ReaderOverlapped, transferred, FALSE) != FALSE;
}

void ReportReadFailure(DWORD error, DWORD *last_error)
{
    // Say so once per kind of failure, not at every retry.
    if (error != *last_error)
        fprintf(stderr, "warning: reading the port failed (error %lu)\n", error);
    *last_error = error;
}

// The receive loop of the benches themselves: wait for a received
// character, then read what the driver holds. With read time-outs of
// MAXDWORD / 0 / 0 the read returns at once on Windows; under Wine, whose
// character wait on a pty ends about every millisecond, the read itself
// waits for the first byte. Either way a chunk is stamped the moment it is
// there.
DWORD WINAPI ReaderThreadProc(LPVOID)
{
    uint8_t buffer[4096];
    ScopedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    DWORD last_error = 0;
    while (!ReaderStop) {
        std::memset(&ReaderOverlapped, 0, sizeof ReaderOverlapped);
        ReaderOverlapped.hEvent = event.get();
        DWORD mask = 0;
        DWORD got = 0;
        if (!WaitCommEvent(Port, &mask, &ReaderOverlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                ReportReadFailure(error, &last_error);
                Sleep(10);
                continue;
            }
            // A cancelled wait (Wine) is no failure: the read below waits.
            if (!AwaitReaderOperation(&got) && ReaderStop)
                break;
        }
        got = 0;
        if (!ReadFile(Port, buffer, sizeof buffer, &got, &ReaderOverlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                ReportReadFailure(error, &last_error);
                Sleep(10);
                continue;
            }
            if (!AwaitReaderOperation(&got)) {
                if (ReaderStop)
                    break;
                if (GetLastError() != ERROR_OPERATION_ABORTED)
                    ReportReadFailure(GetLastError(), &last_error);
                continue;
            }
        }
        if (got > 0)
            ReaderSink(buffer, got, Now());
    }
    return 0;
}

} // namespace

double Now()
{
    static LARGE_INTEGER frequency;
    static LARGE_INTEGER origin;
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(
        &once,
        [](PINIT_ONCE, PVOID, PVOID *) -> BOOL {
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&origin);
            return TRUE;
        },
        nullptr, nullptr);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - origin.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Out(const char *format, ...)
{
    InitOnceExecuteOnce(&OutLockOnce, InitOutLock, nullptr, nullptr);
    EnterCriticalSection(&OutLock);
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    LeaveCriticalSection(&OutLock);
}

void OutFlush()
{
    InitOnceExecuteOnce(&OutLockOnce, InitOutLock, nullptr, nullptr);
    EnterCriticalSection(&OutLock);
    fflush(stdout);
    LeaveCriticalSection(&OutLock);
}

void InstallStopHandler()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // 1 ms sleeps, for pacing at high line rates.
    timeBeginPeriod(1);
    Now();
}

bool SleepUnlessStopped(double seconds)
{
    const double end = Now() + seconds;
    while (!StopRequested) {
        OutFlush();
        const double left = end - Now();
        if (left <= 0)
            return true;
        Sleep(left > 0.05 ? 50 : static_cast<DWORD>(left * 1000) + 1);
    }
    return false;
}

bool PortOpen(const char *name, uint32_t baud, std::string *error)
{
    std::string path = name;
    if (path.compare(0, 4, "\\\\.\\") != 0)
        path = "\\\\.\\" + path;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        char text[160];
        snprintf(text, sizeof text, "cannot open %s (error %lu)", path.c_str(), GetLastError());
        *error = text;
        return false;
    }
    SetCommMask(h, EV_RXCHAR);
    SetupComm(h, 8192, 8192);
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(h, &timeouts);
    // The same whole line state as the programs: a port left with flow
    // control on by another program would swallow 0x11/0x13 or hold writes.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    ApplyLineState(BenchLineState(baud), &dcb);
    if (!SetCommState(h, &dcb))
        fprintf(stderr, "warning: %s refused %u bit/s (error %lu); the port keeps its previous rate\n", path.c_str(),
                baud, GetLastError());
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    Port = h;
    return true;
}

size_t PortWrite(const uint8_t *data, size_t length, DWORD timeout_ms)
{
    if (Port == INVALID_HANDLE_VALUE || length == 0)
        return 0;
    ScopedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov = {};
    ov.hEvent = event.get();
    DWORD written = 0;
    if (WriteFile(Port, data, static_cast<DWORD>(length), &written, &ov))
        return written;
    if (GetLastError() != ERROR_IO_PENDING)
        return 0;
    if (WaitForSingleObject(event.get(), timeout_ms) != WAIT_OBJECT_0)
        CancelIoEx(Port, &ov);
    // Wait for the end in every case: the driver owns ov and data until then.
    if (!GetOverlappedResult(Port, &ov, &written, TRUE))
        return written;
    return written;
}

bool StartReader(ChunkSink sink)
{
    ReaderSink = sink;
    ReaderStop = false;
    ReaderThread = CreateThread(nullptr, 0, ReaderThreadProc, nullptr, 0, nullptr);
    return ReaderThread != nullptr;
}

void StopReader()
{
    if (!ReaderThread)
        return;
    ReaderStop = true;
    // The thread looks at the flag at least every 100 ms.
    WaitForSingleObject(ReaderThread, INFINITE);
    CloseHandle(ReaderThread);
    ReaderThread = nullptr;
}

void PortClose()
{
    if (Port == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(Port);
    Port = INVALID_HANDLE_VALUE;
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto seconds = [](const FILETIME &t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace sim
