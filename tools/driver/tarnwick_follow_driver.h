// Working Tarnwick's find box and follow windows from another process, as a
// user would, for the end-to-end test, the follow measurement and the run
// driver: 查找标签… from the window menu, a search typed with Enter, the
// message a search raises, 跟踪, the follow windows by title, clicks on the
// grid's cells. Every wait has a deadline.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace follow {

// Opens the find box through the window menu of Tarnwick's main window
// (process pid); null when none came within timeout_ms.
HWND OpenFindBox(HWND main, DWORD pid, DWORD timeout_ms);
// Types text into the find box's field and presses Enter there. Posted, so
// that it goes through the program's own loop as a key press does.
void FindByEnter(HWND box, const std::string &text);
// The message box a search raised on the find box: its texts (UTF-8),
// closed with OK; "" when none came within timeout_ms.
std::string AnswerOnFindBox(DWORD pid, HWND box, DWORD timeout_ms);
// Closes the find box and waits until it has gone.
void CloseFindBox(HWND box, DWORD timeout_ms);

// "跟踪标签 <id>", the title of tag id's window.
std::string FollowTitle(uint32_t id);
// The visible follow windows of pid; with a title, those that show it.
std::vector<HWND> FollowWindows(DWORD pid, const std::string &title = "");
HWND WaitFollowWindow(DWORD pid, uint32_t id, DWORD timeout_ms);
// Opens tag id's window with 查找标签… and 跟踪 and closes the find box.
HWND FollowThroughFindBox(HWND main, DWORD pid, uint32_t id, DWORD timeout_ms);

// A click and a double-click of the left button on a control, posted as
// the mouse sends them.
void PostClick(HWND control);
void PostDoubleClick(HWND control);

} // namespace follow
