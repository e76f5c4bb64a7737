// Driving a real program's window from another process, as a user would.
//
// The end-to-end tests and the run script's driver start Tarnwick.exe or
// Pellfray.exe, find the main window by its class, and work the main dialog's
// controls with the same messages a user's clicks and keys produce:
// BM_CLICK, WM_CHAR, combo selection. Standard controls marshal their string
// messages across processes, so texts can be read back directly. Waiting is
// done by polling with a deadline: nothing here blocks without a bound.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gui {

// A started program; the destructor ends it if it is still running.
class Program {
public:
    Program() = default;
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    ~Program();

    // Starts exe (path relative to the current directory or absolute).
    bool Start(const std::string &exe, const std::string &args = "");
    // Waits for the process to end; returns false on time-out.
    bool WaitExit(DWORD timeout_ms, DWORD *exit_code = nullptr);
    void Kill();
    HANDLE process() const { return process_; }
    DWORD pid() const { return pid_; }

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// Top-level window of the given class that belongs to process pid (0: any).
HWND WaitForWindow(const char *class_name, DWORD pid, DWORD timeout_ms);
// First child dialog ("#32770") of a main window.
HWND WaitForChildDialog(HWND main, DWORD timeout_ms);
// A top-level dialog owned by owner's process with the given title (modal boxes).
HWND WaitForPopup(DWORD pid, const char *title_or_null, DWORD timeout_ms);
// Visible top-level dialogs of process pid (its message boxes, for one).
int CountPopups(DWORD pid);
HWND Control(HWND dialog, int id);

std::string Text(HWND window);
std::string Text(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
bool Checked(HWND dialog, int id);
void SetText(HWND dialog, int id, const std::string &text);

// BM_CLICK is sent, so the call returns once the program has handled the
// click (including any modal box that blocks inside the handler: use
// ClickAsync for those).
void Click(HWND dialog, int id);
void ClickAsync(HWND dialog, int id);
// One WM_CHAR per byte, as typing would produce.
void Type(HWND dialog, int id, const std::string &chars);

int ComboCount(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);
std::string ComboItem(HWND dialog, int id, int index);
std::vector<std::string> ComboItems(HWND dialog, int id);
// Selects the entry whose text is exactly text; false when there is none.
bool ComboSelect(HWND dialog, int id, const std::string &text);

int ListCount(HWND dialog, int id);
std::string ListItem(HWND dialog, int id, int index);

// Polls pred every 10 ms until it holds or timeout_ms passes.
template <class Pred> bool WaitUntil(Pred pred, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (pred())
            return true;
        if (GetTickCount() - start >= timeout_ms)
            return false;
        Sleep(10);
    }
}

// Pixels of a window as shown on the screen (the window must be visible and
// on top). Row-major, top row first, 0x00RRGGBB.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
bool CaptureWindow(HWND window, Capture *out);
// Writes a 24-bit BMP (ImageMagick turns it into PNG).
bool SaveBmp(const Capture &capture, const std::string &path);
// Screen rectangle of a control, relative to the captured window's top-left.
RECT ControlRectIn(HWND window, HWND control);

// Wine maps the host's first serial device to COM1 for every session; tests
// and the run driver must never touch a port they did not create.
void RemoveWineAutoCom1();

} // namespace gui
