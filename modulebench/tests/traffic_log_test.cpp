// Log lines and byte counters.
#include "modulebench/hex_text.h"
#include "modulebench/traffic_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(TrafficLogLine, ReceivedAndSentLinesInLowerCaseHex)
{
    std::string line;
    const uint8_t bytes[] = {0x01, 0xAB, 0xFF};
    FormatLogLine('R', 9, 5, 7, bytes, 3, line);
    EXPECT_EQ(line, "[ R 09:05:07 ] 01 ab ff\r\n");

    // What HEX发送 of "01 02 0A FF " logs.
    uint8_t parsed[kHexMaxBytes];
    const char text[] = "01 02 0A FF ";
    const HexParseResult r = ParseHexText(text, std::strlen(text), parsed);
    FormatLogLine('S', 23, 59, 0, parsed, r.count, line);
    EXPECT_EQ(line, "[ S 23:59:00 ] 01 02 0a ff\r\n");

    // No caller logs 0 bytes, but the line stays well formed.
    FormatLogLine('S', 0, 0, 0, nullptr, 0, line);
    EXPECT_EQ(line, "[ S 00:00:00 ]\r\n");
}

TEST(TrafficCounters, LabelText)
{
    char text[21];
    EXPECT_STREQ(FormatByteCount(0, text), "0");
    EXPECT_STREQ(FormatByteCount(1234, text), "1234");
    EXPECT_STREQ(FormatByteCount(UINT64_MAX, text), "18446744073709551615");
}

} // namespace
