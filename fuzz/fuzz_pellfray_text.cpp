// Fuzzing the text handling of Pellfray's main dialog: the parser of the
// hex send text and the keystroke decisions of the five filtered fields.
// Neither keeps state, so each input is one text and one key.
//
// Input layout:
//   byte 0   flags: bit 0 pads the text by repeating it to about 1020 to
//            1035 characters (the hex field's limits); bits 1-4 choose the
//            padded length.
//   bytes 1-2  key code, low byte first; a second byte of 0xF0 or more puts
//            it in the top byte of a 64-bit code instead (a code whose low
//            byte looks like a digit must still be refused).
//   rest     the field's text, any bytes at all (pasted text is not
//            filtered, so the filters must cope with anything).
//
// The hex parser is compared with a reference written differently: the text
// is cut into runs of non-separators, and each run gives its whole pairs. The
// filters are compared with their rules restated: a numeric field passes
// only backspace or an acceptable digit, unchanged; the hex field passes only
// backspace, space, 0-9 and A-F (a-f upper-cased), and asks for a space
// exactly when the text holds 2 to 1024 characters ending in two non-spaces.
#include "fuzz/fuzz_support.h"
#include "modulebench/hex_text.h"
#include "modulebench/input_filters.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool IsHexSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexDigitValue(char c)
{
    static const char kUpper[] = "0123456789ABCDEF";
    static const char kLower[] = "0123456789abcdef";
    for (int v = 0; v < 16; ++v) {
        if (c == kUpper[v] || c == kLower[v])
            return v;
    }
    return -1;
}

void CheckHexText(const char *text, size_t length)
{
    const size_t n = length < kHexTextMaxChars ? length : kHexTextMaxChars;
    bool bad = false;
    for (size_t i = 0; i < n; ++i)
        bad = bad || (!IsHexSeparator(text[i]) && HexDigitValue(text[i]) < 0);

    std::vector<uint8_t> expected;
    if (!bad) {
        size_t i = 0;
        while (i < n) {
            size_t end = i;
            while (end < n && !IsHexSeparator(text[end]))
                ++end;
            for (size_t j = i; j + 1 < end; j += 2)
                expected.push_back(static_cast<uint8_t>(HexDigitValue(text[j]) * 16 + HexDigitValue(text[j + 1])));
            i = end + 1;
        }
    }

    // Exactly the promised 511 bytes, on the heap, so a write past them is
    // caught; the pattern shows any byte written beyond the count.
    std::unique_ptr<uint8_t[]> out(new uint8_t[kHexMaxBytes]);
    std::memset(out.get(), 0xA5, kHexMaxBytes);
    const HexParseResult r = ParseHexText(text, length, out.get());
    FUZZ_CHECK(r.format_error == bad, "format_error %d, expected %d", r.format_error, bad);
    FUZZ_CHECK(r.count <= kHexMaxBytes, "count %u", r.count);
    FUZZ_CHECK(r.count == expected.size(), "count %u, expected %zu", r.count, expected.size());
    for (uint32_t i = 0; i < r.count; ++i)
        FUZZ_CHECK(out[i] == expected[i], "byte %u is %02x, expected %02x", i, out[i], expected[i]);
    for (size_t i = r.count; i < kHexMaxBytes; ++i)
        FUZZ_CHECK(out[i] == 0xA5, "byte %zu written beyond the count %u", i, r.count);

    const HexParseResult none = ParseHexText(nullptr, length, out.get());
    FUZZ_CHECK(none.count == 0, "a null text gave %u bytes", none.count);
}

bool IsCWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi with saturation, reading the digits as a decimal string: more than
// ten significant digits are out of range whatever they are.
int64_t ReferenceAtoi(const char *text, size_t length)
{
    size_t i = 0;
    while (i < length && IsCWhiteSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    while (i < length && text[i] == '0')
        ++i;
    size_t end = i;
    while (end < length && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end - i > 10)
        return negative ? INT32_MIN : INT32_MAX;
    int64_t value = 0;
    for (size_t k = i; k < end; ++k)
        value = value * 10 + (text[k] - '0');
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return value;
}

void CheckNumeric(NumericField field, uint64_t c, const char *text, size_t length)
{
    const int64_t value = ReferenceAtoi(text, length);
    FUZZ_CHECK(TextToInt32(text, length) == value, "TextToInt32 gives %d, expected %lld", TextToInt32(text, length),
               static_cast<long long>(value));

    const uint64_t r = FilterNumericChar(field, c, text, length);
    if (c == 0x08) {
        FUZZ_CHECK(r == 0x08, "backspace refused in field %d", static_cast<int>(field));
        return;
    }
    FUZZ_CHECK(r == c || r == 0, "field %d turned %llx into %llx", static_cast<int>(field),
               static_cast<unsigned long long>(c), static_cast<unsigned long long>(r));
    const bool digit = c >= '0' && c <= '9';
    bool zero_rule;
    int64_t maximum;
    if (field == NumericField::BatteryPeriod) {
        zero_rule = length == 1 && text[0] == '0';
        maximum = 255;
    } else {
        zero_rule = length == 0 && c == '0';
        maximum = field == NumericField::SendPeriod ? 255 : 1000000;
    }
    const bool accept = !zero_rule && digit && value * 10 + static_cast<int64_t>(c - '0') <= maximum;
    // Key 0 comes back as 0 either way: only a non-zero result is a pass.
    FUZZ_CHECK((r != 0) == accept, "field %d: key %llx %s, expected %s (value %lld)", static_cast<int>(field),
               static_cast<unsigned long long>(c), r != 0 ? "accepted" : "refused", accept ? "accepted" : "refused",
               static_cast<long long>(value));
    if (r != 0)
        FUZZ_CHECK(digit && value * 10 + static_cast<int64_t>(c - '0') <= maximum, "accepted beyond the maximum");
}

void CheckHexFilter(uint64_t c, const char *text, size_t length)
{
    const HexCharDecision d = FilterHexChar(c, text, length);
    if (c == 0x08 || c == 0x20) {
        FUZZ_CHECK(d.code == c && !d.append_space, "backspace or space altered");
        return;
    }
    uint64_t expected = 0;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))
        expected = c;
    else if (c >= 'a' && c <= 'f')
        expected = c - ('a' - 'A');
    if (length > kHexFieldMaxLength)
        expected = 0;
    FUZZ_CHECK(d.code == expected, "hex key %llx gave %llx, expected %llx", static_cast<unsigned long long>(c),
               static_cast<unsigned long long>(d.code), static_cast<unsigned long long>(expected));
    FUZZ_CHECK(d.code == 0 || (d.code >= '0' && d.code <= '9') || (d.code >= 'A' && d.code <= 'F'),
               "hex field passes %llx", static_cast<unsigned long long>(d.code));
    const bool space = length >= 2 && length <= kHexFieldMaxLength && text[length - 1] != ' ' &&
                       text[length - 2] != ' ';
    FUZZ_CHECK(d.append_space == space, "append_space %d, expected %d (length %zu)", d.append_space, space, length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size, 0};
    const uint8_t flags = in.Byte();
    const uint8_t low = in.Byte();
    const uint8_t high = in.Byte();
    const uint64_t c = high >= 0xF0 ? (static_cast<uint64_t>(high) << 56) | low : (static_cast<uint64_t>(high) << 8) | low;

    std::string text(reinterpret_cast<const char *>(in.data + in.pos), in.Remaining());
    if ((flags & 1) != 0 && !text.empty()) {
        const size_t target = 1020 + ((flags >> 1) & 15);
        std::string padded;
        while (padded.size() < target)
            padded += text;
        padded.resize(target);
        text.swap(padded);
    }

    // Exactly sized heap copies, so that a read past the text is caught.
    std::unique_ptr<char[]> whole(new char[text.size()]);
    std::memcpy(whole.get(), text.data(), text.size());

    CheckHexText(whole.get(), text.size());

    const NumericField fields[] = {NumericField::ReaderId, NumericField::TagId, NumericField::SendPeriod,
                                   NumericField::BatteryPeriod};
    const size_t got = text.size() < kNumericTextMax ? text.size() : kNumericTextMax;
    for (NumericField field : fields) {
        CheckNumeric(field, c, whole.get(), text.size()); // any text at all
        CheckNumeric(field, c, whole.get(), got);         // as the dialog reads it
    }
    CheckHexFilter(c, whole.get(), text.size());
    return 0;
}
