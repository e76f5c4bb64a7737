// Pellfray's "保存日志…" in the system menu: the traffic log list and the two
// byte counters, as the main dialog shows them when the user confirms the
// Save As dialog, go to a file of the user's choice (text: traffic_log_file.h,
// writing: shell/win32/save_file_win32.h). GUI thread.
#pragma once

#include <windows.h>

void SaveTrafficLogCommand(HWND main_window);
