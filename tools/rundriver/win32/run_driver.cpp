// RunDriver: starts Tarnwick.exe or Pellfray.exe for scripts/run.
//
//   RunDriver.exe --program Tarnwick.exe [--port COM3] [--open]
//                 [--screenshots DIR] [--interval SECONDS] [--pellfray-tag]
//
// Wine gives every session a COM1 for the host's first serial device; the
// driver removes it first so the program lists only the simulated pair.
// With --open the driver picks --port in the program's port list and presses
// the port button (for a virtual display nobody can click on); with
// --pellfray-tag it also switches Pellfray to tag mode. With --screenshots it
// writes DIR/shot-NNN.bmp of the main window every --interval seconds (the
// script turns them into PNG) until the program ends.
#include "tools/driver/gui_driver.h"

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
};

int Usage()
{
    std::fprintf(stderr, "usage: RunDriver --program EXE [--port COMn] [--open] [--pellfray-tag]\n"
                         "                 [--screenshots DIR] [--interval SECONDS]\n");
    return 2;
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
        else
            return Usage();
    }
    if (o.program.empty())
        return Usage();
    if (o.interval < 1)
        o.interval = 1;

    gui::RemoveWineAutoCom1();
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
    std::fflush(stdout);

    for (int n = 0;; ++n) {
        if (!o.shots.empty()) {
            gui::Capture cap;
            char name[64];
            std::snprintf(name, sizeof name, "\\shot-%03d.bmp", n % 1000);
            if (gui::CaptureWindow(main, &cap))
                gui::SaveBmp(cap, o.shots + name);
        }
        if (prog.WaitExit(static_cast<DWORD>(o.interval) * 1000))
            break;
    }
    return 0;
}
