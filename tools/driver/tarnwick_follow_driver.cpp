#include "tools/driver/tarnwick_follow_driver.h"

#include "tools/driver/gui_driver.h"
#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_e2e.h"

namespace follow {

namespace {

struct Search {
    DWORD pid;
    std::string title;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchFollowWindow(HWND w, LPARAM param)
{
    auto *s = reinterpret_cast<Search *>(param);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == s->pid && std::string(cls) == tarnwick::kFollowClass && IsWindowVisible(w) &&
        (s->title.empty() || gui::Text(w) == s->title))
        s->found.push_back(w);
    return TRUE;
}

} // namespace

HWND OpenFindBox(HWND main, DWORD pid, DWORD timeout_ms)
{
    PostMessageA(main, WM_SYSCOMMAND, tarnwick::kFindCommand, 0);
    return gui::WaitForPopup(pid, "查找标签", timeout_ms);
}

void FindByEnter(HWND box, const std::string &text)
{
    gui::SetText(box, tarnwick::kFindIdEdit, text);
    PostMessageA(gui::Control(box, tarnwick::kFindIdEdit), WM_KEYDOWN, VK_RETURN, 1);
}

std::string AnswerOnFindBox(DWORD pid, HWND box, DWORD timeout_ms)
{
    HWND message = save_as::WaitBox(pid, box, timeout_ms);
    if (message == nullptr)
        return "";
    const std::string text = save_as::BoxText(message);
    save_as::Press(message, IDOK);
    gui::WaitUntil([&] { return !IsWindow(message); }, timeout_ms);
    return text;
}

void CloseFindBox(HWND box, DWORD timeout_ms)
{
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    gui::WaitUntil([&] { return !IsWindow(box); }, timeout_ms);
}

std::string FollowTitle(uint32_t id)
{
    return "跟踪标签 " + std::to_string(id);
}

std::vector<HWND> FollowWindows(DWORD pid, const std::string &title)
{
    Search s{pid, title, {}};
    EnumWindows(MatchFollowWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitFollowWindow(DWORD pid, uint32_t id, DWORD timeout_ms)
{
    std::vector<HWND> found;
    gui::WaitUntil([&] { return !(found = FollowWindows(pid, FollowTitle(id))).empty(); }, timeout_ms);
    return found.empty() ? nullptr : found.front();
}

HWND FollowThroughFindBox(HWND main, DWORD pid, uint32_t id, DWORD timeout_ms)
{
    HWND box = OpenFindBox(main, pid, timeout_ms);
    if (box == nullptr)
        return nullptr;
    gui::SetText(box, tarnwick::kFindIdEdit, std::to_string(id));
    gui::ClickAsync(box, tarnwick::kFindFollowButton);
    HWND window = WaitFollowWindow(pid, id, timeout_ms);
    CloseFindBox(box, timeout_ms);
    return window;
}

void PostClick(HWND control)
{
    const LPARAM at = MAKELPARAM(5, 5);
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(control, WM_LBUTTONUP, 0, at);
}

void PostDoubleClick(HWND control)
{
    PostClick(control);
    const LPARAM at = MAKELPARAM(5, 5);
    PostMessageA(control, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(control, WM_LBUTTONUP, 0, at);
}

} // namespace follow
