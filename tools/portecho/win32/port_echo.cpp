// PortEcho: the smallest program that reads a COM port the way the benches
// do, as the floor for measurements under Wine (or on Windows).
//
// Usage: PortEcho --port COMn [--baud B] [--echo | --idle] [--duration S]
//
//   --echo        write every chunk read straight back (one overlapped write,
//                 at most 1000 ms of waiting), so SimModule --latency against
//                 it measures the platform's own round trip
//   --idle        only wait and read (default): its CPU time per second with
//                 the port open is the platform's own share
//   --duration S  run S seconds, then print the report and exit (default:
//                 until Ctrl+C)
//   --baud B      line rate, 8N1 (default 115200)
//
// The port is opened and read exactly as the benches' receive thread does
// it: overlapped, EV_RXCHAR mask, 2048-byte queues, read time-outs MAXDWORD /
// 0 / 0, then for ever WaitCommEvent + GetOverlappedResult, ReadFile of up to
// 1024 bytes + GetOverlappedResult, a 1 ms pause after a failed call. Nothing
// else runs. The report gives chunks and bytes read and written, the passes
// that read nothing, the character waits that ended without the event (a
// driver that cancels its waits shows there), and the process CPU time per
// second of run time.

#include <windows.h>

#include "serial/win32/line_state_win32.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] = "Usage: PortEcho --port COMn [--baud B] [--echo | --idle] [--duration S]\n"
                      "  --echo        write every chunk read straight back\n"
                      "  --idle        only wait and read (default)\n"
                      "  --duration S  run S seconds, then report and exit (default: until Ctrl+C)\n"
                      "  --baud B      line rate, 8N1 (default 115200)\n"
                      "Reads the port as the benches do (EV_RXCHAR wait, MAXDWORD/0/0 reads) and\n"
                      "reports chunks, bytes and the CPU time used per second.\n";

// Counters: written by the main (receive) thread, read by whichever thread
// prints the report as the process ends.
std::atomic<unsigned long long> ChunksIn{0}, BytesIn{0}, BytesOut{0}, EmptyPasses{0}, FailedCalls{0}, EndedWaits{0};
LARGE_INTEGER Frequency, Started;
std::atomic<bool> Reported{false};

void Report()
{
    if (Reported.exchange(true))
        return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double seconds = static_cast<double>(now.QuadPart - Started.QuadPart) / static_cast<double>(Frequency.QuadPart);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    printf("PortEcho: %.3f s, %llu chunks, %llu bytes in, %llu bytes out, %llu passes without data, %llu failed "
           "calls, %llu character waits ended without the event\n",
           seconds, ChunksIn.load(), BytesIn.load(), BytesOut.load(), EmptyPasses.load(), FailedCalls.load(),
           EndedWaits.load());
    printf("PortEcho: CPU %.1f ms user + %.1f ms kernel = %.2f ms per second of run time\n", ms(user), ms(kernel),
           seconds > 0 ? (ms(user) + ms(kernel)) / seconds : 0.0);
    fflush(stdout);
}

BOOL WINAPI OnConsoleControl(DWORD)
{
    Report();
    ExitProcess(0);
}

DWORD WINAPI StopAfter(LPVOID param)
{
    Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)));
    Report();
    ExitProcess(0);
}

void Echo(HANDLE port, const unsigned char *data, DWORD length)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov = {};
    ov.hEvent = event;
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(port, &errors, &status);
    DWORD written = 0;
    if (WriteFile(port, data, length, &written, &ov)) {
        BytesOut += written;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(event, 1000) != WAIT_OBJECT_0)
            CancelIoEx(port, &ov);
        if (GetOverlappedResult(port, &ov, &written, TRUE) || written)
            BytesOut += written;
    }
    CloseHandle(event);
}

} // namespace

int main(int argc, char **argv)
{
    const char *name = nullptr;
    unsigned long baud = 115200;
    bool echo = false;
    double duration = 0;
    for (int i = 1; i < argc; ++i) {
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!strcmp(argv[i], "--echo")) {
            echo = true;
        } else if (!strcmp(argv[i], "--idle")) {
            echo = false;
        } else if (!strcmp(argv[i], "--port") && value) {
            name = argv[++i];
        } else if (!strcmp(argv[i], "--baud") && value) {
            baud = strtoul(argv[++i], nullptr, 10);
        } else if (!strcmp(argv[i], "--duration") && value) {
            duration = atof(argv[++i]);
        } else {
            fputs(kUsage, strcmp(argv[i], "--help") ? stderr : stdout);
            return strcmp(argv[i], "--help") ? 2 : 0;
        }
    }
    if (!name || baud == 0) {
        fputs(kUsage, stderr);
        return 2;
    }
    char path[64];
    snprintf(path, sizeof path, strncmp(name, "\\\\.\\", 4) ? "\\\\.\\%s" : "%s", name);
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "PortEcho: cannot open %s (error %lu)\n", path, GetLastError());
        return 1;
    }
    SetCommMask(port, EV_RXCHAR);
    SetupComm(port, 2048, 2048);
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 100, 500};
    SetCommTimeouts(port, &timeouts);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    ApplyLineState(BenchLineState(baud), &dcb); // the programs' own line state
    SetCommState(port, &dcb);
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    QueryPerformanceFrequency(&Frequency);
    QueryPerformanceCounter(&Started);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    if (duration > 0)
        CloseHandle(CreateThread(nullptr, 0, StopAfter, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(duration * 1000)),
                                 0, nullptr));
    printf("PortEcho on %s at %lu bit/s, %s\n", path, baud, echo ? "echoing" : "idle (reading only)");
    fflush(stdout);

    unsigned char buffer[2048];
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov;
    for (;;) {
        std::memset(&ov, 0, sizeof ov);
        ov.hEvent = event;
        DWORD mask = 0;
        DWORD got = 0;
        if (!WaitCommEvent(port, &mask, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                ++FailedCalls;
                Sleep(1);
                continue;
            }
            if (!GetOverlappedResult(port, &ov, &got, TRUE) || !(mask & EV_RXCHAR))
                ++EndedWaits;
        }
        got = 0;
        if (!ReadFile(port, buffer, 1024, &got, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                ++FailedCalls;
                Sleep(1);
                continue;
            }
            GetOverlappedResult(port, &ov, &got, TRUE);
        }
        if (got == 0) {
            ++EmptyPasses;
            continue;
        }
        ++ChunksIn;
        BytesIn += got;
        if (echo)
            Echo(port, buffer, got);
    }
}
