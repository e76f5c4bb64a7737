// Entry points of the console below its public interface: the start-up on a
// chosen port that ConsoleStart uses for port 23, the line editor, and what
// the tests need to run one console after another in a single process.
#pragma once

#include <cstdint>

// Everything ConsoleStart does, on the given port (0: any free port).
void ConsoleStartOnPort(uint16_t port);

// Feeds one received chunk to the line editor. Accept thread only.
void ConsoleEditChunk(const char *bytes, int count);

// The port the console listens on, 0 while it is off.
uint16_t ConsoleListeningPort();

// Tests only; the program never stops its console. Ends the current client,
// waits for the accept thread to finish, closes the listening socket and
// empties the line and the command table, so that ConsoleStartOnPort can run
// again. No other thread may use the console while this runs, except
// ConsolePrintf, which keeps working (it sends nothing once the client is gone).
void ConsoleStopForTest();
