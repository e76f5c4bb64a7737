// What the fault tests share: asking the harness for a fault on the line,
// and watching the program's GUI thread while the fault lasts.
//
// The tests run under with-com-pairs.sh with wine-run-line-faults.sh in
// place of cmake/wine-run.sh. A test asks for a fault by writing a request
// file into the directory that script watches (BENCH_LINE_FAULTS_DIR, on
// Wine's Z: drive) and waits for its answer: see the script for the
// requests (cutN, joinN, holdN, releaseN).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace faults {

// Sends one request ("cut", 3) and waits for its answer; returns the answer
// ("ok" when the fault is in place), or why there was none.
std::string LineFault(const char *request, unsigned port);

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
