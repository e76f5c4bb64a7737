// listbox_trim_measure: what it costs a list box to hold a log of a bounded
// length, for the choice of how Pellfray's log list lets old lines go. Not a
// test: it prints figures and asserts nothing.
//
//   listbox_trim_measure [LINES] [STEPS]
//
// In one process, on a hidden window: a standard string list box (the log
// list's own style) is filled with LINES log-sized lines (default 100 000);
// then STEPS more lines (default 2000) are added
//   a) alone (the list grows: the floor of this run),
//   b) each with LB_DELETESTRING(0) first (the list keeps LINES),
// and the same again on an owner-drawn list without data (LBS_NODATA), where
// a new line is only a count and a top index to set. Both lists have
// drawing switched off (WM_SETREDRAW), as Pellfray's list has while it takes
// a batch of lines. LB_RESETCONTENT is timed on the full string list. Every
// figure is also given as a ratio to the floor (a), so that runs on
// different machines compare.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/driver/line_faults.h"

namespace {

using faults::NowMs;

// A line as long as a log line of one 9-byte wake-up frame.
const char kLine[] = "[ R 03:12:45.123 ] ff ff ff ff 00 12 34 56 78\r\n";

LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_MEASUREITEM) {
        reinterpret_cast<MEASUREITEMSTRUCT *>(lp)->itemHeight = 14;
        return TRUE;
    }
    return DefWindowProcA(w, m, wp, lp);
}

HWND MakeList(HWND parent, DWORD extra_style)
{
    return CreateWindowExA(0, "LISTBOX", "",
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT |
                               extra_style,
                           0, 0, 400, 300, parent, reinterpret_cast<HMENU>(1), GetModuleHandleA(nullptr), nullptr);
}

double PerLineUs(double ms, int steps)
{
    return 1000.0 * ms / steps;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int steps = argc > 2 ? std::atoi(argv[2]) : 2000;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ListTrimMeasure";
    RegisterClassA(&wc);
    HWND parent = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                  wc.hInstance, nullptr);

    // --- string list ---------------------------------------------------------
    HWND list = MakeList(parent, 0);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    double t = NowMs();
    for (int i = 0; i < lines; ++i)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
    const double fill_ms = NowMs() - t;

    t = NowMs();
    for (int i = 0; i < steps; ++i)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
    const double add_ms = NowMs() - t;
    const double floor_us = PerLineUs(add_ms, steps);

    t = NowMs();
    for (int i = 0; i < steps; ++i) {
        SendMessageA(list, LB_DELETESTRING, 0, 0);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLine));
    }
    const double trim_ms = NowMs() - t;
    const double trim_us = PerLineUs(trim_ms, steps);

    // Once per batch of lines the list is scrolled.
    t = NowMs();
    for (int i = 0; i < steps; ++i)
        SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(lines - (i & 1)), 0);
    const double top_us = PerLineUs(NowMs() - t, steps);

    const LRESULT count_before_reset = SendMessageA(list, LB_GETCOUNT, 0, 0);
    t = NowMs();
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    const double reset_ms = NowMs() - t;

    // --- owner-drawn list without data -----------------------------------------
    HWND nodata = MakeList(parent, LBS_OWNERDRAWFIXED | LBS_NODATA);
    SendMessageA(nodata, WM_SETREDRAW, FALSE, 0);
    const LRESULT set = SendMessageA(nodata, LB_SETCOUNT, static_cast<WPARAM>(lines), 0);
    t = NowMs();
    for (int i = 0; i < steps; ++i) // a full ring: the count stays
        SendMessageA(nodata, LB_SETCOUNT, static_cast<WPARAM>(lines), 0);
    const double nodata_ms = NowMs() - t;
    const double nodata_us = PerLineUs(nodata_ms, steps);
    t = NowMs();
    SendMessageA(nodata, LB_SETCOUNT, 0, 0);
    const double nodata_clear_ms = NowMs() - t;

    std::printf("string list: %d lines filled in %.0f ms (%.1f us a line)\n", lines, fill_ms,
                PerLineUs(fill_ms, lines));
    std::printf("string list at %d lines, %d more lines: add alone %.1f us a line (the floor)\n", lines, steps,
                floor_us);
    std::printf("string list at %d lines, %d more lines: delete line 0 + add %.1f us a line = %.1f x the floor\n",
                lines, steps, trim_us, trim_us / floor_us);
    std::printf("string list: LB_RESETCONTENT of %ld lines %.1f ms\n", static_cast<long>(count_before_reset),
                reset_ms);
    std::printf("string list at %d lines: LB_SETTOPINDEX %.1f us = %.1f x the floor\n", lines, top_us,
                top_us / floor_us);
    std::printf("owner-drawn list without data (LB_SETCOUNT %s): the count set per line %.1f us = %.2f x "
                "the floor; emptied in %.2f ms\n",
                set == LB_ERR ? "REFUSED" : "taken", nodata_us, nodata_us / floor_us, nodata_clear_ms);
    std::printf("at 430 lines a second, trimming the string list costs %.0f ms of GUI time a second; the "
                "owner-drawn list %.1f ms\n",
                430 * (trim_us - floor_us) / 1000, 430 * nodata_us / 1000);
    DestroyWindow(parent);
    return 0;
}
