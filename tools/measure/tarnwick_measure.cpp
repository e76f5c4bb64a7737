// TarnwickMeasure: drives Tarnwick for scripts/measure-tarnwick and prints
// what the dialog shows; it asserts nothing.
//
//   tarnwick_measure.exe load     --sim SimReader.exe --sim-log FILE --sim-args "..."
//   tarnwick_measure.exe idle     --seconds S
//   tarnwick_measure.exe idle-closed --seconds S
//   tarnwick_measure.exe reminder --sim SimReader.exe --sim-log FILE --sim-args "..." --seconds S
//
// Every mode but idle-closed starts Tarnwick, chooses COM3 at 115200 in the
// dialog and opens it, and prints "ready" once the port is open. Run under with-com-pairs.sh
// with the cable 3:300; the simulated reader goes on COM300.
//
// load: starts the simulated reader with the given arguments (its output to
//   FILE), waits for it to end, then pages through the whole grid with
//   下一页 and prints the number of rows read, the tag total and the sum of
//   the activity column: the reports Tarnwick entered into its table. The
//   port is closed first (the table stays on show): a tag silent for ten
//   ticks of an open port would go offline and restart its activity count,
//   and reading 250 pages across processes takes longer than that.
// idle: keeps the port open for S seconds, then ends Tarnwick; the script
//   measures the process from outside meanwhile. idle-closed: the same
//   without opening the port (Tarnwick's own polling threads alone).
// reminder: starts the simulated reader, gives it a second to report, then
//   starts a reminder for IDs 1000 to 1079 (green lamp and buzzer), stops it
//   after S seconds and waits for the reader to end; the reader's log holds
//   the frames with their arrival times.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/driver/tarnwick_e2e.h"

namespace {

using namespace tarnwick;

struct Options {
    std::string mode;
    std::string sim;
    std::string sim_args;
    std::string sim_log;
    double seconds = 20;
};

bool Parse(int argc, char **argv, Options *o)
{
    if (argc < 2)
        return false;
    o->mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--sim")
            o->sim = argv[i + 1];
        else if (arg == "--sim-args")
            o->sim_args = argv[i + 1];
        else if (arg == "--sim-log")
            o->sim_log = argv[i + 1];
        else if (arg == "--seconds")
            o->seconds = std::atof(argv[i + 1]);
        else
            return false;
    }
    if (o->mode == "idle" || o->mode == "idle-closed")
        return true;
    return (o->mode == "load" || o->mode == "reminder") && !o->sim.empty() && !o->sim_log.empty();
}

// Dialog texts come in the ANSI code page (936); the log is UTF-8.
std::string Utf8(const std::string &ansi)
{
    wchar_t wide[256] = {};
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 256);
    char out[768] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

// Pages from page 0 to the last and adds up the activity column.
void ReadOutGrid(const Tarnwick &t)
{
    // Nobody has paged since the port opened: this is page 0.
    const DWORD started = GetTickCount();
    long long rows = 0, activity = 0, offline_rows = 0, out_of_order = 0;
    long long expected_index = 1;
    int pages = 0;
    for (;;) {
        ++pages;
        for (int r = 0; r < kRows; ++r) {
            const std::string index = t.Cell(r, 0);
            if (index.empty())
                break;
            ++rows;
            if (std::atoll(index.c_str()) != expected_index)
                ++out_of_order;
            expected_index = std::atoll(index.c_str()) + 1;
            activity += std::atoll(t.Cell(r, 5).c_str());
            if (t.Cell(r, 4).empty())
                ++offline_rows;
        }
        const std::string first = t.Cell(0, 0);
        gui::Click(t.dialog, kNextPage);
        if (t.Cell(0, 0) == first)
            break; // the last page: 下一页 did nothing
    }
    std::printf("grid: %d pages, %lld rows, activity sum %lld, offline rows %lld, rows out of sequence %lld\n",
                pages, rows, activity, offline_rows, out_of_order);
    std::printf("grid: labels %s / %s / %s, read in %lu ms\n", Utf8(gui::Text(t.dialog, kReaderLabel)).c_str(),
                gui::Text(t.dialog, kTotalLabel).c_str(), gui::Text(t.dialog, kOfflineLabel).c_str(),
                static_cast<unsigned long>(GetTickCount() - started));
}

int Fail(const char *what)
{
    std::printf("TarnwickMeasure: %s\n", what);
    std::fflush(stdout);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!Parse(argc, argv, &o))
        return Fail("usage: load|idle|idle-closed|reminder --sim EXE --sim-log FILE --sim-args \"...\" --seconds S");
    RemoveForeignComPorts();
    Tarnwick t;
    if (!t.Start())
        return Fail("Tarnwick did not start");
    if (o.mode == "idle-closed") {
        std::printf("ready: Tarnwick pid %lu, no port open\n", static_cast<unsigned long>(t.program.pid()));
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(o.seconds * 1000));
        std::printf("done: %s\n", t.Quit() ? "Tarnwick ended" : "Tarnwick did not end cleanly");
        return 0;
    }
    if (!t.ChoosePort(3) || !t.ChooseSpeed("115200"))
        return Fail("COM3 or 115200 not offered");
    t.PressPortButton();
    if (gui::Text(t.dialog, kPortButton) != "关闭串口")
        return Fail("COM3 did not open");
    std::printf("ready: Tarnwick pid %lu, COM3 open at 115200\n", static_cast<unsigned long>(t.program.pid()));
    std::fflush(stdout);

    if (o.mode == "idle") {
        Sleep(static_cast<DWORD>(o.seconds * 1000));
    } else {
        Simulator sim;
        if (!sim.Start(o.sim, o.sim_args, o.sim_log))
            return Fail("the simulated reader did not start");
        if (o.mode == "load") {
            if (!sim.Wait(static_cast<DWORD>(o.seconds * 1000) + 120000))
                return Fail("the simulated reader did not end");
            Sleep(500); // the last frames through the rings and into the table
            std::printf("before closing: labels %s / %s / %s\n", Utf8(gui::Text(t.dialog, kReaderLabel)).c_str(),
                        gui::Text(t.dialog, kTotalLabel).c_str(), gui::Text(t.dialog, kOfflineLabel).c_str());
            // Closing stops the ageing, so no tag goes offline (which would
            // restart its activity count) while the pages are read; the table
            // stays on show until the next open.
            t.PressPortButton();
            ReadOutGrid(t);
        } else {
            Sleep(1500); // the reader's first report sets the header kind
            t.TypeInto(kStartIdEdit, "1000");
            t.TypeInto(kQuantityEdit, "80");
            t.SetCheck(kGreenCheck, true);
            t.SetCheck(kRedCheck, false);
            t.SetCheck(kBuzzerCheck, true);
            gui::Click(t.dialog, kReminderButton);
            std::printf("reminder started: %s\n", gui::Text(t.dialog, kReminderButton).c_str());
            std::fflush(stdout);
            Sleep(static_cast<DWORD>(o.seconds * 1000));
            gui::Click(t.dialog, kReminderButton);
            std::printf("reminder stopped: %s\n", gui::Text(t.dialog, kReminderButton).c_str());
            sim.Wait(60000);
        }
    }
    if (gui::Text(t.dialog, kPortButton) == "关闭串口")
        t.PressPortButton();
    std::printf("done: %s\n", t.Quit() ? "Tarnwick ended" : "Tarnwick did not end cleanly");
    std::fflush(stdout);
    return 0;
}
