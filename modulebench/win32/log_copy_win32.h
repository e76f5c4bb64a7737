// Copying lines of a list box to the clipboard as text.
//
// The lines are read as UTF-16 straight from the list and built into one
// buffer, each ending in CR LF (the log's lines carry theirs), which goes to
// the clipboard as CF_UNICODETEXT in one piece: 100 000 log lines are a few
// megabytes and a few hundred milliseconds at most, so the GUI thread does
// it in one go. GUI thread.
#pragma once

#include <windows.h>

#include <cstddef>

// Lines [first, end) of list (end clamped to its count). False when the
// clipboard could not be had or filled; nothing is then changed on it.
bool CopyListLines(HWND owner, HWND list, size_t first, size_t end);
