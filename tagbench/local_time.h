// Local wall-clock time for what Tarnwick shows and saves about when things
// happened (first and last seen, the follow window's time axis, the files).
//
// The tag histories keep milliseconds of a monotonic clock, which never
// jumps while the program runs. A WallClock pairs that clock with the local
// date and time at one moment (the caller reads both together, GUI thread);
// every other moment is placed relative to it. Local time is counted as
// seconds since 1970-01-01 00:00 local, so the arithmetic here knows nothing
// of time zones and is the same on every host.
#pragma once

#include <cstdint>
#include <string>

struct WallClock {
    int64_t steady_ms; // the history clock at one moment
    int64_t local_ms;  // local date and time at that moment, ms since 1970-01-01 00:00 local
};

// a / b rounded toward minus infinity (b > 0).
int64_t FloorDivide(int64_t a, int64_t b);
// The whole second a millisecond count falls in.
inline int64_t SecondOfMs(int64_t ms) { return FloorDivide(ms, 1000); }

// Seconds since 1970-01-01 00:00 of a local date and time.
int64_t LocalSecondsFromCivil(int year, int month, int day, int hour, int minute, int second);
// Local time, whole seconds (rounded down), of a history-clock moment.
int64_t LocalSecondsAt(const WallClock &clock, int64_t steady_ms);
// "YYYY-MM-DD HH:MM:SS" and "HH:MM:SS".
std::string FormatLocalDateTime(int64_t local_seconds);
std::string FormatLocalClock(int64_t local_seconds);
