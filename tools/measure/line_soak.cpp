// line_soak: runs one program for a long time under line-rate traffic and
// prints what it counted, for scripts/soak (which reads the process's memory
// from /proc at the marks printed here and judges the figures).
//
//   line_soak tarnwick --sim SimReader.exe --sim-log FILE --seconds S
//       Tarnwick opens COM3 at 115200 and runs the reminder for 80 tags
//       (IDs 1000-1079) while SimReader on COM303 sends 3000 distinct IDs in
//       turn at the line rate for S seconds. Afterwards the port is closed
//       (the table stays on show, no longer aged) and the whole grid is read
//       page by page: rows, distinct IDs and the sum of the activity column.
//   line_soak floor PortEcho.exe SimReader.exe SimModule.exe LOGDIR S
//       Wine's own share: PortEcho --idle on COM3 and on COM6 under the
//       same two simulators at once (see Floor below).
//   line_soak pellfray --sim SimModule.exe --sim-log FILE --seconds S
//       Pellfray opens COM6 in tag mode with a configuration armed (armed
//       again each time it was answered), sends hand-typed hex once a
//       second, and has a console client connected that counts the
//       messages it gets, while SimModule on COM306 sends wake-ups every
//       100 ms and 64-byte bursts at the line rate for S seconds. Afterwards
//       the counters and every log line are read back.
//
// Lines the script reads:
//   MARK warm|end pid=<pid> ...   sample the program's memory now
//   RESULT key=value ...          the figures
// Run under with-com-pairs.sh with the pairs 3:303 (tarnwick), 6:306
// (pellfray) or both (floor).
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "tools/driver/pellfray_session.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/line_faults.h"
#include "tools/driver/gui_driver.h"

namespace {

struct Options {
    std::string mode;
    std::string sim;
    std::string sim_log;
    double seconds = 60;
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
        else if (arg == "--sim-log")
            o->sim_log = argv[i + 1];
        else if (arg == "--seconds")
            o->seconds = std::atof(argv[i + 1]);
        else
            return false;
    }
    return (o->mode == "tarnwick" || o->mode == "pellfray") && !o->sim.empty() && !o->sim_log.empty() &&
           o->seconds > 0;
}

using tarnwick::Simulator; // a simulator whose output goes to a file

int Fail(const char *what)
{
    std::printf("RESULT error=\"%s\"\n", what);
    return 1;
}

// The longest answer of the GUI thread to WM_NULL, watched from a thread.
struct Watch {
    faults::ResponsivenessProbe probe;
    explicit Watch(HWND w) : probe(w, 200) {}
};

int SoakTarnwick(const Options &o)
{
    using namespace tarnwick;
    Tarnwick t;
    if (!t.Start())
        return Fail("Tarnwick did not start");
    if (!t.ChoosePort(3) || !t.ChooseSpeed("115200"))
        return Fail("COM3 or 115200 not offered");
    t.PressPortButton();
    if (gui::Text(t.dialog, kPortButton) != "关闭串口")
        return Fail("COM3 did not open");
    t.TypeInto(kStartIdEdit, "1000");
    t.TypeInto(kQuantityEdit, "80");
    gui::Click(t.dialog, kReminderButton);
    if (gui::Text(t.dialog, kReminderButton) != "停止")
        return Fail("the reminder did not start");

    Simulator sim;
    char args[256];
    std::snprintf(args, sizeof args, "--port COM303 --count 3000 --first 1 --line-rate --duration %.0f --quiet",
                  o.seconds);
    if (!sim.Start(o.sim, args, o.sim_log))
        return Fail("SimReader did not start");
    Watch watch(t.dialog);
    const DWORD started = GetTickCount();
    const DWORD warm_at = static_cast<DWORD>(o.seconds * 100); // a tenth of the run
    Sleep(warm_at < 5000 ? 5000 : warm_at);
    std::printf("MARK warm pid=%lu total=%s\n", static_cast<unsigned long>(t.program.pid()),
                gui::Text(t.dialog, kTotalLabel).c_str());
    std::fflush(stdout);
    if (!sim.Wait(static_cast<DWORD>(o.seconds * 1000) + 60000))
        return Fail("SimReader did not end");
    std::printf("MARK end pid=%lu total=%s after %lu ms\n", static_cast<unsigned long>(t.program.pid()),
                gui::Text(t.dialog, kTotalLabel).c_str(), static_cast<unsigned long>(GetTickCount() - started));
    std::fflush(stdout);
    Sleep(500); // the last reports through the rings and into the table
    gui::Click(t.dialog, kReminderButton);
    const std::string connected = gui::Text(t.dialog, kReaderLabel) == "已连接" ? "yes" : "no";
    const std::string offline = gui::Text(t.dialog, kOfflineLabel);
    t.PressPortButton(); // no ageing while the pages are read
    watch.probe.Stop();

    long long rows = 0, activity = 0;
    std::set<std::string> ids;
    const DWORD read_start = GetTickCount();
    for (int page = 0; page < 400; ++page) {
        const std::string first = t.Cell(0, 0);
        for (int r = 0; r < kRows; ++r) {
            const std::string id = t.Cell(r, 1);
            if (id.empty())
                break;
            ++rows;
            ids.insert(id);
            activity += std::atoll(t.Cell(r, 5).c_str());
        }
        gui::Click(t.dialog, kNextPage);
        if (t.Cell(0, 0) == first)
            break;
    }
    std::printf("RESULT program=tarnwick rows=%lld distinct_ids=%zu activity=%lld total_label=%s offline_label=%s "
                "connected=%s gui_longest_ms=%.1f gui_hangs=%d read_ms=%lu\n",
                rows, ids.size(), activity, gui::Text(t.dialog, kTotalLabel).c_str(), offline.c_str(),
                connected.c_str(), watch.probe.LongestMs(), watch.probe.Hangs(),
                static_cast<unsigned long>(GetTickCount() - read_start));
    const bool quit = t.Quit();
    std::printf("RESULT quit=%s\n", quit ? "clean" : "failed");
    return 0;
}

// Counts the console's messages as they arrive, across reads.
struct ConsoleCounter {
    pellfray::ConsoleClient client;
    std::atomic<bool> stop{false};
    // Written by the reading thread, read after it ended.
    unsigned long long bytes = 0, check_errors = 0, buffer_full = 0;
    std::thread thread;

    bool Start()
    {
        if (!client.Connect())
            return false;
        thread = std::thread([this] {
            std::string pending;
            while (!stop.load()) {
                const std::string got = client.ReadFor(200);
                bytes += got.size();
                pending += got;
                size_t at;
                while ((at = pending.find("\r\n")) != std::string::npos) {
                    const std::string line = pending.substr(0, at);
                    if (line == "check error")
                        ++check_errors;
                    else if (line == "msg buffer full")
                        ++buffer_full;
                    pending.erase(0, at + 2);
                }
            }
        });
        return true;
    }
    void Stop()
    {
        stop.store(true);
        if (thread.joinable())
            thread.join();
    }
    ~ConsoleCounter() { Stop(); }
};

int SoakPellfray(const Options &o)
{
    pellfray::Session s;
    std::string why;
    if (!s.Start(BENCH_TARGET_FILE_Pellfray, &why))
        return Fail(why.c_str());
    const HWND d = s.dialog;
    if (!pellfray::SelectPort(d, 6))
        return Fail("COM6 not listed");
    gui::Click(d, IDC_PORT_BUTTON);
    if (gui::Text(d, IDC_PORT_BUTTON) != "关闭串口")
        return Fail("COM6 did not open");
    gui::Click(d, IDC_TAG_MODE);
    gui::SetText(d, IDC_TAG_ID, "1");
    gui::SetText(d, IDC_SEND_PERIOD, "5");
    gui::SetText(d, IDC_BATTERY_PERIOD, "10");
    gui::Click(d, IDC_MODIFY);
    gui::SetText(d, IDC_HEX_TEXT, "A5 5A 01 02 03 04 05 06");
    ConsoleCounter console;
    if (!console.Start())
        return Fail("no console connection");

    Simulator sim;
    char args[256];
    std::snprintf(args, sizeof args,
                  "--port COM306 --period 100 --fixed-period --burst 0 --line-rate --duration %.0f --quiet",
                  o.seconds);
    if (!sim.Start(o.sim, args, o.sim_log))
        return Fail("SimModule did not start");
    Watch watch(d);
    const DWORD started = GetTickCount();
    const DWORD warm_at = static_cast<DWORD>(o.seconds * 100);
    bool warm_marked = false;
    unsigned long long hex_sends = 0, answers = 0;
    DWORD next_send = started + 2000; // the module has its port open by then
    while (sim.Running()) {
        const DWORD now = GetTickCount();
        if (!warm_marked && now - started >= (warm_at < 5000 ? 5000 : warm_at)) {
            std::printf("MARK warm pid=%lu lines=%d rx=%s tx=%s\n", static_cast<unsigned long>(s.program.pid()),
                        gui::ListCount(d, IDC_LOG_LIST), gui::Text(d, IDC_RX_COUNT).c_str(),
                        gui::Text(d, IDC_TX_COUNT).c_str());
            std::fflush(stdout);
            warm_marked = true;
        }
        // Nothing is sent in the run's last 1.5 s: the module stops reading
        // soon after its own traffic ends.
        const bool may_send = now - started + 1500 < static_cast<DWORD>(o.seconds * 1000);
        if (may_send && now - next_send < 0x80000000u) {
            gui::Click(d, IDC_HEX_SEND);
            ++hex_sends;
            next_send += 1000;
        }
        if (may_send && gui::Text(d, IDC_CONFIG_STATUS) == "完成配置") {
            ++answers;
            gui::Click(d, IDC_MODIFY); // unlock
            gui::Click(d, IDC_MODIFY); // arm again
        }
        Sleep(20);
    }
    // Settle: the counter stops moving once the queue is drained.
    std::string last, rx = gui::Text(d, IDC_RX_COUNT);
    do {
        last = rx;
        Sleep(700);
        rx = gui::Text(d, IDC_RX_COUNT);
    } while (rx != last);
    const int lines = gui::ListCount(d, IDC_LOG_LIST);
    const std::string tx = gui::Text(d, IDC_TX_COUNT);
    std::printf("MARK end pid=%lu lines=%d rx=%s tx=%s after %lu ms\n", static_cast<unsigned long>(s.program.pid()),
                lines, rx.c_str(), tx.c_str(), static_cast<unsigned long>(GetTickCount() - started));
    std::fflush(stdout);
    Sleep(300);
    watch.probe.Stop();
    console.Stop();

    // Every line: its direction, its bytes, and that its byte count fits.
    unsigned long long r_bytes = 0, s_bytes = 0, r_lines = 0, s_lines = 0, bad_lines = 0, chars = 0;
    const DWORD read_start = GetTickCount();
    for (int i = 0; i < lines; ++i) {
        const std::string line = gui::ListItem(d, IDC_LOG_LIST, i);
        chars += line.size();
        if (line.size() < 16 || (line.size() - 16) % 3 != 0 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
            ++bad_lines;
            continue;
        }
        const unsigned long long n = (line.size() - 16) / 3;
        if (line[2] == 'R') {
            r_bytes += n;
            ++r_lines;
        } else if (line[2] == 'S') {
            s_bytes += n;
            ++s_lines;
        } else {
            ++bad_lines;
        }
    }
    std::printf("RESULT program=pellfray lines=%d r_lines=%llu s_lines=%llu bad_lines=%llu chars=%llu "
                "logged_rx=%llu logged_tx=%llu rx_label=%s tx_label=%s hex_sends=%llu config_answers=%llu "
                "console_bytes=%llu check_errors=%llu buffer_full=%llu gui_longest_ms=%.1f gui_hangs=%d read_ms=%lu\n",
                lines, r_lines, s_lines, bad_lines, chars, r_bytes, s_bytes, rx.c_str(), tx.c_str(), hex_sends,
                answers, console.bytes, console.check_errors, console.buffer_full, watch.probe.LongestMs(),
                watch.probe.Hangs(), static_cast<unsigned long>(GetTickCount() - read_start));
    const bool closed = s.Close();
    std::printf("RESULT quit=%s\n", closed ? "clean" : "failed");
    return 0;
}

// Wine's own share: PortEcho --idle, which reads a port exactly as both
// programs do and nothing else, on COM3 and COM6 under the same two
// simulators at once, so that the script can tell Wine's memory growth
// under this traffic from the programs'.
int Floor(const Options &o, const std::string &echo, const std::string &module, const std::string &log_dir)
{
    char args[256];
    Simulator echo3, echo6, reader, mod;
    std::snprintf(args, sizeof args, "--port COM3 --idle --duration %.0f", o.seconds + 6);
    if (!echo3.Start(echo, args, log_dir + "/floor-echo3.log"))
        return Fail("PortEcho did not start");
    std::snprintf(args, sizeof args, "--port COM6 --idle --duration %.0f", o.seconds + 6);
    if (!echo6.Start(echo, args, log_dir + "/floor-echo6.log"))
        return Fail("PortEcho did not start");
    Sleep(1500);
    std::snprintf(args, sizeof args, "--port COM303 --count 3000 --first 1 --line-rate --duration %.0f --quiet",
                  o.seconds);
    if (!reader.Start(o.sim, args, log_dir + "/floor-reader.log"))
        return Fail("SimReader did not start");
    std::snprintf(args, sizeof args, "--port COM306 --period 100 --burst 0 --line-rate --duration %.0f --quiet",
                  o.seconds);
    if (!mod.Start(module, args, log_dir + "/floor-module.log"))
        return Fail("SimModule did not start");
    const DWORD warm_at = static_cast<DWORD>(o.seconds * 100);
    Sleep(warm_at < 5000 ? 5000 : warm_at);
    std::printf("MARK warm\n");
    reader.Wait(static_cast<DWORD>(o.seconds * 1000) + 30000);
    mod.Wait(30000);
    std::printf("MARK end\n");
    echo3.Wait(15000);
    echo6.Wait(15000);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    Options o;
    if (argc == 7 && std::string(argv[1]) == "floor") {
        // line_soak floor ECHO SIMREADER SIMMODULE LOGDIR SECONDS
        o.sim = argv[3];
        o.seconds = std::atof(argv[6]);
        RemoveForeignComPorts();
        return Floor(o, argv[2], argv[4], argv[5]);
    }
    if (!Parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: line_soak tarnwick|pellfray --sim EXE --sim-log FILE --seconds S\n");
        return 2;
    }
    RemoveForeignComPorts();
    return o.mode == "tarnwick" ? SoakTarnwick(o) : SoakPellfray(o);
}
