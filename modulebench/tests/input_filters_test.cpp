// Keystroke decisions of the filtered edit fields (their texts read as atoi
// would, which the cases of pasted text show), and the values and list
// entries the fields hold when they are used.
#include "modulebench/input_filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(NumericFilter, EachFieldsDigitsZeroRuleAndMaximum)
{
    using F = NumericField;
    struct Case {
        F field;
        const char *text;
        uint64_t key;
        bool accepted;
    };
    const Case cases[] = {
        {F::ReaderId, "", '0', false},       {F::TagId, "", '0', false},        {F::ReaderId, "1", '0', true},
        {F::TagId, "100000", '0', true},     {F::TagId, "100000", '1', false},  {F::ReaderId, "99999", '9', true},
        {F::ReaderId, "1000000", '0', false}, {F::SendPeriod, "", '0', false},  {F::SendPeriod, "25", '5', true},
        {F::SendPeriod, "25", '6', false},   {F::SendPeriod, "26", '0', false}, {F::BatteryPeriod, "", '0', true},
        {F::BatteryPeriod, "0", '0', false}, {F::BatteryPeriod, "0", '5', false}, {F::BatteryPeriod, "05", '1', true},
        {F::BatteryPeriod, "25", '6', false},
        // The maximum is tested on the digit appended, wherever the caret is.
        {F::SendPeriod, "99", '1', false},   {F::SendPeriod, "5", '0', true},
        // Pasted text is not filtered: the value is clamped, never overflowed.
        {F::TagId, "9999999999999999999", '1', false}, {F::SendPeriod, "-9999999999999999999", '9', true},
        {F::SendPeriod, " 2x5", '5', true},
        // A pasted sign or spaces are read as atoi reads them.
        {F::SendPeriod, "+25", '5', true},   {F::SendPeriod, "+26", '0', false}, {F::SendPeriod, "  26", '0', false},
        {F::TagId, "\t100000", '1', false}, {F::SendPeriod, "-30", '9', true},  {F::BatteryPeriod, " 0", '5', true},
        {F::ReaderId, " ", '0', true},       {F::BatteryPeriod, "+0", '5', true},
        // Only digits; backspace always.
        {F::ReaderId, "", 'a', false},       {F::TagId, "1", '-', false},       {F::SendPeriod, "1", 0x16, false},
        {F::BatteryPeriod, "", 0x1'0000'0030ull, false}, {F::TagId, "1000000", 0x08, true},
        {F::BatteryPeriod, "0", 0x08, true},
    };
    for (const Case &c : cases) {
        const std::string text = c.text;
        const uint64_t passed = FilterNumericChar(c.field, c.key, text.data(), text.size());
        EXPECT_EQ(c.accepted ? c.key : 0u, passed)
            << "field " << static_cast<int>(c.field) << " '" << text << "' + " << c.key;
    }
}

// The value a field holds when 修改 or 切换透传 uses it: only digits within
// the field's range make a frame.
TEST(FieldValueAtUse, WholeValueMustBeDigitsWithinRange)
{
    using F = NumericField;
    constexpr FieldCheck ok = FieldCheck::Ok, empty = FieldCheck::Empty, out = FieldCheck::OutOfRange;
    struct Case {
        F field;
        const char *text;
        FieldCheck check;
        int32_t value;
    };
    const Case cases[] = {
        {F::TagId, "", empty, 0},             {F::TagId, "1", ok, 1},             {F::TagId, "1000000", ok, 1000000},
        {F::TagId, "1000001", out, 0},        {F::TagId, "0", out, 0},            {F::TagId, "16777217", out, 0},
        {F::TagId, "00012", ok, 12},          {F::TagId, "12a", out, 0},          {F::TagId, " 12", out, 0},
        {F::TagId, "99999999999999999999", out, 0},
        {F::ReaderId, "1000000", ok, 1000000}, {F::ReaderId, "2000000", out, 0}, {F::ReaderId, "0", out, 0},
        {F::SendPeriod, "912", out, 0},       {F::SendPeriod, "255", ok, 255},    {F::SendPeriod, "0", out, 0},
        {F::SendPeriod, "-5", out, 0},        {F::SendPeriod, "1", ok, 1},
        {F::BatteryPeriod, "0", ok, 0},       {F::BatteryPeriod, "255", ok, 255}, {F::BatteryPeriod, "256", out, 0},
        {F::BatteryPeriod, "", empty, 0},
    };
    for (const Case &c : cases) {
        const FieldValue v = CheckNumericField(c.field, c.text, std::strlen(c.text));
        EXPECT_EQ(c.check, v.check) << "field " << static_cast<int>(c.field) << " '" << c.text << "'";
        EXPECT_EQ(c.value, v.value) << c.text;
    }
}

TEST(FieldValueAtUse, TypedSpeedOrChannelMustBeAnEntryOfItsList)
{
    const std::pair<const char *, int64_t> speeds[] = {{"9600", 0},   {"19200", 2}, {"38400", 3},  {"115200", 6},
                                                       {"14400", -1}, {"", -1},     {"115200 ", -1}, {"96000", -1}};
    for (const auto &c : speeds) {
        uint32_t index = 99;
        const bool found = BaudIndexForText(c.first, &index);
        EXPECT_EQ(c.second, found ? static_cast<int64_t>(index) : -1) << c.first;
    }
    const std::pair<const char *, int32_t> channels[] = {{"0", 0}, {"7", 7}, {"8", -1}, {"", -1}, {"07", -1}, {"-1", -1}};
    for (const auto &c : channels) {
        int32_t channel = 99;
        const bool found = ChannelForText(c.first, &channel);
        EXPECT_EQ(c.second, found ? channel : -1) << c.first;
    }
}

// Types keys into a field the way the Win32 filter would: the space step
// first, then the edit inserts the passed code at the end.
std::string TypeAll(std::string text, const std::string &keys)
{
    for (char k : keys) {
        const HexCharDecision d = FilterHexChar(static_cast<unsigned char>(k), text.data(), text.size());
        if (d.append_space)
            text += ' ';
        if (d.code == 0x08 && !text.empty())
            text.pop_back();
        else if (d.code != 0 && d.code != 0x08)
            text += static_cast<char>(d.code);
    }
    return text;
}

TEST(HexFilter, DigitsArePairedUpperCasedAndLimitedAt1024)
{
    const std::string at_limit = std::string(1021, ' ') + "ABC";
    const std::string over_limit = at_limit + " D";
    const std::pair<std::string, std::string> cases[][2] = {
        {{"", "abcd"}, {"AB CD", ""}},       {{"", "0a1b2c"}, {"0A 1B 2C", ""}}, {{"", "AB C"}, {"AB C", ""}},
        {{"AB", "G"}, {"AB ", ""}},          {{"AB", "\r"}, {"AB ", ""}},        {{"", "g/:\x03"}, {"", ""}},
        {{"AB", "\b"}, {"A", ""}},           {{"", "F9"}, {"F9", ""}},
        {{at_limit, "D"}, {at_limit + " D", ""}}, {{over_limit, "E"}, {over_limit, ""}},
        {{over_limit, " "}, {over_limit + " ", ""}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c[1].first, TypeAll(c[0].first, c[0].second)) << "'" << c[0].first.substr(0, 8) << "' + " << c[0].second;
    EXPECT_EQ(FilterHexChar(0x1'0000'0041ull, "", 0).code, 0u);
}

} // namespace
