// Saving what a program shows to a file the user picks, shared by both
// programs' system-menu commands (Pellfray's log, Tarnwick's tag table).
//
// The user picks the target in the standard Save As dialog; cancelling it
// does nothing. The text is produced only after the dialog has closed, so it
// is what the window shows at the moment of saving. It goes to a temporary
// file beside the target, which is flushed and closed and only then renamed
// over the target: a failure at any step (folder read-only, disk full, name
// refused) leaves an existing target as it was and no temporary file behind,
// and is reported in a message box naming the file and the system's reason.
// The program goes on either way.
//
// Everything here runs on the GUI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct SaveRequest {
    const wchar_t *name_prefix;   // default name: prefix-YYYYMMDD-HHMMSS.ext
    const wchar_t *extension;     // without the dot; also what the dialog appends
    UINT filter_string;           // string resource: "text|pattern|text|pattern|"
};

// Save As, produce, write, report. Returns true when the file was written.
bool SaveThroughDialog(HWND owner, const SaveRequest &request, const std::function<std::string()> &produce);

// The Save As dialog alone: the path the user confirmed (asked first
// whether to replace an existing file), or false when he cancelled.
bool AskSavePath(HWND owner, const SaveRequest &request, std::wstring *path);

// The default file name for a local time.
std::wstring DefaultSaveName(const wchar_t *prefix, const SYSTEMTIME &time, const wchar_t *extension);

// Writes bytes to a temporary file beside path and renames it over path.
// Returns 0 on success, else the system error code of the failing step.
DWORD WriteFileReplacing(const std::wstring &path, const std::string &bytes);

// Message box on owner: the file and the system's text for error.
void ShowSaveFailure(HWND owner, const std::wstring &path, DWORD error);
// The same under another heading (string resource heading_id).
void ShowFileFailure(HWND owner, UINT heading_id, const std::wstring &path, DWORD error);

// Text conversions for files, which hold UTF-8.
std::string WideToUtf8(const std::wstring &text);
// Text in code page code_page (GBK is 936) to UTF-8.
std::string CodePageToUtf8(UINT code_page, const char *text);
