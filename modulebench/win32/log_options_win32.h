// The log's options in Pellfray's system menu: 毫秒时间 (millisecond time
// stamps, with a check mark while on) and the recording's item, whose text
// says what choosing it does (开始记录… or 停止记录).
//
// The time stamp choice holds for lines logged from then on and is
// remembered per user, for the next start: the DWORD MillisecondTimes
// (1: milliseconds, 0 or missing: whole seconds) under
// HKEY_CURRENT_USER\Software\RfidBench\Pellfray. GUI thread.
#pragma once

#include <windows.h>

// The choice remembered for this user (false when none is).
bool LoadMillisecondChoice();

// 毫秒时间 chosen: switches and remembers.
void ToggleMillisecondsCommand(HWND main_window);

// Just before the system menu opens: the check mark and the recording's
// item text.
void UpdateLogMenu(HWND main_window, HMENU menu);
