// Watching a program's GUI thread from outside while its line is loaded:
// whether the process still runs, and how long its window takes to answer.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace faults {

// A monotonic clock in milliseconds (the performance counter).
double NowMs();

// The program's process still runs.
bool Running(HANDLE process);

// One round trip of a message to window: the milliseconds it took for the
// window's thread to answer, or -1 when it did not answer within timeout_ms.
double RoundTripMs(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD timeout_ms = 10000);

// Sends WM_NULL to a window every interval_ms from a thread of its own and
// keeps the longest round trip, until Stop(). A round trip that does not end
// within 10 s counts as a hang.
class ResponsivenessProbe {
public:
    explicit ResponsivenessProbe(HWND window, DWORD interval_ms = 20);
    ~ResponsivenessProbe() { Stop(); }
    ResponsivenessProbe(const ResponsivenessProbe &) = delete;
    ResponsivenessProbe &operator=(const ResponsivenessProbe &) = delete;

    void Stop();
    double LongestMs() const { return longest_ms_.load(); }
    int Answers() const { return answers_.load(); }
    int Hangs() const { return hangs_.load(); }

private:
    HWND window_;
    DWORD interval_ms_;
    // Written by the probe thread, read by the test thread.
    std::atomic<double> longest_ms_{0};
    std::atomic<int> answers_{0};
    std::atomic<int> hangs_{0};
    // Written by the test thread.
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Milliseconds from the performance counter.
double NowMs();

} // namespace faults
