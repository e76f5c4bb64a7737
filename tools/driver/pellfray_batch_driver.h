// Working Pellfray's batch configuration window from another process, as an
// operator would: open it from the window menu, fill its fields, press 开始
// and name the journal in the Save As dialog that follows, then read the
// state line, the counts and the rows shown. Every wait has a deadline.
#pragma once

#include <windows.h>

#include <string>

#include "modulebench/win32/batch_window_resources.h"

namespace batch {

struct Fields {
    std::string first;
    std::string last;
    std::string count;
    std::string step = "1";
    std::string send = "5";
    std::string battery = "10";
    bool automatic = false;
    std::string pause = "3";
};

// Picks 批量配置… (posted) and waits for the window of process pid.
HWND Open(HWND main, DWORD pid, DWORD timeout_ms);
void Fill(HWND window, const Fields &fields);
// Presses 开始 (posted), saves the journal as path (UTF-8) in the Save As
// dialog, and waits until the Save As dialog has gone. False when no Save As
// dialog came.
bool Start(HWND window, DWORD pid, const std::string &path, DWORD timeout_ms);
// The state line (as the ...A API reads it: GBK).
std::string State(HWND window);
bool WaitState(HWND window, const std::string &text, DWORD timeout_ms);
// The text of one of the window's controls.
std::string Text(HWND window, int id);
// Enter, as the keyboard gives it to the window's focused control.
void PressEnter(HWND window);

} // namespace batch
