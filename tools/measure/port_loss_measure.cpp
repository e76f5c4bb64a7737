// PortLossMeasure: how long Tarnwick or Pellfray takes to notice a pulled
// adapter and to carry on once it is back. Not a test: it prints figures
// and asserts nothing. Run it through scripts/measure-port-loss, which
// supplies the COM pair (the program's port and the device end).
//
//   PortLossMeasure tarnwick|pellfray EXE ROUNDS SHOT_DIR
//
// Each round asks the harness to pull the pair out (tools/driver/with-com-
// pairs.sh ends its socat) and times, from the moment it asked:
//   lost     until the program's message box is up;
//   floor    until a bare receive loop of this process, waiting on the
//            device end of the same pair exactly as the program's receive
//            thread waits, finds the port gone: what Wine itself takes;
// then asks for the pair back and times, from the moment it asked:
//   resumed  until the port button says the port is open again;
//   back     until the harness has the pair back (its own floor);
//   capture  until a report sent from the device end shows in the program
//            (Tarnwick's tag total, refreshed on its one-second tick; a
//            line in Pellfray's log).
// The first round also saves the window with its box as SHOT_DIR/<program>-
// port-lost.bmp.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"
#include "tools/driver/line_faults.h"

namespace {

using faults::NowMs;

struct Program {
    const char *klass;
    uint32_t port;
    uint32_t device;
    int port_button;
    int port_list;
};
const Program kTarnwick = {"QUORVEL", 3, 300, 1016, 1002};
const Program kPellfray = {"VAREK_OLSA", 5, 305, 1005, 1003};

// The receive thread's waiting, bare: wait for a character, read, ask for
// the line errors; the moment the error query fails is the port's loss.
struct FloorLoop {
    std::atomic<double> lost_at{0};
    std::atomic<bool> stop{false};
    std::thread thread;

    void Start(uint32_t n)
    {
        lost_at = 0;
        stop = false;
        thread = std::thread([this, n] {
            const HANDLE port = CreateFileA(ComDevicePath(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (port == INVALID_HANDLE_VALUE)
                return;
            SetCommMask(port, EV_RXCHAR);
            COMMTIMEOUTS t{};
            t.ReadIntervalTimeout = MAXDWORD;
            SetCommTimeouts(port, &t);
            HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            while (!stop) {
                OVERLAPPED o{};
                o.hEvent = event;
                DWORD mask = 0, n_read = 0;
                if (!WaitCommEvent(port, &mask, &o) && GetLastError() == ERROR_IO_PENDING)
                    GetOverlappedResult(port, &o, &n_read, TRUE);
                char buffer[1024];
                o = OVERLAPPED{};
                o.hEvent = event;
                if (!ReadFile(port, buffer, sizeof buffer, &n_read, &o) && GetLastError() == ERROR_IO_PENDING)
                    GetOverlappedResult(port, &o, &n_read, TRUE);
                DWORD errors = 0;
                COMSTAT status{};
                if (!ClearCommError(port, &errors, &status)) {
                    lost_at = NowMs();
                    break;
                }
            }
            CloseHandle(event);
            CloseHandle(port);
        });
    }
    void Join()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
};

struct Figures {
    std::vector<double> lost, floor, harness, resumed, capture;
};

void Print(const char *what, std::vector<double> v)
{
    if (v.empty()) {
        std::printf("  %-8s no figure\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    std::printf("  %-8s median %7.1f ms   min %7.1f   max %7.1f   (%zu rounds)\n", what, v[v.size() / 2], v.front(),
                v.back(), v.size());
}

bool WaitText(HWND dialog, int id, const char *text, DWORD ms)
{
    return gui::WaitUntil([&] { return gui::Text(dialog, id) == text; }, ms);
}

// Something the device end sends that the program shows: a tag report for
// Tarnwick (the tag total grows), any bytes for Pellfray (a log line).
std::vector<uint8_t> DeviceBytes(bool tarnwick, uint32_t id)
{
    if (!tarnwick)
        return {0x01, 0x02, 0x03};
    std::vector<uint8_t> f = {0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
                              static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0x00, 0xCE};
    uint16_t crc = 0xFFFF;
    for (uint8_t b : f) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc));
    return f;
}

std::string Shown(HWND dialog, bool tarnwick)
{
    if (tarnwick)
        return gui::Text(dialog, 1043); // 标签总数
    return std::to_string(SendMessageA(gui::Control(dialog, 1000), LB_GETCOUNT, 0, 0));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::printf("usage: PortLossMeasure tarnwick|pellfray EXE ROUNDS SHOT_DIR\n");
        return 2;
    }
    const bool tarnwick = std::string(argv[1]) == "tarnwick";
    const Program &p = tarnwick ? kTarnwick : kPellfray;
    const int rounds = std::max(1, std::atoi(argv[3]));
    const std::string shots = argv[4];
    RemoveForeignComPorts();

    gui::Program program;
    if (!program.Start(argv[2])) {
        std::printf("cannot start %s\n", argv[2]);
        return 1;
    }
    const HWND main = gui::WaitForWindow(p.klass, program.pid(), 20000);
    const HWND dialog = main ? gui::WaitForChildDialog(main, 5000) : nullptr;
    if (!dialog || !gui::ComboSelect(dialog, p.port_list, "COM" + std::to_string(p.port))) {
        std::printf("no dialog, or COM%u not listed\n", p.port);
        return 1;
    }
    gui::Click(dialog, p.port_button);
    if (!WaitText(dialog, p.port_button, "关闭串口", 5000)) {
        std::printf("COM%u did not open\n", p.port);
        return 1;
    }

    Figures f;
    for (int round = 0; round < rounds; ++round) {
        FloorLoop floor;
        floor.Start(p.device);
        Sleep(300); // both sides waiting on their ends
        const double pulled = NowMs();
        if (!PullComPair(p.port)) {
            std::printf("the harness did not pull the pair\n");
            break;
        }
        const HWND box = gui::WaitForPopup(program.pid(), nullptr, 10000);
        if (box != nullptr)
            f.lost.push_back(NowMs() - pulled);
        gui::WaitUntil([&] { return floor.lost_at.load() != 0; }, 5000);
        if (floor.lost_at.load() != 0)
            f.floor.push_back(floor.lost_at.load() - pulled);
        floor.Join();
        if (box != nullptr && round == 0) {
            Sleep(300); // the box painted
            gui::Capture shot;
            const std::string path = shots + "/" + argv[1] + "-port-lost.bmp";
            if (gui::CaptureWindow(main, &shot) && gui::SaveBmp(shot, path))
                std::printf("saved %s\n", path.c_str());
        }
        if (box != nullptr) {
            PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            gui::WaitUntil([&] { return !IsWindow(box); }, 5000);
        }

        const double plugged = NowMs();
        if (!PlugComPair(p.port)) {
            std::printf("the harness did not plug the pair in\n");
            break;
        }
        f.harness.push_back(NowMs() - plugged);
        if (WaitText(dialog, p.port_button, "关闭串口", 10000))
            f.resumed.push_back(NowMs() - plugged);
        TestComPort device;
        const std::string before = Shown(dialog, tarnwick);
        device.Open(p.device);
        const bool shown = gui::WaitUntil(
            [&] {
                device.Write(DeviceBytes(tarnwick, 7000 + static_cast<uint32_t>(round)));
                return Shown(dialog, tarnwick) != before;
            },
            10000);
        if (shown)
            f.capture.push_back(NowMs() - plugged);
    }

    std::printf("%s, %d rounds; from asking for the pair to be pulled out:\n", argv[1], rounds);
    Print("lost", f.lost);
    Print("floor", f.floor);
    std::printf("from asking for it back (the program retries once a second):\n");
    Print("back", f.harness);
    Print("resumed", f.resumed);
    Print("capture", f.capture);
    PostMessageA(main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    program.WaitExit(10000, &code);
    std::printf("exit code %lu\n", code);
    return 0;
}
