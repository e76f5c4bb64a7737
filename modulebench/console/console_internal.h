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

// ConsoleStop (console.h) also lets ConsoleStartOnPort run again.
