// Working a program's save command from another process, as a user would:
// pick the item in the system menu, fill in the Save As dialog's file name
// and press Save (or Cancel), answer the boxes that follow, and read back the
// file. Every wait has a deadline.
#pragma once

#include <windows.h>

#include <string>

#include "shell/win32/shell_resources.h"

namespace save_as {

// Picks the program's own system menu item (WM_SYSCOMMAND, posted: the
// program then sits in the modal dialog) and waits for the Save As dialog of
// process pid. Null when none appeared within timeout_ms. command is the
// item's: the save item unless told otherwise (Pellfray's recording).
HWND OpenFromSystemMenu(HWND main, DWORD pid, DWORD timeout_ms, UINT command = IDM_SYSTEM_SAVE);

// The dialog's file name field and its text (UTF-8).
HWND FileNameField(HWND dialog);
std::string FileName(HWND dialog);

// Types path (UTF-8) into the file name field and presses Save; or Cancel.
void SaveTo(HWND dialog, const std::string &path);
void Cancel(HWND dialog);

// Waits until process pid shows no top-level dialog any more: the Save As
// dialog and whatever box it raised are gone.
bool WaitDialogsGone(DWORD pid, DWORD timeout_ms);

// A top-level dialog of pid other than the Save As dialog (an overwrite
// question or a failure message), its text (UTF-8: the texts of its static
// controls, one per line), and pressing one of its buttons by id.
HWND WaitBox(DWORD pid, HWND not_this, DWORD timeout_ms);
std::string BoxText(HWND box);
void Press(HWND box, int id);

// Bytes of a file, or false when it cannot be read.
bool ReadFileBytes(const std::string &path, std::string *bytes);
// The program writes after its dialog has closed: waits until the file can
// be read (it appears complete, by a rename) and returns its bytes, or
// "(no file)" after timeout_ms.
std::string WaitFileBytes(const std::string &path, DWORD timeout_ms);
// Texts of the dialogs pid still shows (for a failure message).
std::string OpenDialogs(DWORD pid);
// Names (UTF-8) of the files in a folder, sorted.
std::string ListFolder(const std::string &folder);
// A new empty folder under the temporary folder.
std::string MakeEmptyFolder(const char *prefix);

// Text in the system's code page (what the ...A API hands out) to UTF-8.
std::string AnsiToUtf8(const std::string &text);

} // namespace save_as
