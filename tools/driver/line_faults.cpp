#include "tools/driver/line_faults.h"

#include <cstdio>

namespace faults {

double NowMs()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

bool Running(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

double RoundTripMs(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD timeout_ms)
{
    DWORD_PTR result = 0;
    const double start = NowMs();
    if (!SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, timeout_ms, &result))
        return -1;
    return NowMs() - start;
}

ResponsivenessProbe::ResponsivenessProbe(HWND window, DWORD interval_ms) : window_(window), interval_ms_(interval_ms)
{
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            const double ms = RoundTripMs(window_, WM_NULL, 0, 0);
            if (ms < 0) {
                hangs_++;
            } else {
                answers_++;
                if (ms > longest_ms_.load())
                    longest_ms_.store(ms);
            }
            Sleep(interval_ms_);
        }
    });
}

void ResponsivenessProbe::Stop()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

} // namespace faults
