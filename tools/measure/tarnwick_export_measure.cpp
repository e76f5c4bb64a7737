// How long Tarnwick's 导出标签表… takes with a full table, under Wine.
//
//   tools/driver/with-com-pairs.sh 3:300 -- tarnwick_export_measure.exe [runs]
//
// Fills Tarnwick's table with 3000 distinct tags from the reader's end of the
// COM3-COM300 cable, closes the port (the table stays), then exports it
// `runs` times (default 5) through the system menu and the Save As dialog.
// Printed per run: from pressing Save to the dialog being gone (the file is
// written after that, on the same thread), and to the complete file being
// in place (the rename makes it appear whole). Figures only; nothing passes
// or fails on them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_e2e.h"

namespace {

constexpr DWORD kWaitMs = 30000;

double Ms(const LARGE_INTEGER &from, const LARGE_INTEGER &to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

} // namespace

int main(int argc, char **argv)
{
    using namespace tarnwick;
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    RemoveForeignComPorts();
    TestComPort reader(300);
    Tarnwick bench;
    if (!reader.IsOpen() || !bench.Start() || !bench.ChoosePort(3)) {
        std::fprintf(stderr, "set-up failed (COM3-COM300 cable, Tarnwick)\n");
        return 2;
    }
    bench.PressPortButton();
    // Paced at about the 115200 bit/s line rate: over a pty nothing else
    // limits the rate, and a reader never sends faster than its line. A
    // report lost on the way is sent again in the next pass.
    for (int pass = 0; pass < 5 && bench.Labels()[1] != "3000"; ++pass) {
        std::vector<uint8_t> burst;
        for (uint32_t id = 1; id <= 3000; ++id) {
            const std::vector<uint8_t> f = TagReport(Header::kFF, id, id % 5 == 0, -40, {0x12, 0x34});
            burst.insert(burst.end(), f.begin(), f.end());
            if (id % 10 == 0) {
                reader.Write(burst, kWaitMs);
                burst.clear();
                Sleep(13);
            }
        }
        gui::WaitUntil([&] { return bench.Labels()[1] == "3000"; }, 3000);
    }
    if (bench.Labels()[1] != "3000") {
        std::fprintf(stderr, "the table did not reach 3000 tags (%s)\n", bench.Labels()[1].c_str());
        return 2;
    }
    bench.PressPortButton();

    const std::string folder = save_as::MakeEmptyFolder("tarnwick-export-measure");
    const DWORD pid = bench.program.pid();
    std::printf("export of 3000 tags, %d runs (ms): press Save -> dialog gone, -> file complete; size\n", runs);
    for (int run = 0; run < runs; ++run) {
        HWND dialog = save_as::OpenFromSystemMenu(bench.main, pid, kWaitMs);
        if (dialog == nullptr) {
            std::fprintf(stderr, "no Save As dialog\n");
            return 2;
        }
        const std::string path = folder + "\\run" + std::to_string(run) + ".csv";
        LARGE_INTEGER start, closed, written;
        QueryPerformanceCounter(&start);
        save_as::SaveTo(dialog, path);
        save_as::WaitDialogsGone(pid, kWaitMs);
        QueryPerformanceCounter(&closed);
        std::string file;
        gui::WaitUntil([&] { return save_as::ReadFileBytes(path, &file); }, kWaitMs);
        QueryPerformanceCounter(&written);
        std::printf("  run %d: %.1f  %.1f  %zu bytes\n", run + 1, Ms(start, closed), Ms(start, written), file.size());
    }
    bench.Quit();
    return 0;
}
