// Keystroke decisions of the filtered edit fields.
#include "modulebench/input_filters.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

bool Accepts(NumericField field, const std::string &text, uint64_t c)
{
    const uint64_t passed = FilterNumericChar(field, c, text.data(), text.size());
    EXPECT_TRUE(passed == c || passed == 0);
    return passed == c;
}

const NumericField kAllNumeric[] = {NumericField::ReaderId, NumericField::TagId, NumericField::SendPeriod,
                                    NumericField::BatteryPeriod};

TEST(NumericFilter, IdFieldsZeroRuleAndMaximum)
{
    for (NumericField f : {NumericField::ReaderId, NumericField::TagId}) {
        EXPECT_FALSE(Accepts(f, "", '0'));
        EXPECT_TRUE(Accepts(f, "", '1'));
        EXPECT_TRUE(Accepts(f, "1", '0')); // the zero rule is for an empty field only
        EXPECT_TRUE(Accepts(f, "100000", '0'));
        for (char c = '1'; c <= '9'; ++c)
            EXPECT_FALSE(Accepts(f, "100000", c)) << c;
        for (char c = '0'; c <= '9'; ++c)
            EXPECT_FALSE(Accepts(f, "1000000", c)) << c;
        EXPECT_TRUE(Accepts(f, "99999", '9'));
    }
}

TEST(NumericFilter, SendPeriod)
{
    const NumericField f = NumericField::SendPeriod;
    EXPECT_FALSE(Accepts(f, "", '0'));
    EXPECT_TRUE(Accepts(f, "", '9'));
    EXPECT_TRUE(Accepts(f, "25", '5'));
    EXPECT_FALSE(Accepts(f, "25", '6'));
    EXPECT_FALSE(Accepts(f, "26", '0'));
}

TEST(NumericFilter, BatteryPeriodAcceptsZeroAloneButNothingAfterIt)
{
    const NumericField f = NumericField::BatteryPeriod;
    EXPECT_TRUE(Accepts(f, "", '0'));
    for (uint64_t c : {uint64_t('0'), uint64_t('5'), uint64_t('a'), uint64_t(0x03)})
        EXPECT_FALSE(Accepts(f, "0", c)) << c;
    EXPECT_EQ(FilterNumericChar(f, 0x08, "0", 1), 0x08u);
    EXPECT_TRUE(Accepts(f, "25", '5'));
    EXPECT_FALSE(Accepts(f, "25", '6'));
    EXPECT_TRUE(Accepts(f, "05", '1')); // only the single "0" is special
}

TEST(NumericFilter, MaximumTreatsTheDigitAsAppendedWhereverTheCaretIs)
{
    // Caret at the start of "99": typing 1 would read 199, but the test is
    // on 991 and refuses it. Caret at the start of "5": 0 is tested as 50.
    EXPECT_FALSE(Accepts(NumericField::SendPeriod, "99", '1'));
    EXPECT_TRUE(Accepts(NumericField::SendPeriod, "5", '0'));
}

TEST(NumericFilter, OnlyDigitsPassAndBackspaceAlways)
{
    const uint64_t refused[] = {'a', 'Z', '-', '+', '.', ' ', 0x03, 0x16, 0x0D, 0x7F, 0xB0, 0x1'0000'0030ull};
    for (NumericField f : kAllNumeric) {
        for (uint64_t c : refused) {
            EXPECT_FALSE(Accepts(f, "", c)) << c;
            EXPECT_FALSE(Accepts(f, "1", c)) << c;
        }
        EXPECT_EQ(FilterNumericChar(f, 0x08, "", 0), 0x08u);
        EXPECT_EQ(FilterNumericChar(f, 0x08, "1000000", 7), 0x08u);
    }
}

TEST(NumericFilter, PastedTextOfAnyKindIsSafe)
{
    // Pasted text is not filtered, so the fields can hold anything up to 19
    // characters; the value is clamped, never overflowed.
    EXPECT_FALSE(Accepts(NumericField::TagId, "9999999999999999999", '1'));
    EXPECT_FALSE(Accepts(NumericField::SendPeriod, "2147483648", '0'));
    EXPECT_TRUE(Accepts(NumericField::SendPeriod, "-9999999999999999999", '9'));
    EXPECT_TRUE(Accepts(NumericField::SendPeriod, "abc", '7')); // atoi("abc") is 0
    EXPECT_TRUE(Accepts(NumericField::SendPeriod, " 2x5", '5')); // value 2
}

TEST(TextToInt32, BehavesLikeAtoiWithoutOverflow)
{
    auto conv = [](const std::string &s) { return TextToInt32(s.data(), s.size()); };
    EXPECT_EQ(conv(""), 0);
    EXPECT_EQ(conv("1000000"), 1000000);
    EXPECT_EQ(conv("  \t+42abc"), 42);
    EXPECT_EQ(conv("-17"), -17);
    EXPECT_EQ(conv("x12"), 0);
    EXPECT_EQ(conv("2147483647"), INT32_MAX);
    EXPECT_EQ(conv("2147483648"), INT32_MAX);
    EXPECT_EQ(conv("-2147483648"), INT32_MIN);
    EXPECT_EQ(conv("-99999999999999999999999"), INT32_MIN);
    EXPECT_EQ(conv("9999999999999999999"), INT32_MAX);
    EXPECT_EQ(TextToInt32("123456", 3), 123); // stops at the length given
    EXPECT_EQ(TextToInt32(nullptr, 0), 0);
}

// --- Hex send field --------------------------------------------------------

// Types c into a field holding text the way the Win32 filter would: the
// space step first, then the edit inserts the passed code at the end
// (caret at the end, as in every case here).
std::string Type(std::string text, uint64_t c)
{
    const HexCharDecision d = FilterHexChar(c, text.data(), text.size());
    if (d.append_space)
        text += ' ';
    if (d.code == 0x08) {
        if (!text.empty())
            text.pop_back();
    } else if (d.code != 0) {
        text += static_cast<char>(d.code);
    }
    return text;
}

std::string TypeAll(const std::string &keys)
{
    std::string text;
    for (char k : keys)
        text = Type(text, static_cast<unsigned char>(k));
    return text;
}

TEST(HexFilter, DigitsArePairedAndUpperCased)
{
    EXPECT_EQ(TypeAll("ab"), "AB");
    EXPECT_EQ(TypeAll("abc"), "AB C");
    EXPECT_EQ(TypeAll("abcd"), "AB CD");
    EXPECT_EQ(TypeAll("0a1b2c"), "0A 1B 2C");
    EXPECT_EQ(TypeAll("AB C"), "AB C"); // a typed space is a separator too
    EXPECT_EQ(TypeAll("1 2"), "1 2");
}

TEST(HexFilter, RefusedKeyAfterAPairStillAddsTheSpace)
{
    for (uint64_t c : {uint64_t('G'), uint64_t(0x0D), uint64_t(0x16), uint64_t('g'), uint64_t(0xB0)}) {
        const HexCharDecision d = FilterHexChar(c, "AB", 2);
        EXPECT_EQ(d.code, 0u) << c;
        EXPECT_TRUE(d.append_space) << c;
    }
    EXPECT_EQ(Type("AB", 'G'), "AB ");
}

TEST(HexFilter, BackspaceAndSpacePassWithoutAnyStep)
{
    for (uint64_t c : {uint64_t(0x08), uint64_t(0x20)}) {
        for (size_t length : {size_t(0), size_t(2), size_t(1025), size_t(5000)}) {
            const std::string text(length, 'A');
            const HexCharDecision d = FilterHexChar(c, text.data(), text.size());
            EXPECT_EQ(d.code, c);
            EXPECT_FALSE(d.append_space);
        }
    }
}

TEST(HexFilter, UpperCaseOnlyForAToF)
{
    const std::string digits = "0123456789ABCDEF";
    for (char c : digits)
        EXPECT_EQ(FilterHexChar(static_cast<unsigned char>(c), "", 0).code, static_cast<uint64_t>(c));
    const std::string lower = "abcdef";
    for (char c : lower)
        EXPECT_EQ(FilterHexChar(static_cast<unsigned char>(c), "", 0).code, static_cast<uint64_t>(c - 32));
    for (uint64_t c : {uint64_t('g'), uint64_t('G'), uint64_t('z'), uint64_t('/'), uint64_t(':'), uint64_t(0x03),
                       uint64_t(0x1'0000'0041ull)})
        EXPECT_EQ(FilterHexChar(c, "", 0).code, 0u) << c;
}

TEST(HexFilter, LengthLimitAt1024)
{
    // 1024 characters ending in a pair: the digit is accepted after an added
    // space, bringing the field to 1026.
    std::string text = std::string(1021, ' ') + "ABC";
    ASSERT_EQ(text.size(), 1024u);
    HexCharDecision d = FilterHexChar('D', text.data(), text.size());
    EXPECT_EQ(d.code, static_cast<uint64_t>('D'));
    EXPECT_TRUE(d.append_space);
    EXPECT_EQ(Type(text, 'D').size(), 1026u);

    // Above 1024 every digit is refused and no space is added.
    text += 'D';
    d = FilterHexChar('E', text.data(), text.size());
    EXPECT_EQ(d.code, 0u);
    EXPECT_FALSE(d.append_space);
    EXPECT_EQ(Type(text, 'E'), text);
}

} // namespace
