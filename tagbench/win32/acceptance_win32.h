// Tarnwick's batch check window (批量验收… in the window menu).
//
// A modeless dialog owned by the main window, one at a time (asking again
// brings it forward). The expected tags come from a range (按范围) or from a
// list file (从文件…, tagbench/acceptance.h says what reads); the criteria
// are edited in place, apply as soon as they read and are remembered per
// user (acceptance_settings_win32.h). Once a second, and at once after any
// change, the table is copied in one short hold of TableLock and judged
// outside it: the counts, the verdict, a note when the table was full (the
// judgement may then be incomplete) or the port is closed, and the list of
// tags that do not pass, missing ones first. The list is virtual (the rows
// are drawn from the judgement as they are shown), so refreshing 3000
// failures costs no more than refreshing three; it is coloured by result, and
// a double-click or Enter on a row opens the tag's follow window. The time
// each refresh took on the GUI thread is shown at the bottom (and read by
// the measurement). 导出验收结果… writes the judgement as CSV through the
// same Save As path as the table export. GUI thread only.
#pragma once

#include <windows.h>

// System menu item: opens the window, or brings it forward.
void OpenAcceptanceWindow(HWND main_window);

// The shell's pre_translate part for the window's keyboard (Tab, Enter,
// Esc). True when the message was handled here.
bool AcceptancePreTranslate(MSG *message);
