// The HEX发送 helpers: the CRC after the typed bytes and the history of the
// texts sent, also as read back from damaged settings.
#include "modulebench/hex_send_extras.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(AppendCrc16, GoesAfterTheTypedBytesHighByteFirst)
{
    struct Case {
        std::vector<uint8_t> typed;
        std::vector<uint8_t> sent;
    };
    const Case cases[] = {
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x0A, 0x84}},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01}, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0xC0, 0xE5}},
        {{0x12}, {0x12, 0x4D, 0x3F}},
    };
    for (const Case &c : cases) {
        uint8_t bytes[kHexSendCapacity] = {};
        std::copy(c.typed.begin(), c.typed.end(), bytes);
        const uint32_t count = AppendCrc16(bytes, static_cast<uint32_t>(c.typed.size()));
        EXPECT_EQ(c.sent, std::vector<uint8_t>(bytes, bytes + count));
    }
    // The most that can be typed still has room for its CRC.
    uint8_t full[kHexSendCapacity];
    std::fill(full, full + kHexMaxBytes, 0xA5);
    EXPECT_EQ(kHexMaxBytes + 2, AppendCrc16(full, kHexMaxBytes));
}

TEST(HexHistory, KeepsTheLastTwentyNewestFirstEachOnce)
{
    HexHistory history;
    for (int i = 0; i < 25; ++i) {
        const std::string text = std::to_string(10 + i);
        ASSERT_TRUE(history.Push(text.data(), text.size()));
    }
    ASSERT_EQ(kHexHistoryMax, history.entries().size());
    EXPECT_EQ("34", history.entries().front());
    EXPECT_EQ("15", history.entries().back());
    // Sent again: to the front, not twice.
    ASSERT_TRUE(history.Push("20", 2));
    EXPECT_EQ(kHexHistoryMax, history.entries().size());
    EXPECT_EQ("20", history.entries()[0]);
    EXPECT_EQ("34", history.entries()[1]);
    EXPECT_EQ("15", history.entries().back());
}

TEST(HexHistory, KeepsOnlyTextsThatCouldBeSent)
{
    struct Case {
        std::string text;
        std::string kept; // empty: not kept
    };
    const std::string longest(kHexTextMaxChars, 'A');
    const Case cases[] = {
        {"01 02 0A FF ", "01 02 0A FF"},
        {"\r\n01\t02\r\n", "01 02"},
        {"ab cd", "ab cd"},
        {"0G", ""},
        {"   ", ""},
        {"A", ""},           // not one byte
        {"01 \xC4\xE3", ""}, // not hex
        {longest, longest},
        {longest + "A", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.kept, HexHistoryEntry(c.text.data(), c.text.size())) << c.text;
        HexHistory history;
        EXPECT_EQ(!c.kept.empty(), history.Push(c.text.data(), c.text.size())) << c.text;
        EXPECT_EQ(c.kept.empty() ? 0u : 1u, history.entries().size());
    }
}

TEST(HexHistory, ReadBackDropsWhatIsDamagedDoubledOrTooMany)
{
    std::vector<std::string> stored = {"01 02", "", "zz", "01 02", "\r\n03", "AB", std::string(2000, '1')};
    for (int i = 0; i < 30; ++i)
        stored.push_back(std::to_string(40 + i));
    HexHistory history;
    history.Push("77", 2);
    history.Assign(stored);
    ASSERT_EQ(kHexHistoryMax, history.entries().size());
    EXPECT_EQ("01 02", history.entries()[0]);
    EXPECT_EQ("AB", history.entries()[1]);
    EXPECT_EQ("40", history.entries()[2]);
    EXPECT_EQ("57", history.entries().back());
}

} // namespace
