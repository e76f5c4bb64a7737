// Finding a tag in Tarnwick's grid, and the ways into a tag's follow window.
//
// 查找标签… in the system menu, or Ctrl+F in any of Tarnwick's windows, opens
// the find box: a modeless dialog owned by the main window, which stays open
// until closed so that one tag after another can be looked up. Enter (查找)
// turns the main dialog to the page that holds the tag and marks its row with
// a blue frame drawn over the cells' own colours; the mark follows the tag by
// ID while it stays on that page and goes when the page changes (paging, a
// reset). 跟踪 opens the tag's follow window; so does a double-click on a row
// of the grid. Bad input and IDs that are not in the table are answered with
// a message on the find box and change nothing.
//
// The main dialog calls the hooks below at the few places where the grid
// meets these features; everything else is here. GUI thread only.
#pragma once

#include <windows.h>

// System menu item: opens the find box, or brings it forward.
void OpenFindBox(HWND main_window);

// The shell's pre_translate: Ctrl+F, and the find box's keyboard (Enter,
// Esc, Tab). True when the message was handled here.
bool TarnwickPreTranslate(MSG *message);

// --- hooks of the main dialog ----------------------------------------------

// End of the dialog's initialisation, with the grid cells in place: the
// cells also report double-clicks (SS_NOTIFY).
void PrepareGridForFinding(HWND dialog);
// The grid is about to show page page_index: a mark on another page goes.
void NoteGridPage(int page_index);
// The table and the display were emptied.
void ClearGridMark();
// After cell k (0..77 in grid order) has been painted: the frame of a
// marked row.
void DrawGridMark(const DRAWITEMSTRUCT *item, int cell);
// Every WM_COMMAND of the dialog: a double-click on a tag row opens the
// tag's follow window. Other commands are not looked at.
void OnGridCommand(int control_id, int notification);
