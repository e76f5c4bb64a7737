// Command-line values of the simulators, parsed strictly.
//
// The tools are run by hand on a bench and from scripts that measure loss, so
// a typo must stop the program with a message rather than quietly send
// something else: every parser takes the whole text or fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The value of a hex digit (either case), or -1.
int HexDigit(char c);

// Decimal or 0x-prefixed hexadecimal, no sign, at most max.
bool ParseUnsigned(const char *text, uint64_t max, uint64_t *value);

// Decimal with an optional sign, within [min, max].
bool ParseInt(const char *text, long min, long max, long *value);

// Non-negative decimal number such as "2.5".
bool ParseNumber(const char *text, double *value);

// A fraction "0.05" or a percentage "5%", within 0..1.
bool ParseProbability(const char *text, double *value);

// "1000-1012", "1,5,0x80000000", "1-3,10": IDs in the order given, ranges
// inclusive and ascending. Refuses more than max_count IDs in all.
bool ParseTagList(const char *text, size_t max_count, std::vector<uint32_t> *ids);

// "-70..-30": two signed numbers within [min, max], low..high, low <= high.
bool ParseIntRange(const char *text, long min, long max, long *low, long *high);

// "01 02 0a", "01,02,0A", "0102", "12:34": bytes as hex pairs; spaces, tabs,
// commas and colons separate; each token must hold an even number of digits.
bool ParseHexBytes(const char *text, std::vector<uint8_t> *bytes);

// "ID", "ID:PERIOD" or "ID:PERIOD:GONE": a tag ID (decimal or 0x hex), and
// seconds as non-negative numbers; PERIOD defaults to 60, GONE to 0. PERIOD
// must be above 0 and GONE below PERIOD.
bool ParseMoveOption(const char *text, uint32_t *id, double *period_s, double *gone_s);

} // namespace sim
