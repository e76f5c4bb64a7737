// Pellfray's traffic log on screen: the log list 1000, the byte counter
// labels 1020 (sent) and 1021 (received) and the status label 1023.
//
// Every change of the list and the counters happens on the GUI thread. A call
// from another thread (the chunk processor) is carried over with one
// SendMessage of kLogLineMessage to the dialog and waits until the GUI thread
// has added the line; so a counter addition, its label and its list line
// always happen together, and a clear (also on the GUI thread) can never fall
// between them: the labels always equal the bytes of the lines shown since
// the last clear.
#pragma once

#include <windows.h>

#include <cstdint>

// Private message of the main dialog; lParam points at a LogLineRequest of
// the sending thread, valid for the length of the SendMessage.
constexpr UINT kLogLineMessage = WM_APP + 1;

struct LogLineRequest {
    char direction; // 'R' or 'S'
    uint32_t count;
    const uint8_t *bytes;
};

// GUI thread, during WM_INITDIALOG: looks up the controls and remembers the
// dialog and the GUI thread. Until then the log operations do nothing.
void TrafficLogAttach(HWND dialog);

// The dialog's handler of kLogLineMessage (GUI thread).
void TrafficLogOnMessage(LPARAM request);

// Any thread. One "[ R hh:mm:ss ] .." / "[ S ..]" line plus the counter.
void LogReceived(uint32_t count, const uint8_t *bytes);
void LogSent(uint32_t count, const uint8_t *bytes);

// GUI thread: both labels "0", the list emptied, both counters 0.
void ClearTrafficLog();

// Any thread: the text of the status label 1023.
void ShowConfigStatus(const char *text);

// Sets both labels to "0" and both counters to 0 without touching the list
// (the dialog's initialisation).
void ResetTrafficCounters();
