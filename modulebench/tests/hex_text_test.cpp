// Parsing the hand-typed hex send text.
#include "modulebench/hex_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes parsed, or {0x100} standing for a format error.
std::vector<int> Parse(const std::string &text)
{
    uint8_t out[kHexMaxBytes];
    const HexParseResult r = ParseHexText(text.data(), text.size(), out);
    if (r.format_error)
        return {0x100};
    return std::vector<int>(out, out + r.count);
}

TEST(HexText, PairsSeparatorsAndRefusals)
{
    const std::vector<int> kError = {0x100};
    const std::string k5A = [] { std::string t; for (int i = 0; i < 512; ++i) t += "5A"; return t; }();
    const std::pair<std::string, std::vector<int>> cases[] = {
        {"01 02 0A FF ", {0x01, 0x02, 0x0A, 0xFF}},
        {"0102", {0x01, 0x02}},
        {"ABC", {0xAB}},
        {"A BC", {0xBC}},
        {"123 45", {0x12, 0x45}}, // "3 " is a lone digit
        {"   ", {}},
        {"F", {}},
        {"aB\r\nCd\tef\n", {0xAB, 0xCD, 0xEF}},
        {"0G", kError},
        {"01,02", kError},
        {"0x01", kError},
        {"01\v02", kError},
        {std::string("01\0" "02", 5), kError},
        {"01 \xB0\xA1", kError}, // a GBK character
        // Only the first 1023 characters are read.
        {k5A, std::vector<int>(511, 0x5A)},
        {k5A.substr(0, 1023) + "XYZ", std::vector<int>(511, 0x5A)},
        {k5A.substr(0, 1022) + "X", kError},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second, Parse(c.first)) << "'" << c.first << "'";
}

} // namespace
