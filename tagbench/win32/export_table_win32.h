// Tarnwick's "导出标签表…" in the system menu: the whole tag table, not just
// the page on show, goes to a CSV file of the user's choice (text:
// tag_csv.h, writing: shell/win32/save_file_win32.h). The table is copied
// under TableLock in one pass and formatted and written after, so capture
// goes on while the file is written. GUI thread.
#pragma once

#include <windows.h>

void ExportTagTableCommand(HWND main_window);
