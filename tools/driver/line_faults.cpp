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

std::string LineFault(const char *request, unsigned port)
{
    const std::string dir = BENCH_LINE_FAULTS_DIR;
    const std::string path = dir + "/" + request + std::to_string(port);
    const std::string done = path + ".done";
    DeleteFileA(done.c_str());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cannot write the request " + path;
    CloseHandle(file);
    for (int i = 0; i < 1000; ++i) { // 10 s
        HANDLE answer = CreateFileA(done.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (answer != INVALID_HANDLE_VALUE) {
            char text[256] = {};
            DWORD n = 0;
            ReadFile(answer, text, sizeof text - 1, &n, nullptr);
            CloseHandle(answer);
            DeleteFileA(done.c_str());
            std::string s(text, n);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
                s.pop_back();
            return s;
        }
        Sleep(10);
    }
    return std::string("no answer to ") + request + std::to_string(port) +
           " (is wine-run-line-faults.sh running the test?)";
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
