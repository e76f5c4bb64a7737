// Parsing the hand-typed hex of the send field.
//
// The text is walked in pairs after any run of separators: "0102" gives
// 01 02, "ABC" gives AB (a lone last digit is ignored), "A BC" gives BC (a
// digit followed by a separator is dropped with it), spaces only give
// nothing. Separators are space, TAB, CR and LF; a-f count like A-F, so a
// line copied from the (lower-case) log sends what it shows. Any other
// character makes the whole text a format error: nothing may be sent.
#pragma once

#include <cstddef>
#include <cstdint>

// Only the first 1023 characters are read (the field is read into 1024
// bytes), which can make at most 511 bytes.
constexpr size_t kHexTextMaxChars = 1023;
constexpr size_t kHexMaxBytes = 511;

extern const char kHexFormatErrorText[]; // "HEX数据格式错误"

struct HexParseResult {
    bool format_error; // a character outside hex digits and separators
    uint32_t count;    // bytes written to out; 0 also when format_error
};

// Parses text[0 .. min(length, 1023)) into out, which holds at least 511
// bytes. Characters beyond the first 1023 are neither read nor checked.
HexParseResult ParseHexText(const char *text, size_t length, uint8_t *out);
