// Copying lines of a list box to the clipboard as text.
//
// The lines are read as UTF-16 straight from the list into the one block
// of memory that goes to the clipboard as CF_UNICODETEXT, each ending in
// CR LF (the log's lines carry theirs): the lengths first, then the texts,
// with no second copy. 100 000 log lines are some 9 MB and well within a
// second, so the GUI thread does it in one go (tools/measure/
// log_copy_measure times it). GUI thread.
#pragma once

#include <windows.h>

#include <cstddef>

// Lines [first, end) of list (end clamped to its count). False when the
// clipboard could not be had or filled; nothing is then changed on it.
bool CopyListLines(HWND owner, HWND list, size_t first, size_t end);
