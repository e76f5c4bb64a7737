// Finding and copying lines of Pellfray's log list.
//
// 查找… in the window menu, or Ctrl+F in any of Pellfray's windows, opens
// the find box: a modeless window of its own, owned by the main window, that
// stays open until closed. 下一个 (Enter, F3) and 上一个 (Shift+F3) look for
// the text or hex bytes typed (log_search.h) from the line found last,
// wrapping round the ends; F3 and Shift+F3 also work with the box closed,
// for the text last looked for. The line found is brought into view and
// framed in blue; the list itself is not changed (it still has no
// selection): the frame is drawn over the list after the list has painted
// itself. The box says which line it is ("第 n 行"), that the search went
// round an end, or "未找到" (F3 with the box closed opens it to say so).
// Lines keep coming while the box is open; when the line found leaves the
// list (the oldest lines go past the list's bound) or the list is emptied,
// the frame goes and the box says so, at once when it is open, else when it
// is opened again.
//
// Copying, as text (CF_UNICODETEXT): Ctrl+C in the log list copies the line
// found while it is framed, otherwise the lines in view; the list's context
// menu offers 复制找到的行 (F), 复制可见的行 (V) and 复制全部行 (A) (every line of the
// list, the head line that counts the lines let go included) and 查找….
// A copy that fails is reported in a message box. GUI thread only.
#pragma once

#include <windows.h>

// End of the main dialog's initialisation: takes over the log list's
// painting (for the frame) and context menu.
void AttachLogFind(HWND dialog);

// System menu item 查找…: opens the find box or brings it forward.
void OpenLogFindBox(HWND main_window);

// The shell's pre_translate: Ctrl+F, F3, Shift+F3, Ctrl+C in the log list
// and the find box's keyboard. True when the message was handled here.
bool LogFindPreTranslate(MSG *message);
