// Follow windows: one tag's signal and distance over the last ten minutes,
// live, in a top-level window of its own owned by the main window.
//
// Each window refreshes four times a second from one short locked copy of
// its tag (SnapshotFollowedTag), updates the texts that changed and redraws
// the plot (double-buffered) only when the picture changed, which at one
// point a second is about once a second. 暂停 freezes the window while the
// table goes on keeping the tag's history; 保存历史… writes the picture's
// data as CSV through the same Save As path as the table export. When the
// port closes the picture stops where the data stops; when the table is reset
// the window says that the tag is no longer in the table and keeps its last
// picture until the tag reports again.
//
// One window per tag (asking again brings it forward), at most
// kMaxFollowWindows at once. Each window owns its state and GDI objects and
// frees them when destroyed, in whatever order windows are closed; the main
// window's destruction takes its owned windows with it. GUI thread only.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int kMaxFollowWindows = 16;

// The class name of follow windows (for finding them from outside).
extern const char kFollowWindowClass[];

// Opens (or brings forward) the window of tag id, owned by owner. Returns
// the window, or null when kMaxFollowWindows are open (the user is told).
HWND OpenFollowWindow(HWND owner, uint32_t id);

// The font the main dialog uses, for the find box's siblings to match.
void SetFollowWindowFont(HFONT font);
