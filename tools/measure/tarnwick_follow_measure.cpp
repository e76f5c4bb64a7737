// How quickly Tarnwick's window answers with follow windows open while 3000
// tags report at the line rate, against the same run without them.
//
//   tools/driver/with-com-pairs.sh --build-dir build/mingw 3:300 --
//       build/mingw/tools/measure/tarnwick_follow_measure.exe
//       --sim 'Z:\...\SimReader.exe' [--seconds S] [--windows N]
//   (one command line)
//
// Tarnwick opens COM3 at 115200; SimReader on COM300 sends IDs 1 to 3000 in
// turn paced at the 921600 bit/s line rate (over a pty the port's speed
// does not limit the rate; 7680 reports/s) for the whole run. Once the table
// holds 3000 tags, WM_NULL round trips to the main window (SendMessageTimeout,
// one every 20 ms) are timed for S seconds (default 20) in three phases: no
// follow window (the same-run floor), N follow windows open (default 3,
// opened with 查找标签… and 跟踪 on tags spread over the table), and none
// again. Printed per phase: probes, median, 95th and 99th percentile and the
// longest round trip, and the medians and 99th percentiles as ratios to the
// first phase. Figures only; nothing passes or fails on them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/common/sim_plan.h"
#include "tools/driver/line_faults.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/driver/tarnwick_follow_driver.h"

namespace {

using namespace tarnwick;

struct Figures {
    size_t probes = 0;
    double median = 0, p95 = 0, p99 = 0, longest = 0;
    int unanswered = 0;
};

Figures Probe(HWND window, double seconds)
{
    std::vector<double> samples;
    Figures f;
    const double end = faults::NowMs() + seconds * 1000;
    while (faults::NowMs() < end) {
        const double ms = faults::RoundTripMs(window, WM_NULL, 0, 0, 5000);
        if (ms < 0)
            ++f.unanswered;
        else
            samples.push_back(ms);
        Sleep(20);
    }
    f.probes = samples.size();
    f.median = sim::Median(samples);
    f.p95 = sim::Percentile(samples, 95);
    f.p99 = sim::Percentile(samples, 99);
    f.longest = sim::Percentile(samples, 100);
    return f;
}

void Print(const char *phase, const Figures &f, const Figures &floor)
{
    std::printf("%-28s %5zu probes, median %6.2f ms, p95 %6.2f, p99 %6.2f, longest %7.2f ms, unanswered %d;"
                " median x%.2f, p99 x%.2f of the floor\n",
                phase, f.probes, f.median, f.p95, f.p99, f.longest, f.unanswered,
                floor.median > 0 ? f.median / floor.median : 0, floor.p99 > 0 ? f.p99 / floor.p99 : 0);
    std::fflush(stdout);
}

int Fail(const char *what)
{
    std::printf("tarnwick_follow_measure: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string sim;
    double seconds = 20;
    int windows = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--sim")
            sim = argv[i + 1];
        else if (arg == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (arg == "--windows")
            windows = std::atoi(argv[i + 1]);
        else
            return Fail("usage: --sim SimReader.exe [--seconds S] [--windows N]");
    }
    if (sim.empty())
        return Fail("usage: --sim SimReader.exe [--seconds S] [--windows N]");

    RemoveForeignComPorts();
    Tarnwick t;
    if (!t.Start() || !t.ChoosePort(3) || !t.ChooseSpeed("115200"))
        return Fail("Tarnwick did not start with COM3");
    t.PressPortButton();
    Simulator reader;
    const double run_s = 3 * seconds + 60;
    char args[160];
    std::snprintf(args, sizeof args,
                  "--port COM300 --baud 921600 --count 3000 --first 1 --line-rate --quiet --duration %.0f", run_s);
    char log[MAX_PATH] = {};
    GetTempPathA(sizeof log, log);
    const std::string log_path = std::string(log) + "tarnwick_follow_measure-sim.log";
    if (!reader.Start(sim, args, log_path))
        return Fail("SimReader did not start");
    std::printf("SimReader %s, its output in %s\n", args, log_path.c_str());
    if (!gui::WaitUntil([&] { return t.Labels()[1] == "3000"; }, 30000))
        return Fail("the table did not reach 3000 tags");
    std::printf("3000 tags reporting at the 921600 bit/s line rate; %.0f s per phase\n", seconds);

    const Figures floor = Probe(t.main, seconds);
    Print("no follow window", floor, floor);
    std::vector<HWND> opened;
    for (int i = 0; i < windows; ++i) {
        const uint32_t id = static_cast<uint32_t>(1 + (i * 2999) / (windows > 1 ? windows - 1 : 1));
        HWND w = follow::FollowThroughFindBox(t.main, t.program.pid(), id, kTimeoutMs);
        if (w != nullptr)
            opened.push_back(w);
    }
    char phase[64];
    std::snprintf(phase, sizeof phase, "%zu follow windows", opened.size());
    Print(phase, Probe(t.main, seconds), floor);
    for (HWND w : opened)
        PostMessageA(w, WM_CLOSE, 0, 0);
    Sleep(500);
    Print("no follow window, again", Probe(t.main, seconds), floor);

    t.PressPortButton();
    std::printf("done: %s\n", t.Quit() ? "Tarnwick ended" : "Tarnwick did not end cleanly");
    return 0;
}
