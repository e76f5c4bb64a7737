// PellfrayBatchMeasure: how fast a batch configuration goes when the bench
// is not the bottleneck. Not a test: it prints figures and asserts nothing.
// Run it through scripts/measure-pellfray-batch, which supplies the COM pair
// and the programs.
//
//   PellfrayBatchMeasure PELLFRAY SIMMODULE TAGS PERIOD_MS SWAP_MS PAUSE
//
// Pellfray opens COM5 in tag mode; its batch window runs IDs 1..TAGS in 自动
// with PAUSE seconds, the journal in a new temporary folder. SimModule
// --tags TAGS --period PERIOD_MS --swap SWAP_MS plays the tags on COM305.
// All along, two threads send WM_NULL round trips to the batch window and to
// the main dialog every 20 ms; for the floor, the batch window gets them
// for 10 s before the tags start, with an ID armed and nothing on the line. At the end: SimModule's own summary (IDs in
// order, IDs given twice, seconds per tag), the window's counts, the
// journal's rows, the longest round trips, and the seconds per tag against
// the budget PERIOD + SWAP + PAUSE + 100 ms.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/driver/gui_driver.h"
#include "tools/driver/line_faults.h"
#include "tools/driver/pellfray_batch_driver.h"
#include "tools/driver/pellfray_session.h"
#include "tools/driver/save_as_driver.h"

namespace {

constexpr uint32_t kProductPort = 5;

std::string ReadText(const std::string &path)
{
    std::string bytes;
    save_as::ReadFileBytes(path, &bytes);
    return bytes;
}

std::string LinesWith(const std::string &text, const char *key)
{
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start + 1);
        if (line.find(key) != std::string::npos)
            out += line;
        start = end + 1;
    }
    return out;
}

int Count(const std::string &text, const std::string &key)
{
    int n = 0;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + key.size()))
        ++n;
    return n;
}

// Round trips to a window's thread, every 20 ms, on a thread of its own;
// every one kept, for the share over 100 ms and the high percentiles.
class Probe {
public:
    explicit Probe(HWND window) : window_(window), thread_(&Probe::Run, this) {}
    ~Probe() { Stop(); }
    void Stop()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }
    std::string Figures()
    {
        std::vector<double> ms = ms_;
        std::sort(ms.begin(), ms.end());
        if (ms.empty())
            return "no answers";
        const size_t over = static_cast<size_t>(std::count_if(ms.begin(), ms.end(), [](double v) { return v > 100; }));
        char text[200];
        std::snprintf(text, sizeof text, "%zu answers, %zu over 100 ms, median %.1f ms, p99 %.1f ms, longest %.1f ms",
                      ms.size(), over, ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
        return text;
    }

private:
    void Run()
    {
        while (!stop_.load()) {
            ms_.push_back(faults::RoundTripMs(window_, WM_NULL, 0, 0, 10000));
            Sleep(20);
        }
    }
    HWND window_;
    std::vector<double> ms_; // the probe thread's until Stop
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: PellfrayBatchMeasure PELLFRAY SIMMODULE TAGS PERIOD_MS SWAP_MS PAUSE\n");
        return 2;
    }
    const std::string pellfray = argv[1];
    const std::string sim = argv[2];
    const unsigned tags = static_cast<unsigned>(std::atoi(argv[3]));
    const double period_ms = std::atof(argv[4]);
    const double swap_ms = std::atof(argv[5]);
    const std::string pause = argv[6];
    const double pause_ms = std::atof(argv[6]) * 1000;

    gui::RemoveWineAutoCom1();
    pellfray::Session s;
    std::string why;
    if (!s.Start(pellfray.c_str(), &why)) {
        std::printf("cannot start Pellfray: %s\n", why.c_str());
        return 1;
    }
    const DWORD pid = s.program.pid();
    pellfray::SelectPort(s.dialog, kProductPort);
    gui::Click(s.dialog, IDC_PORT_BUTTON);
    gui::Click(s.dialog, IDC_TAG_MODE);
    HWND w = batch::Open(s.main, pid, 10000);
    if (w == nullptr) {
        std::printf("no batch window\n");
        return 1;
    }
    batch::Fields fields;
    fields.first = "1";
    fields.count = std::to_string(tags);
    fields.automatic = true;
    fields.pause = pause;
    batch::Fill(w, fields);
    const std::string folder = save_as::MakeEmptyFolder("pellfray-batch-measure");
    const std::string journal = folder + "\\journal.csv";
    if (!batch::Start(w, pid, journal, 30000) || !batch::WaitState(w, "等待标签唤醒", 10000)) {
        std::printf("the batch did not start: %s\n", save_as::AnsiToUtf8(batch::State(w)).c_str());
        return 1;
    }

    // The floor: the same windows with an ID armed and no traffic, on
    // this machine as loaded now.
    std::string floor;
    {
        Probe idle(w);
        Sleep(10000);
        idle.Stop();
        floor = idle.Figures();
    }
    Probe window_probe(w);
    Probe dialog_probe(s.dialog);
    const std::string log = folder + "\\simmodule.txt";
    char command[512];
    std::snprintf(command, sizeof command, "%s --port COM305 --role tag --tags %u --period %.0f --swap %.0f --quiet",
                  sim.c_str(), tags, period_ms, swap_ms);
    std::printf("simulator: %s\n", command);
    std::fflush(stdout);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    const double started = faults::NowMs();
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("cannot start the simulator\n");
        return 1;
    }
    CloseHandle(out);
    const double budget_ms = period_ms + swap_ms + pause_ms + 100;
    const DWORD limit = static_cast<DWORD>(tags * (budget_ms + 3000) + 10000);
    const bool ended = WaitForSingleObject(pi.hProcess, limit) == WAIT_OBJECT_0;
    const double elapsed = faults::NowMs() - started;
    if (!ended)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    window_probe.Stop();
    dialog_probe.Stop();

    const std::string sim_out = ReadText(log);
    const std::string rows = ReadText(journal);
    std::printf("%s", LinesWith(sim_out, "tags:").c_str());
    std::printf("simulator %s after %.1f s\n", ended ? "ended" : "was stopped", elapsed / 1000);
    std::printf("batch window: %s, %s, %s\n", save_as::AnsiToUtf8(batch::State(w)).c_str(),
                save_as::AnsiToUtf8(batch::Text(w, IDC_BATCH_PROGRESS)).c_str(),
                save_as::AnsiToUtf8(batch::Text(w, IDC_BATCH_RATE)).c_str());
    std::printf("journal: %d rows configured, %d rows not sent\n", Count(rows, u8",已配置\r\n"),
                Count(rows, u8"未能发出"));
    std::printf("GUI round trips (WM_NULL every 20 ms) during the batch: batch window %s\n",
                window_probe.Figures().c_str());
    std::printf("GUI round trips during the batch: main dialog %s\n", dialog_probe.Figures().c_str());
    std::printf("GUI round trips, 10 s before the batch's traffic (an ID armed, nothing on the line): batch window %s\n",
                floor.c_str());
    // "tags: 0.635 s per tag (...)"
    double seconds = 0;
    const size_t at = sim_out.find(" s per tag");
    if (at != std::string::npos) {
        const size_t from = sim_out.rfind("tags: ", at);
        if (from != std::string::npos)
            seconds = std::atof(sim_out.c_str() + from + 6);
    }
    std::printf("== %.0f ms per tag; budget (wake period %.0f + swap %.0f + pause %.0f + 100 ms) %.0f ms\n",
                seconds * 1000, period_ms, swap_ms, pause_ms, budget_ms);
    s.Close();
    return 0;
}
