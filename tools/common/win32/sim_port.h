// Console, clock and COM port plumbing of the simulators (Win32).
//
// Each simulator has one port, one reader thread and a main thread that
// writes. The port is opened overlapped so that a read can wait while the
// main thread writes. The reader waits for a received character and then
// reads what the driver holds (read time-outs MAXDWORD / 0 / 0), the way the
// benches do; it works on Windows and under Wine, whose character wait on a
// pty ends early but whose read then waits for the first byte. While waiting
// it wakes every 100 ms to tell the sink that the line is quiet (that is
// when a half-received frame is handed out as other bytes) and to notice a
// stop. Each chunk is time-stamped with the performance counter as soon as
// its read completes, so latency figures do not include the printing.
//
// Output from both threads goes through Out, under one lock, into a fully
// buffered stdout that the main thread flushes a few times a second: per-frame
// lines at thousands of frames a second must not pace the sender.
#pragma once

#include "tools/common/sim_frames.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE h) : handle_(h) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle &) = delete;
    ScopedHandle &operator=(const ScopedHandle &) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE h = nullptr)
    {
        if (valid())
            CloseHandle(handle_);
        handle_ = h;
    }

private:
    HANDLE handle_ = nullptr;
};

// Seconds since the first call, from QueryPerformanceCounter.
double Now();

// printf to stdout under one lock; callable from any thread.
void Out(const char *format, ...) SIM_PRINTF_FORMAT(1, 2);
void OutFlush();

// Set by Ctrl+C, Ctrl+Break or a console close (handler thread); the main
// loops read it.
extern std::atomic<bool> StopRequested;
void InstallStopHandler();

// Sleeps until StopRequested or the time has passed, flushing the output
// as it goes; false if stopped.
bool SleepUnlessStopped(double seconds);

// Opens "COM13" (or a full "\\.\COM13" path) overlapped at baud, 8N1, no
// flow control. A baud rate the driver refuses is reported on stderr as a
// warning and the port stays open at its previous rate (a pty ignores the
// rate anyway). False with a message when the port cannot be opened.
bool PortOpen(const char *name, uint32_t baud, std::string *error);

// Writes the whole buffer with one overlapped write and waits for it to end
// (at most timeout_ms; a write still pending then is cancelled and waited
// for). Returns the bytes the driver took.
size_t PortWrite(const uint8_t *data, size_t length, DWORD timeout_ms = 5000);

// Reader thread sink: called on the reader thread for each chunk with the
// time its read completed, and with length 0 (data null) every 100 ms that
// a wait goes on.
using ChunkSink = void (*)(const uint8_t *data, size_t length, double when);

bool StartReader(ChunkSink sink);
void StopReader(); // ends the thread within about 100 ms and joins it
void PortClose();

// User plus kernel CPU seconds of this process so far.
double ProcessCpuSeconds();

} // namespace sim
