// log_copy_measure: the time Pellfray's copy takes for a whole log list.
// Not a test: it prints figures and asserts nothing but that the clipboard
// holds what was copied.
//
//   log_copy_measure [LINES] [RUNS]
//
// In one process, on a hidden window: a list box of the log list's style is
// filled with LINES log lines of a 9-byte wake-up frame (default 100 000, the
// list's bound, plus the head line), then the program's own copy
// (CopyListLines, as 复制全部行 calls it) is timed RUNS times (default 3).
// The clipboard is read back after each run and its length checked.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "modulebench/win32/log_copy_win32.h"
#include "tools/driver/line_faults.h"

namespace {

using faults::NowMs;

const char kHead[] = "[ - ] 12345 lines let go\r\n";
const char kLine[] = "[ R 03:12:45.123 ] ff ff ff ff 00 12 34 56 78\r\n";

size_t ClipboardChars()
{
    size_t chars = 0;
    if (!OpenClipboard(nullptr))
        return 0;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t *text = data != nullptr ? static_cast<const wchar_t *>(GlobalLock(data)) : nullptr;
    if (text != nullptr) {
        chars = std::wcslen(text);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return chars;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;

    HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND list = CreateWindowExA(0, "LISTBOX", "",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT, 0,
                                0, 400, 300, parent, reinterpret_cast<HMENU>(1), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kHead));
    for (int i = 0; i < lines; ++i)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
    const size_t count = static_cast<size_t>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    const size_t expected = (sizeof kHead - 1) + static_cast<size_t>(lines) * (sizeof kLine - 1);

    // The reading alone, for comparison: every line fetched as the copy
    // fetches it, nothing handed to the clipboard.
    {
        wchar_t buffer[256];
        const double t = NowMs();
        for (size_t i = 0; i < count; ++i) {
            SendMessageW(list, LB_GETTEXTLEN, i, 0);
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer));
        }
        std::printf("reading %zu lines alone: %.0f ms\n", count, NowMs() - t);
    }
    for (int run = 0; run < runs; ++run) {
        const double t = NowMs();
        const bool copied = CopyListLines(parent, list, 0, count);
        const double ms = NowMs() - t;
        const size_t chars = ClipboardChars();
        std::printf("copy of %zu lines (%zu characters): %.0f ms, %s, clipboard %s\n", count, expected, ms,
                    copied ? "copied" : "FAILED", chars == expected ? "holds them all" : "WRONG");
    }
    DestroyWindow(parent);
    return 0;
}
