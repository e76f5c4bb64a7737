// What the HEX发送 helpers add to the typed hex: the CRC the module's frames
// carry, and the history of the texts sent.
//
// CRC. With 加CRC ticked the CRC-16/MODBUS of the bytes typed goes after
// them, high byte first as in the module's own frames; the bytes sent and
// the S line both include it. The typed bytes keep their limit (511); the
// CRC may make the frame 513 bytes.
//
// History. The last 20 texts sent, newest first, each once: sending a text
// again moves it to the front. A text is kept as one line (CR, LF and TAB
// become spaces, blanks at the ends go) so that it fills the field again
// as typed. What is read back from the user's settings is taken only as far
// as it could have been sent: hex digits and spaces, at most 1023
// characters, at least one byte; anything else is dropped, duplicates and
// entries past the twentieth too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modulebench/hex_text.h"

// Room for the typed bytes and the CRC.
constexpr size_t kHexSendCapacity = kHexMaxBytes + 2;

// Appends the CRC of bytes[0 .. count) at bytes[count], high byte first;
// returns count + 2. bytes holds at least count + 2.
uint32_t AppendCrc16(uint8_t *bytes, uint32_t count);

constexpr size_t kHexHistoryMax = 20;

// The text as the history keeps it; empty when it may not be kept.
std::string HexHistoryEntry(const char *text, size_t length);

class HexHistory {
public:
    // A text that went out; returns false (and keeps nothing) for one that
    // may not be kept.
    bool Push(const char *text, size_t length);
    // Replaces the history with what was read back, checked as above.
    void Assign(const std::vector<std::string> &entries);
    const std::vector<std::string> &entries() const { return entries_; }

private:
    std::vector<std::string> entries_; // newest first
};
