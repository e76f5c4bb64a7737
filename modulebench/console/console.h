// Pellfray's remote debug console: a raw line console on TCP port 23 for one
// terminal at a time.
//
// The main window starts it once with ConsoleInit; from then on the accept
// thread serves clients one after another, until the program stops it at
// exit with ConsoleStop. The client's bytes
// go through a small line editor (erase, tab; no echo of ordinary bytes) and
// every CR runs the line: "help", "bye" or a registered command. Any thread
// may write a diagnostic message to the connected terminal with
// ConsolePrintf; with nobody connected the message is dropped.
#pragma once

#include <cstdint>

#if defined(__MINGW32__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define CONSOLE_PRINTF_FORMAT
#endif

// A command handler gets the second to fifth words of the line; a word the
// line did not supply is a null pointer. The words live in the console's line
// and are valid only during the call.
typedef void (*ConsoleHandler)(char *arg1, char *arg2, char *arg3, char *arg4);

// One entry of the command table. name and help are static texts of the
// caller; the table keeps only the pointers.
struct ConsoleCommand
{
    const char *name;
    ConsoleHandler handler;
    const char *help;
};

constexpr int kConsoleMaxCommands = 20;
constexpr int kConsoleMaxMessage = 128; // bytes sent of one ConsolePrintf

// Called once from the main window's WM_CREATE. Starts listening on port 23
// and the accept thread; a failure leaves the console off without a report.
void ConsoleInit();

// Winsock, the listening socket on port 23 and the accept thread.
void ConsoleStart();

// Why the last start left the console off, as one line for the program's
// log (port 23 taken by another program or a second Pellfray, no right to
// it, a failed call with its error code); empty when it listens. Written by
// the start (GUI thread, before the main dialog exists), read afterwards.
const char *ConsoleStartProblem();

// The accept thread: serves clients one after another until ConsoleStop.
void ConsoleAcceptThread();

// At exit, before the program's statics go: ends the current client, stops
// the accept thread (waiting a bounded time for it), closes the listening
// socket and empties the line and the command table, so that the console
// can also be started again (the tests do). ConsolePrintf keeps working
// meanwhile and sends nothing once the client is gone.
void ConsoleStop();

// Splits the current line into words and runs it. Accept thread only.
void ConsoleExecuteLine();

// printf-style message of at most 128 bytes to the connected terminal; any
// thread. No line break is added.
void ConsolePrintf(const char *format, ...) CONSOLE_PRINTF_FORMAT;

// Appends a command to the table; with 20 registered the call does nothing.
void ConsoleRegisterCommand(const char *name, ConsoleHandler handler, const char *help);
