// Pellfray's traffic log on screen: the log list 1000, the byte counter
// labels 1020 (sent) and 1021 (received) and the status label 1023.
//
// Every change of the list, the counters and the labels happens on the GUI
// thread. A call from another thread (the chunk processor) formats its line
// with the time of the call, leaves it in the hand-off queue and posts
// kLogLineMessage to the dialog when no such message is outstanding; it never
// waits for the GUI thread. The GUI thread takes all pending entries on that
// message and before everything it logs, clears or shows itself, so the
// order of lines and status texts is the order of the calls, a counter
// addition, its label and its list line happen together, and the labels
// always equal the bytes of the lines shown since the last clear.
//
// The list keeps the newest lines only (log_view.h): past the bound the
// oldest go from the list, a head line says how many, and the counters go on
// counting everything. The view follows the newest line unless the user has
// scrolled up to read. Time stamps are whole seconds or milliseconds, as the
// user chose (remembered per user, log_options_win32.h); a running recording
// (recording_win32.h) gets every traffic line and note as it is logged,
// always with millisecond time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "modulebench/log_search.h"

// Private message of the main dialog: lines are waiting in the hand-off.
constexpr UINT kLogLineMessage = WM_APP + 1;

// GUI thread, during WM_INITDIALOG: looks up the controls and remembers the
// dialog and the GUI thread. Until then the log operations do nothing.
void TrafficLogAttach(HWND dialog);

// The dialog's handler of kLogLineMessage (GUI thread): shows every pending
// line and status text.
void TrafficLogOnMessage();

// Any thread. One "[ R hh:mm:ss ] .." / "[ S ..]" line plus the counter
// ("hh:mm:ss.mmm" with millisecond times).
void LogReceived(uint32_t count, const uint8_t *bytes);
void LogSent(uint32_t count, const uint8_t *bytes);

// Any thread. One "[ ! hh:mm:ss ] text" line of the program's own, in order
// with the traffic lines; counted by neither counter.
void LogNote(const char *text);

// GUI thread: both labels "0", the list emptied, both counters 0.
void ClearTrafficLog();

// GUI thread: time stamps in milliseconds (or whole seconds) for the lines
// logged from now on; read by any thread.
void SetLogMilliseconds(bool on);
bool LogMilliseconds();

// Any thread: the text of the status label 1023.
void ShowConfigStatus(const char *text);

// GUI thread: how many lines the list let go since it was last emptied,
// and how often it was emptied (finding lines in it, log_find_win32.h).
LogListState TrafficLogListState();

// Sets both labels to "0" and both counters to 0 without touching the list
// (the dialog's initialisation).
void ResetTrafficCounters();
