// PellfrayMeasure: runs Pellfray.exe (and the minimal PortEcho for Wine's
// floor) under the loads whose figures the closing note reports. Not a
// test: it prints figures and asserts nothing. Run it through
// scripts/measure-pellfray, which supplies the COM pair and the programs.
//
//   PellfrayMeasure latency PELLFRAY SIMMODULE PORTECHO N
//       SimModule --latency N against Pellfray (re-armed after every
//       answer), then the same against PortEcho --echo.
//   PellfrayMeasure idle PELLFRAY PORTECHO SECONDS
//       Marks phases (Pellfray with the port closed, then open; PortEcho
//       --idle) in which the script reads the CPU time from /proc.
//   PellfrayMeasure burst PELLFRAY SIMMODULE SECONDS
//       SimModule --burst 0 --line-rate for SECONDS into an open Pellfray,
//       with a console client watching for "msg buffer full".
//   PellfrayMeasure clear PELLFRAY LINES
//       Fills the log with LINES hand-sent lines, then times 清空窗口.
//   PellfrayMeasure overnight PELLFRAY SIMMODULE PORTECHO SECONDS RATE FLOOR_SECONDS
//       A compressed overnight run: SimModule sends 4-byte chunks at RATE a
//       second for SECONDS into an open Pellfray (millions of log lines);
//       every minute the lines logged, the list's length, the memory of
//       Pellfray's process (working set) and the GUI's longest answer to a
//       WM_NULL sent every 50 ms; at the end 清空窗口 with the list full.
//       Then the same traffic into PortEcho --idle for FLOOR_SECONDS (0:
//       none): the memory Wine's serial I/O takes by itself.
//   PellfrayMeasure stall PELLFRAY SIMMODULE SECONDS
//       A console client connects and never reads while SimModule sends
//       SECONDS of line-rate 4-byte FF bursts (every chunk a "check error"
//       message, enough to fill the socket buffers within seconds); the GUI is probed with SendMessageTimeout round trips all
//       along; then the R counter against the bytes sent, and whether a new
//       console client gets "->".
//
// Pellfray opens COM5; the simulator / echo work on COM305.
#include <winsock2.h>
#include <windows.h>

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tools/driver/pellfray_session.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"
#include "tools/driver/line_faults.h"

namespace {

constexpr uint32_t kProductPort = 5;
constexpr uint32_t kDevicePort = 305;

using faults::NowMs;

// A helper program whose standard output goes to a file, read back at the end.
struct Child {
    PROCESS_INFORMATION pi = {};
    std::string log_path;

    bool Start(const std::string &command, const std::string &log)
    {
        log_path = log;
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            return false;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string cmd = command;
        const BOOL ok = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(out);
        return ok != FALSE;
    }
    bool Running() const { return WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
    void Wait(DWORD ms) { WaitForSingleObject(pi.hProcess, ms); }
    void Stop()
    {
        if (pi.hProcess == nullptr)
            return;
        if (Running())
            TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
    }
    ~Child() { Stop(); }

    // Lines of the log that contain key.
    std::string Lines(const char *key) const
    {
        std::string out;
        FILE *f = std::fopen(log_path.c_str(), "r");
        if (f == nullptr)
            return out;
        char line[1024];
        while (std::fgets(line, sizeof line, f))
            if (key == nullptr || std::strstr(line, key) != nullptr)
                out += line;
        std::fclose(f);
        return out;
    }
};

// Starts Pellfray and opens COM5 in the given mode.
bool StartOpen(pellfray::Session &s, const char *exe, bool tag_mode)
{
    std::string why;
    if (!s.Start(exe, &why)) {
        std::printf("cannot start Pellfray: %s\n", why.c_str());
        return false;
    }
    if (!pellfray::SelectPort(s.dialog, kProductPort)) {
        std::printf("COM%u not listed\n", kProductPort);
        return false;
    }
    gui::Click(s.dialog, IDC_PORT_BUTTON);
    if (tag_mode)
        gui::Click(s.dialog, IDC_TAG_MODE);
    return gui::Text(s.dialog, IDC_PORT_BUTTON) == "关闭串口";
}

std::string Port(uint32_t n)
{
    return "COM" + std::to_string(n);
}

int Latency(const char *pellfray_exe, const char *sim_exe, const char *echo_exe, const char *count)
{
    {
        pellfray::Session s;
        if (!StartOpen(s, pellfray_exe, true))
            return 1;
        gui::SetText(s.dialog, IDC_TAG_ID, "1");
        gui::SetText(s.dialog, IDC_SEND_PERIOD, "5");
        gui::SetText(s.dialog, IDC_BATTERY_PERIOD, "10");
        gui::Click(s.dialog, IDC_MODIFY);
        Child sim;
        const std::string cmd = std::string("\"") + sim_exe + "\" --port " + Port(kDevicePort) + " --period 0 --latency " +
                                count + " --gap 150 --quiet";
        if (!sim.Start(cmd, "latency-pellfray.log"))
            return 1;
        // Each answer consumes the armed configuration: unlock and arm again
        // as soon as the status shows it was answered.
        unsigned rearmed = 0;
        while (sim.Running()) {
            if (gui::Text(s.dialog, IDC_CONFIG_STATUS) == "完成配置") {
                gui::Click(s.dialog, IDC_MODIFY);
                gui::Click(s.dialog, IDC_MODIFY);
                ++rearmed;
            }
            Sleep(2);
        }
        std::printf("== wake-up answer latency, SimModule --latency %s against Pellfray (re-armed %u times)\n%s", count,
                    rearmed, sim.Lines("latency").c_str());
        s.Close();
    }
    {
        Child echo;
        if (!echo.Start(std::string("\"") + echo_exe + "\" --port " + Port(kProductPort) + " --echo", "latency-echo-side.log"))
            return 1;
        Sleep(1000);
        Child sim;
        const std::string cmd = std::string("\"") + sim_exe + "\" --port " + Port(kDevicePort) + " --period 0 --latency " +
                                count + " --gap 150 --quiet";
        if (!sim.Start(cmd, "latency-echo.log"))
            return 1;
        sim.Wait(INFINITE);
        std::printf("== round trip, SimModule --latency %s against PortEcho --echo\n%s", count, sim.Lines("latency").c_str());
    }
    return 0;
}

// Marks a phase for the script, which samples the Wine processes' CPU time
// from /proc between the marks (Wine's GetProcessTimes reports nothing for
// other processes).
void Phase(const char *name, int seconds)
{
    std::printf("IDLE-PHASE %s start\n", name);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    std::printf("IDLE-PHASE %s end\n", name);
}

int Idle(const char *pellfray_exe, const char *echo_exe, int seconds)
{
    {
        pellfray::Session s;
        std::string why;
        if (!s.Start(pellfray_exe, &why))
            return 1;
        Sleep(2000);
        Phase("pellfray-closed", seconds);
        if (!pellfray::SelectPort(s.dialog, kProductPort))
            return 1;
        gui::Click(s.dialog, IDC_PORT_BUTTON);
        Sleep(2000);
        Phase("pellfray", seconds);
        s.Close();
    }
    Child echo;
    if (!echo.Start(std::string("\"") + echo_exe + "\" --port " + Port(kProductPort) + " --idle", "idle-echo.log"))
        return 1;
    Sleep(2000);
    Phase("portecho", seconds);
    return 0;
}

int Burst(const char *pellfray_exe, const char *sim_exe, const char *seconds)
{
    pellfray::Session s;
    if (!StartOpen(s, pellfray_exe, false))
        return 1;
    pellfray::ConsoleClient console;
    if (!console.Connect())
        std::printf("no console connection\n");
    std::atomic<bool> stop{false};
    std::string console_text;
    std::thread watcher([&] {
        while (!stop.load())
            console_text += console.ReadFor(200);
    });
    Child sim;
    const std::string cmd = std::string("\"") + sim_exe + "\" --port " + Port(kDevicePort) +
                            " --period 0 --burst 0 --line-rate --duration " + seconds + " --quiet";
    const double t0 = NowMs();
    if (!sim.Start(cmd, "burst-sim.log"))
        return 1;
    double max_lag_ms = 0;
    while (sim.Running()) {
        // How long the GUI thread takes to answer while the log is busy.
        const double a = NowMs();
        gui::Text(s.dialog, IDC_RX_COUNT);
        const double lag = NowMs() - a;
        if (lag > max_lag_ms)
            max_lag_ms = lag;
        Sleep(100);
    }
    const double t1 = NowMs();
    // Let the queue drain: the counter stops moving.
    std::string last, now = gui::Text(s.dialog, IDC_RX_COUNT);
    do {
        last = now;
        Sleep(500);
        now = gui::Text(s.dialog, IDC_RX_COUNT);
    } while (now != last);
    stop.store(true);
    watcher.join();
    std::printf("== %s s of line-rate traffic into Pellfray (run %.1f s)\n%s", seconds, (t1 - t0) / 1000,
                sim.Lines("summary").c_str());
    // The bytes the lines show: a line of n bytes is 14 + 3n characters
    // before its CR LF.
    const int lines = gui::ListCount(s.dialog, IDC_LOG_LIST);
    uint64_t line_bytes = 0;
    int other_lines = 0;
    for (int i = 0; i < lines; ++i) {
        const std::string line = gui::ListItem(s.dialog, IDC_LOG_LIST, i);
        if (line.size() < 16 || line.compare(0, 4, "[ R ") != 0 || (line.size() - 16) % 3 != 0) {
            // Not a received line of whole bytes: shown, never counted.
            if (++other_lines <= 5)
                std::printf("log line %d is not a received line: %s\n", i, line.c_str());
            continue;
        }
        line_bytes += (line.size() - 16) / 3;
    }
    if (other_lines != 0)
        std::printf("%d log lines were not received lines\n", other_lines);
    std::printf("Pellfray: received counter %s bytes, %d log lines holding %llu bytes, sent counter %s\n", now.c_str(),
                lines, static_cast<unsigned long long>(line_bytes), gui::Text(s.dialog, IDC_TX_COUNT).c_str());
    std::printf("console: %zu bytes, \"msg buffer full\" %s\n", console_text.size(),
                console_text.find("msg buffer full") == std::string::npos ? "never seen" : "SEEN");
    std::printf("longest GUI answer to WM_GETTEXT during the run: %.1f ms\n", max_lag_ms);
    s.Close();
    return 0;
}

int Clear(const char *pellfray_exe, int lines)
{
    TestComPort device(kDevicePort);
    pellfray::Session s;
    if (!StartOpen(s, pellfray_exe, false))
        return 1;
    // The device end is drained all along, or the sends would block.
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop.load())
            device.ReadUntilQuiet(50, 200);
    });
    const double e0 = NowMs();
    gui::Click(s.dialog, IDC_CLEAR_LOG);
    const double empty_ms = NowMs() - e0;

    gui::SetText(s.dialog, IDC_HEX_TEXT, "01");
    const double f0 = NowMs();
    for (int i = 0; i < lines; ++i)
        gui::Click(s.dialog, IDC_HEX_SEND);
    const double fill_s = (NowMs() - f0) / 1000;
    const int count = gui::ListCount(s.dialog, IDC_LOG_LIST);

    const double c0 = NowMs();
    gui::Click(s.dialog, IDC_CLEAR_LOG);
    const double clear_ms = NowMs() - c0;
    stop.store(true);
    drain.join();
    std::printf("== clear button (1017) with %d log lines: handled in %.1f ms (BM_CLICK sent until it returned); "
                "with an empty log %.2f ms. Filling took %.1f s (%.0f lines/s). After: %d lines, S counter %s\n",
                count, clear_ms, empty_ms, fill_s, lines / fill_s, gui::ListCount(s.dialog, IDC_LOG_LIST),
                gui::Text(s.dialog, IDC_TX_COUNT).c_str());
    s.Close();
    return 0;
}

// Working set of a process, in MB (0 when it cannot be read).
double MemoryMb(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return 0;
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

// Lines Pellfray logged since the list was last emptied: the list's lines,
// plus those its head line says were let go.
unsigned long long LinesLogged(HWND dialog, int *list_count)
{
    *list_count = gui::ListCount(dialog, IDC_LOG_LIST);
    if (*list_count <= 0)
        return 0;
    const std::string head = gui::ListItem(dialog, IDC_LOG_LIST, 0);
    if (head.compare(0, 5, "[ - ]") != 0)
        return static_cast<unsigned long long>(*list_count);
    return std::strtoull(head.c_str() + head.find_first_of("0123456789"), nullptr, 10) +
           static_cast<unsigned long long>(*list_count - 1);
}

// Round trips to a window's thread, every 50 ms, on a thread of its own.
class GuiProbe {
public:
    explicit GuiProbe(HWND window)
        : thread_([this, window] {
              while (!stop_.load()) {
                  DWORD_PTR result = 0;
                  const double a = NowMs();
                  const LRESULT ok = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
                  const double ms = NowMs() - a;
                  probes_++;
                  if (ok == 0 || ms > 100)
                      slow_++;
                  if (ms > interval_max_.load())
                      interval_max_.store(ms);
                  if (ms > max_.load())
                      max_.store(ms);
                  Sleep(50);
              }
          })
    {
    }
    ~GuiProbe()
    {
        stop_.store(true);
        thread_.join();
    }
    // The longest round trip since the last call.
    double TakeIntervalMax() { return interval_max_.exchange(0); }
    double Max() const { return max_.load(); }
    unsigned Probes() const { return probes_.load(); }
    unsigned Slow() const { return slow_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<double> interval_max_{0};
    std::atomic<double> max_{0};
    std::atomic<unsigned> probes_{0};
    std::atomic<unsigned> slow_{0};
    std::thread thread_;
};

std::string ModuleTraffic(const char *sim_exe, const char *seconds, const char *rate)
{
    return std::string("\"") + sim_exe + "\" --port " + Port(kDevicePort) + " --period 0 --burst 0 --size 4 --rate " +
           rate + " --duration " + seconds + " --quiet";
}

int Overnight(const char *pellfray_exe, const char *sim_exe, const char *echo_exe, const char *seconds,
              const char *rate, const char *floor_seconds)
{
    {
        pellfray::Session s;
        if (!StartOpen(s, pellfray_exe, false))
            return 1;
        Sleep(2000);
        const double start_mb = MemoryMb(s.program.process());
        std::printf("== overnight, compressed: SimModule 4-byte chunks at %s a second for %s s into Pellfray\n", rate,
                    seconds);
        std::printf("   t (s)    lines logged   list lines   memory (MB)   longest GUI answer in the last minute (ms)\n");
        std::printf("   %5.0f  %14d  %11d  %12.1f\n", 0.0, 0, 0, start_mb);
        GuiProbe probe(s.dialog);
        Child sim;
        if (!sim.Start(ModuleTraffic(sim_exe, seconds, rate), "overnight-sim.log"))
            return 1;
        const double t0 = NowMs();
        double mb_at_100k = 0;
        unsigned long long lines_at_100k = 0;
        unsigned long long lines = 0;
        int list = 0;
        double max_mb = start_mb;
        while (sim.Running()) {
            sim.Wait(60000);
            lines = LinesLogged(s.dialog, &list);
            const double mb = MemoryMb(s.program.process());
            if (mb_at_100k == 0 && lines >= 100000) {
                mb_at_100k = mb;
                lines_at_100k = lines;
            }
            if (mb > max_mb)
                max_mb = mb;
            std::printf("   %5.0f  %14llu  %11d  %12.1f  %8.1f\n", (NowMs() - t0) / 1000, lines, list, mb,
                        probe.TakeIntervalMax());
        }
        const double run_s = (NowMs() - t0) / 1000;
        // The queue drains: the count stops moving.
        unsigned long long last = 0;
        do {
            last = lines;
            Sleep(1000);
            lines = LinesLogged(s.dialog, &list);
        } while (lines != last);
        const double end_mb = MemoryMb(s.program.process());
        const double c0 = NowMs();
        gui::Click(s.dialog, IDC_CLEAR_LOG);
        const double clear_ms = NowMs() - c0;
        std::printf("== overnight, Pellfray: %llu lines logged in %.0f s (%.0f a second), the list holding %d at the "
                    "end\n",
                    lines, run_s, lines / run_s, list);
        std::printf("== overnight, Pellfray memory: %.1f MB at the start, %.1f MB after the first 100 000 lines, %.1f "
                    "MB at the end (highest %.1f MB)\n",
                    start_mb, mb_at_100k, end_mb, max_mb);
        // Each line is one read of the port: Wine's own cost per read (the
        // floor below) compares directly.
        if (lines > lines_at_100k)
            std::printf("== overnight, Pellfray memory after the first 100 000 lines: %+.1f MB over %llu more lines "
                        "(reads): %.0f bytes a read\n",
                        end_mb - mb_at_100k, lines - lines_at_100k,
                        (end_mb - mb_at_100k) * 1024 * 1024 / static_cast<double>(lines - lines_at_100k));
        std::printf("== overnight, Pellfray GUI: %u round trips (WM_NULL every 50 ms), %u over 100 ms, longest %.1f "
                    "ms\n",
                    probe.Probes(), probe.Slow(), probe.Max());
        std::printf("== overnight, Pellfray's clear button (1017) with %d lines in the list: %.1f ms (BM_CLICK sent "
                    "until it returned)\n",
                    list, clear_ms);
        std::printf("   SimModule %s", sim.Lines("bytes in all").c_str());
        s.Close();
    }
    if (std::atof(floor_seconds) <= 0)
        return 0;
    // PortEcho reports its reads when its time is up, a little after the
    // traffic ends.
    Child echo;
    const std::string echo_seconds = std::to_string(std::atoi(floor_seconds) + 6);
    if (!echo.Start(std::string("\"") + echo_exe + "\" --port " + Port(kProductPort) + " --idle --duration " +
                        echo_seconds,
                    "overnight-echo.log"))
        return 1;
    Sleep(2000);
    const double echo_start_mb = MemoryMb(echo.pi.hProcess);
    Child sim;
    if (!sim.Start(ModuleTraffic(sim_exe, floor_seconds, rate), "overnight-floor-sim.log"))
        return 1;
    sim.Wait(INFINITE);
    Sleep(2000);
    const double echo_end_mb = MemoryMb(echo.pi.hProcess);
    echo.Wait(30000);
    const std::string report = echo.Lines("chunks");
    const size_t at = report.find(" s, ");
    const unsigned long long reads = at == std::string::npos ? 0 : std::strtoull(report.c_str() + at + 4, nullptr, 10);
    std::printf("== overnight, floor: PortEcho --idle under the same traffic for %s s: %.1f MB at the start, %.1f MB "
                "at the end, after %llu reads: %.0f bytes a read\n",
                floor_seconds, echo_start_mb, echo_end_mb, reads,
                reads ? (echo_end_mb - echo_start_mb) * 1024 * 1024 / static_cast<double>(reads) : 0.0);
    return 0;
}

// "summary: ... N bytes in all" of SimModule's log; 0 when missing.
unsigned long long BytesSentBy(const Child &sim)
{
    const std::string summary = sim.Lines("bytes in all");
    const size_t at = summary.find(" bytes in all");
    if (at == std::string::npos)
        return 0;
    size_t start = summary.rfind(' ', at - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return std::strtoull(summary.c_str() + start, nullptr, 10);
}

int Stall(const char *pellfray_exe, const char *sim_exe, const char *seconds)
{
    pellfray::Session s;
    if (!StartOpen(s, pellfray_exe, false))
        return 1;
    pellfray::ConsoleClient next; // also starts Winsock
    // Connects with a small receive window and never reads, so Pellfray's
    // send buffer is all that holds the messages.
    SOCKET stuck = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int small = 1024;
    setsockopt(stuck, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&small), sizeof small);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(23);
    if (stuck == INVALID_SOCKET || connect(stuck, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::printf("no console connection\n");
        return 1;
    }
    Child sim;
    const std::string cmd = std::string("\"") + sim_exe + "\" --port " + Port(kDevicePort) +
                            " --period 0 --burst 0 --size 4 --line-rate --fill ff --duration " + seconds + " --quiet";
    if (!sim.Start(cmd, "stall-sim.log"))
        return 1;
    // Round trips to the GUI thread: WM_NULL with a time-out, every 50 ms.
    unsigned probes = 0, slow = 0, timed_out = 0;
    double max_ms = 0;
    while (sim.Running()) {
        DWORD_PTR result = 0;
        const double a = NowMs();
        const LRESULT ok = SendMessageTimeoutA(s.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
        const double rtt = NowMs() - a;
        ++probes;
        if (ok == 0)
            ++timed_out;
        if (rtt > 100)
            ++slow;
        if (rtt > max_ms)
            max_ms = rtt;
        Sleep(50);
    }
    std::string last, now = gui::Text(s.dialog, IDC_RX_COUNT);
    do {
        last = now;
        Sleep(500);
        now = gui::Text(s.dialog, IDC_RX_COUNT);
    } while (now != last);
    const unsigned long long sent = BytesSentBy(sim);
    std::string answer;
    if (next.Connect() && next.Send("\r"))
        answer = next.Read(2, 3000);
    // Whether Pellfray dropped the client that never read: its stream ends.
    unsigned long long stuck_bytes = 0;
    bool stuck_closed = false;
    u_long nonblocking = 1;
    ioctlsocket(stuck, FIONBIO, &nonblocking);
    for (;;) {
        char buffer[4096];
        const int n = recv(stuck, buffer, sizeof buffer, 0);
        if (n > 0) {
            stuck_bytes += static_cast<unsigned>(n);
            continue;
        }
        stuck_closed = n == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
        break;
    }
    closesocket(stuck);
    std::printf("== %s s of line-rate FF chunks into Pellfray, a console client connected that never reads\n", seconds);
    std::printf("R counter %s bytes, SimModule sent %llu bytes: %s\n", now.c_str(), sent,
                std::strtoull(now.c_str(), nullptr, 10) == sent ? "all counted" : "BYTES MISSING");
    std::printf("GUI round trips (SendMessageTimeout WM_NULL): %u probes, %u over 100 ms, %u timed out (2 s), "
                "longest %.1f ms\n",
                probes, slow, timed_out, max_ms);
    std::printf("the client that never read: %llu bytes waiting for it, %s\n", stuck_bytes,
                stuck_closed ? "its stream ended (dropped by Pellfray)"
                             : "its stream had not ended yet (a dropped socket still drains through the small window)");
    std::printf("a new console client afterwards: %s\n",
                answer.find("->") != std::string::npos ? "got \"->\"" : "NO PROMPT");
    s.Close();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    RemoveForeignComPorts();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "latency" && argc == 6)
        return Latency(argv[2], argv[3], argv[4], argv[5]);
    if (mode == "idle" && argc == 5)
        return Idle(argv[2], argv[3], std::atoi(argv[4]));
    if (mode == "burst" && argc == 5)
        return Burst(argv[2], argv[3], argv[4]);
    if (mode == "clear" && argc == 4)
        return Clear(argv[2], std::atoi(argv[3]));
    if (mode == "stall" && argc == 5)
        return Stall(argv[2], argv[3], argv[4]);
    if (mode == "overnight" && argc == 8)
        return Overnight(argv[2], argv[3], argv[4], argv[5], argv[6], argv[7]);
    std::fprintf(stderr, "usage: PellfrayMeasure latency|idle|burst|clear|stall|overnight ... (see the source)\n");
    return 2;
}
