// How long Tarnwick's batch check takes on the GUI thread while 3000 tags
// report at the line rate: 3000 expected IDs judged against the full table
// once a second.
//
//   tools/driver/with-com-pairs.sh --build-dir build/mingw 3:300 --
//       build/mingw/tools/measure/tarnwick_accept_measure.exe
//       --sim 'Z:\...\SimReader.exe' [--seconds S]
//   (one command line)
//
// Tarnwick opens COM3 at 115200; SimReader on COM300 sends IDs 1 to 3000 in
// turn paced at the 921600 bit/s line rate (over a pty the port's speed
// does not limit the rate; 7680 reports/s) for the whole run. Once the table
// holds 3000 tags, 批量验收… checks the range 1 to 3000 and the times the
// window shows of each refresh (the copy of the table and the merge; the
// whole refresh with the window's updates) are read once a second for S
// seconds (default 20) in two phases: every tag passing (an empty list of
// failures), then every tag failing (最低信号 0 dB: 3000 rows in the list).
// Printed per phase: samples, median, 95th percentile and longest of both
// times, with WM_NULL round trips to the batch check window beside them.
// Figures only; nothing passes or fails on them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/common/sim_plan.h"
#include "tools/driver/line_faults.h"
#include "tools/driver/tarnwick_accept_driver.h"
#include "tools/driver/tarnwick_e2e.h"

namespace {

using namespace tarnwick;

void Phase(const char *name, HWND w, double seconds)
{
    std::vector<double> judge, refresh, round_trip;
    std::string last;
    const double end = faults::NowMs() + seconds * 1000;
    while (faults::NowMs() < end) {
        Sleep(250);
        const double ms = faults::RoundTripMs(w, WM_NULL, 0, 0, 5000);
        if (ms >= 0)
            round_trip.push_back(ms);
        const std::string text = accept::Text(w, accept::kTiming);
        if (text == last)
            continue; // the same refresh
        last = text;
        const double j = accept::LastJudgeMs(w);
        const double r = accept::LastRefreshMs(w);
        if (j >= 0 && r >= 0) {
            judge.push_back(j);
            refresh.push_back(r);
        }
    }
    std::printf("%s: %zu refreshes; judgement (copy + merge) median %.2f ms, p95 %.2f, longest %.2f; "
                "whole refresh median %.2f ms, p95 %.2f, longest %.2f; WM_NULL round trip median %.2f ms, "
                "longest %.2f\n",
                name, judge.size(), sim::Median(judge), sim::Percentile(judge, 95), sim::Percentile(judge, 100),
                sim::Median(refresh), sim::Percentile(refresh, 95), sim::Percentile(refresh, 100),
                sim::Median(round_trip), sim::Percentile(round_trip, 100));
    std::printf("  counts: %s\n", accept::CountsLine(w).c_str());
    std::fflush(stdout);
}

int Fail(const char *what)
{
    std::printf("tarnwick_accept_measure: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string sim;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--sim")
            sim = argv[i + 1];
        else if (arg == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else
            return Fail("usage: --sim SimReader.exe [--seconds S]");
    }
    if (sim.empty())
        return Fail("usage: --sim SimReader.exe [--seconds S]");

    RemoveForeignComPorts();
    Tarnwick t;
    if (!t.Start() || !t.ChoosePort(3) || !t.ChooseSpeed("115200"))
        return Fail("Tarnwick did not start with COM3");
    t.PressPortButton();
    Simulator reader;
    char args[160];
    std::snprintf(args, sizeof args,
                  "--port COM300 --baud 921600 --count 3000 --first 1 --line-rate --quiet --duration %.0f",
                  2 * seconds + 60);
    char log[MAX_PATH] = {};
    GetTempPathA(sizeof log, log);
    const std::string log_path = std::string(log) + "tarnwick_accept_measure-sim.log";
    if (!reader.Start(sim, args, log_path))
        return Fail("SimReader did not start");
    std::printf("SimReader %s, its output in %s\n", args, log_path.c_str());
    if (!gui::WaitUntil([&] { return t.Labels()[1] == "3000"; }, 30000))
        return Fail("the table did not reach 3000 tags");
    std::printf("3000 tags reporting at the 921600 bit/s line rate; %.0f s per phase\n", seconds);

    HWND w = accept::Open(t.main, t.program.pid(), kTimeoutMs);
    if (w == nullptr)
        return Fail("批量验收… did not open");
    accept::UseRange(w, 1, 3000);
    if (!gui::WaitUntil([&] { return accept::Counts(w)[0] == "3000"; }, kTimeoutMs))
        return Fail("the range was not taken");
    Phase("3000 expected, all passing", w, seconds);
    accept::SetText(w, accept::kMinSignal, "0");
    Phase("3000 expected, all failing", w, seconds);
    accept::SetText(w, accept::kMinSignal, "-80");

    PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    t.PressPortButton();
    std::printf("done: %s\n", t.Quit() ? "Tarnwick ended" : "Tarnwick did not end cleanly");
    return 0;
}
