// RunDriver: starts Tarnwick.exe or Pellfray.exe for scripts/run.
//
//   RunDriver.exe --program Tarnwick.exe [--port COM3] [--open]
//                 [--screenshots DIR] [--interval SECONDS] [--pellfray-tag]
//                 [--follow ID] [--pellfray-batch TAGS] [--accept FIRST-LAST]
//                 [--find TEXT]
//
// Wine gives every session a COM1 for the host's first serial device; the
// driver removes it first so the program lists only the simulated pair, and
// registers the pair in the device map the programs' refills read.
// With --open the driver picks --port in the program's port list and presses
// the port button (for a virtual display nobody can click on); with
// --pellfray-tag it also switches Pellfray to tag mode. With --screenshots it
// writes DIR/shot-NNN.bmp of the main window every --interval seconds (the
// script turns them into PNG) until the program ends. With --follow (Tarnwick,
// after --open) it finds tag ID with 查找标签… a few seconds after opening,
// writes DIR/find.bmp of the main window with the find box and the framed
// row, opens the tag's follow window with 跟踪, moves it to the screen's
// bottom right corner and writes DIR/follow-NNN.bmp of it beside each shot.
// With --pellfray-batch (Pellfray, after --open --pellfray-tag) it opens
// 批量配置…, starts IDs 1..TAGS in 自动 with a 1 s pause, the journal in a new
// temporary folder, moves the window to the screen's bottom right corner and
// writes DIR/batch-NNN.bmp of it beside each shot.
// With --accept (Tarnwick, after --open) it opens 批量验收… a few seconds
// after opening, checks the range FIRST to LAST, moves the window to the
// screen's bottom right corner and writes DIR/accept-NNN.bmp of it beside
// each shot.
// With --find (Pellfray, after --open) it looks for TEXT in the log with
// 查找… a few seconds after opening and writes DIR/find.bmp of the main
// window with the find box and the line found framed, then closes the box.
#include "tools/driver/gui_driver.h"
#include "tools/driver/pellfray_batch_driver.h"
#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_accept_driver.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/driver/tarnwick_follow_driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string program;
    std::string port = "COM3";
    bool open = false;
    bool pellfray_tag = false;
    std::string shots;
    int interval = 5;
    std::string follow; // tag ID
    std::string batch;  // tags in the batch
    std::string accept; // FIRST-LAST
    std::string find;   // text to find in Pellfray's log
};

int Usage()
{
    std::fprintf(stderr, "usage: RunDriver --program EXE [--port COMn] [--open] [--pellfray-tag]\n"
                         "                 [--screenshots DIR] [--interval SECONDS] [--follow ID]\n"
                         "                 [--pellfray-batch TAGS] [--accept FIRST-LAST] [--find TEXT]\n");
    return 2;
}

void Shoot(HWND window, const std::string &path)
{
    gui::Capture cap;
    if (window != nullptr && gui::CaptureWindow(window, &cap))
        gui::SaveBmp(cap, path);
}

// 查找标签…, the ID, 查找 (a shot), 跟踪, the find box closed. Returns the
// follow window, moved out of the main window's way as far as the screen
// allows.
HWND FollowTag(const gui::Program &prog, HWND main, const std::string &id, const std::string &shots)
{
    HWND box = follow::OpenFindBox(main, prog.pid(), 10000);
    if (box == nullptr)
        return nullptr;
    // Until the reader has reported the tag, a search answers with a
    // message, which is closed and the search tried again a second later.
    for (int attempt = 0; attempt < 30; ++attempt) {
        follow::FindByEnter(box, id);
        if (follow::AnswerOnFindBox(prog.pid(), box, 500).empty())
            break;
        Sleep(1000);
    }
    if (!shots.empty())
        Shoot(main, shots + "\\find.bmp");
    const uint32_t tag = static_cast<uint32_t>(std::strtoul(id.c_str(), nullptr, 10));
    gui::ClickAsync(box, tarnwick::kFindFollowButton);
    HWND window = follow::WaitFollowWindow(prog.pid(), tag, 10000);
    follow::CloseFindBox(box, 10000);
    if (window == nullptr)
        return nullptr;
    RECT r;
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left),
                 GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return window;
}

// 批量配置…, IDs 1..tags in 自动, started with a journal of its own; the
// window moved to the screen's bottom right corner.
HWND StartBatch(const gui::Program &prog, HWND main, const std::string &tags)
{
    HWND window = batch::Open(main, prog.pid(), 10000);
    if (window == nullptr)
        return nullptr;
    batch::Fields fields;
    fields.first = "1";
    fields.count = tags;
    fields.automatic = true;
    fields.pause = "1";
    batch::Fill(window, fields);
    const std::string journal = save_as::MakeEmptyFolder("pellfray-run-batch") + "\\journal.csv";
    if (!batch::Start(window, prog.pid(), journal, 30000))
        return nullptr;
    std::printf("RunDriver: batch journal %s\n", journal.c_str());
    RECT r;
    GetWindowRect(window, &r);
    SetWindowPos(window, HWND_TOP, GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left),
                 GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top), 0, 0, SWP_NOSIZE);
    return window;
}

void ToCorner(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left),
                 GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// 批量验收… with the range FIRST-LAST checked; the window, moved to the
// screen's corner.
HWND CheckBatch(const gui::Program &prog, HWND main, const std::string &range)
{
    HWND window = accept::Open(main, prog.pid(), 10000);
    if (window == nullptr)
        return nullptr;
    const size_t dash = range.find('-');
    const uint32_t first = static_cast<uint32_t>(std::strtoul(range.c_str(), nullptr, 10));
    const uint32_t last =
        dash == std::string::npos ? first : static_cast<uint32_t>(std::strtoul(range.c_str() + dash + 1, nullptr, 10));
    accept::UseRange(window, first, last);
    ToCorner(window);
    return window;
}

// 查找… from Pellfray's window menu, the text, 下一个, a shot, the box closed.
void FindInLog(const gui::Program &prog, HWND main, const std::string &text, const std::string &shots)
{
    constexpr WPARAM kFindCommand = 0x0240; // IDM_LOG_FIND
    constexpr int kFindText = 2410;         // IDC_LOG_FIND_TEXT
    PostMessageA(main, WM_SYSCOMMAND, kFindCommand, 0);
    HWND box = gui::WaitForPopup(prog.pid(), "查找", 10000);
    if (box == nullptr)
        return;
    gui::SetText(box, kFindText, text);
    gui::Click(box, IDOK);
    Sleep(1000); // the list repaints with the frame
    if (!shots.empty())
        Shoot(main, shots + "\\find.bmp");
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--program")
            o.program = value();
        else if (a == "--port")
            o.port = value();
        else if (a == "--open")
            o.open = true;
        else if (a == "--pellfray-tag")
            o.pellfray_tag = true;
        else if (a == "--screenshots")
            o.shots = value();
        else if (a == "--interval")
            o.interval = std::atoi(value().c_str());
        else if (a == "--follow")
            o.follow = value();
        else if (a == "--pellfray-batch")
            o.batch = value();
        else if (a == "--accept")
            o.accept = value();
        else if (a == "--find")
            o.find = value();
        else
            return Usage();
    }
    if (o.program.empty())
        return Usage();
    if (o.interval < 1)
        o.interval = 1;

    gui::RemoveWineAutoCom1();
    // The programs refill their port lists from the device map of serial
    // ports, where Wine registers only the host's own: the pair scripts/run
    // makes (COM3, COM4) goes in instead, as a driver would put it there.
    ClearRegisteredComPorts();
    RegisterComPort(3);
    RegisterComPort(4);
    const bool pellfray = o.program.find("Pellfray") != std::string::npos;
    const char *cls = pellfray ? "VAREK_OLSA" : "QUORVEL";
    const int port_list = pellfray ? 1003 : 1002;
    const int port_button = pellfray ? 1005 : 1016;

    gui::Program prog;
    if (!prog.Start(o.program)) {
        std::fprintf(stderr, "RunDriver: cannot start %s\n", o.program.c_str());
        return 1;
    }
    HWND main = gui::WaitForWindow(cls, prog.pid(), 20000);
    HWND dlg = main ? gui::WaitForChildDialog(main, 10000) : nullptr;
    if (!dlg) {
        std::fprintf(stderr, "RunDriver: %s showed no main dialog\n", o.program.c_str());
        return 1;
    }
    std::printf("RunDriver: %s is running\n", o.program.c_str());
    if (o.open) {
        if (pellfray) {
            gui::SetText(dlg, port_list, o.port); // the port field can be typed into
            if (o.pellfray_tag) {
                // The radio marks decide which mode the port button enters.
                SendMessageA(gui::Control(dlg, 1007), BM_SETCHECK, BST_CHECKED, 0);
                SendMessageA(gui::Control(dlg, 1006), BM_SETCHECK, BST_UNCHECKED, 0);
            }
        } else if (!gui::ComboSelect(dlg, port_list, o.port)) {
            std::fprintf(stderr, "RunDriver: %s is not in the port list\n", o.port.c_str());
        }
        gui::Click(dlg, port_button);
        std::printf("RunDriver: pressed the port button for %s\n", o.port.c_str());
    }
    HWND follow = nullptr;
    if (o.open && !pellfray && !o.follow.empty()) {
        Sleep(3000); // the reader's first reports
        follow = FollowTag(prog, main, o.follow, o.shots);
        std::printf("RunDriver: %s tag %s\n", follow ? "following" : "could not follow", o.follow.c_str());
    }
    HWND batch_window = nullptr;
    if (o.open && pellfray && !o.batch.empty()) {
        batch_window = StartBatch(prog, main, o.batch);
        std::printf("RunDriver: %s\n", batch_window ? "batch started" : "could not start the batch");
    }
    HWND checking = nullptr;
    if (o.open && !pellfray && !o.accept.empty()) {
        Sleep(3000); // the reader's first reports
        checking = CheckBatch(prog, main, o.accept);
        std::printf("RunDriver: %s tags %s\n", checking ? "checking" : "could not check", o.accept.c_str());
    }
    if (o.open && pellfray && !o.find.empty()) {
        Sleep(8000); // a few of the module's frames
        FindInLog(prog, main, o.find, o.shots);
        std::printf("RunDriver: looked for %s in the log\n", o.find.c_str());
    }
    std::fflush(stdout);

    for (int n = 0;; ++n) {
        if (!o.shots.empty()) {
            char name[64];
            std::snprintf(name, sizeof name, "\\shot-%03d.bmp", n % 1000);
            Shoot(main, o.shots + name);
            std::snprintf(name, sizeof name, "\\follow-%03d.bmp", n % 1000);
            if (follow != nullptr && IsWindow(follow))
                Shoot(follow, o.shots + name);
            std::snprintf(name, sizeof name, "\\batch-%03d.bmp", n % 1000);
            if (batch_window != nullptr && IsWindow(batch_window))
                Shoot(batch_window, o.shots + name);
            std::snprintf(name, sizeof name, "\\accept-%03d.bmp", n % 1000);
            if (checking != nullptr && IsWindow(checking))
                Shoot(checking, o.shots + name);
        }
        if (prog.WaitExit(static_cast<DWORD>(o.interval) * 1000))
            break;
    }
    return 0;
}
