// Parsing the hand-typed hex send text.
#include "modulebench/hex_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Outcome and bytes together, so one expectation compares both.
struct Parsed {
    bool format_error;
    Bytes bytes;
    bool operator==(const Parsed &o) const { return format_error == o.format_error && bytes == o.bytes; }
};

Parsed Parse(const std::string &text)
{
    uint8_t out[kHexMaxBytes];
    const HexParseResult r = ParseHexText(text.data(), text.size(), out);
    return {r.format_error, Bytes(out, out + r.count)};
}

Parsed Ok(Bytes bytes)
{
    return {false, std::move(bytes)};
}

const Parsed kFormatError{true, {}};

std::ostream &operator<<(std::ostream &os, const Parsed &p)
{
    if (p.format_error)
        return os << "format error";
    for (uint8_t b : p.bytes)
        os << std::hex << int(b) << ' ';
    return os;
}

TEST(HexText, PairsAreReadTwoCharactersAtATimeAfterSeparators)
{
    EXPECT_EQ(Parse("01 02 0A FF "), Ok({0x01, 0x02, 0x0A, 0xFF}));
    EXPECT_EQ(Parse("0102"), Ok({0x01, 0x02}));
    EXPECT_EQ(Parse("ABC"), Ok({0xAB}));
    EXPECT_EQ(Parse("A BC"), Ok({0xBC}));
    EXPECT_EQ(Parse("   "), Ok({}));
    EXPECT_EQ(Parse(""), Ok({}));
    EXPECT_EQ(Parse("F"), Ok({}));
    EXPECT_EQ(Parse("  00   FF"), Ok({0x00, 0xFF}));
    EXPECT_EQ(Parse("123 45"), Ok({0x12, 0x45})); // "3 " is a lone digit
}

TEST(HexText, LowerCaseDigitsAndLineBreaksAndTabs)
{
    EXPECT_EQ(Parse("01 ab ff"), Ok({0x01, 0xAB, 0xFF}));
    EXPECT_EQ(Parse("aB\r\nCd\tef\n"), Ok({0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(Parse("a\tbc"), Ok({0xBC}));
    EXPECT_EQ(Parse("\r\n"), Ok({}));
}

TEST(HexText, AnyOtherCharacterRefusesTheWholeText)
{
    const std::string bad[] = {
        "0G", "01 02 zz", "01,02", "0x01", "-1", "01\v02", "01\f02", "[ R 09:05:07 ] 01 ab ff",
        std::string("01\0" "02", 5), "01 \xB0\xA1", // a GBK character
    };
    for (const std::string &text : bad)
        EXPECT_EQ(Parse(text), kFormatError) << text;
}

TEST(HexText, OnlyTheFirst1023CharactersAreRead)
{
    // 512 pairs: the 1024th character is never read, so the last pair is
    // half and dropped; 511 bytes is the most a text can give.
    std::string text;
    for (int i = 0; i < 512; ++i)
        text += "5A";
    Parsed p = Parse(text);
    EXPECT_FALSE(p.format_error);
    EXPECT_EQ(p.bytes.size(), 511u);

    // A bad character beyond the limit is not seen either.
    EXPECT_EQ(Parse(text.substr(0, 1023) + "XYZ").bytes.size(), 511u);
    EXPECT_EQ(Parse(text.substr(0, 1022) + "X"), kFormatError);
}

} // namespace
