#include "modulebench/input_filters.h"

#include <cstdint>
#include <cstring>

const char *const kBaudChoiceTexts[kBaudChoiceCount] = {"9600", "19200", "38400", "115200"};
const char kBaudChoiceText[] = "波特率只能是 9600、19200、38400 或 115200";
const char kChannelChoiceText[] = "信道只能是 0 - 7";

namespace {

// Baud index of the serial link for each entry of the speed list.
const uint32_t kBaudChoiceIndexes[kBaudChoiceCount] = {0, 2, 3, 6};

constexpr uint64_t kBackspace = 0x08;
constexpr uint64_t kSpace = 0x20;

bool IsDigit(uint64_t c)
{
    return c >= '0' && c <= '9';
}

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ZeroRuleRefuses(NumericField field, uint64_t c, const char *text, size_t length)
{
    if (field == NumericField::BatteryPeriod)
        return length == 1 && text[0] == '0';
    return length == 0 && c == '0';
}

} // namespace

int32_t NumericFieldMaximum(NumericField field)
{
    switch (field) {
    case NumericField::ReaderId:
    case NumericField::TagId:
        return 1000000;
    case NumericField::SendPeriod:
    case NumericField::BatteryPeriod:
        return 255;
    }
    return 0;
}

int32_t NumericFieldMinimum(NumericField field)
{
    return field == NumericField::BatteryPeriod ? 0 : 1;
}

FieldValue CheckNumericField(NumericField field, const char *text, size_t length)
{
    if (text == nullptr || length == 0)
        return {FieldCheck::Empty, 0};
    int64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!IsDigit(static_cast<unsigned char>(text[i])))
            return {FieldCheck::OutOfRange, 0};
        // Leading zeros may come with pasted text; anything past the maximum
        // is out of range however many digits follow.
        value = value * 10 + (text[i] - '0');
        if (value > NumericFieldMaximum(field))
            return {FieldCheck::OutOfRange, 0};
    }
    if (value < NumericFieldMinimum(field))
        return {FieldCheck::OutOfRange, 0};
    return {FieldCheck::Ok, static_cast<int32_t>(value)};
}

const char *NumericFieldEmptyText(NumericField field)
{
    switch (field) {
    case NumericField::SendPeriod:
        return "发送周期不能为空";
    case NumericField::BatteryPeriod:
        return "电量测量周期不能为空";
    case NumericField::ReaderId:
    case NumericField::TagId:
        break;
    }
    return "ID号不能为空";
}

const char *NumericFieldRangeText(NumericField field)
{
    switch (field) {
    case NumericField::SendPeriod:
        return "发送周期必须在1 - 255之间";
    case NumericField::BatteryPeriod:
        return "电量测量周期必须在0 - 255之间";
    case NumericField::ReaderId:
    case NumericField::TagId:
        break;
    }
    return "ID号必须在1 - 1000000之间";
}

bool BaudIndexForText(const char *text, uint32_t *baud_index)
{
    if (text == nullptr)
        return false;
    for (int i = 0; i < kBaudChoiceCount; ++i) {
        if (std::strcmp(text, kBaudChoiceTexts[i]) == 0) {
            *baud_index = kBaudChoiceIndexes[i];
            return true;
        }
    }
    return false;
}

bool ChannelForText(const char *text, int32_t *channel)
{
    if (text == nullptr || text[0] < '0' || text[0] >= '0' + kChannelChoiceCount || text[1] != '\0')
        return false;
    *channel = text[0] - '0';
    return true;
}

int32_t TextToInt32(const char *text, size_t length)
{
    if (text == nullptr)
        return 0;
    size_t i = 0;
    while (i < length && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulated in 64 bits and clamped at each digit, so even a long
    // pasted run of digits stays far from any overflow.
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

uint64_t FilterNumericChar(NumericField field, uint64_t c, const char *text, size_t length)
{
    if (c == kBackspace)
        return c;
    if (ZeroRuleRefuses(field, c, text, length))
        return 0;
    if (!IsDigit(c))
        return 0;
    const int64_t candidate = static_cast<int64_t>(TextToInt32(text, length)) * 10 + static_cast<int64_t>(c - '0');
    if (candidate > NumericFieldMaximum(field))
        return 0;
    return c;
}

HexCharDecision FilterHexChar(uint64_t c, const char *text, size_t length)
{
    HexCharDecision decision{c, false};
    if (c == kBackspace || c == kSpace)
        return decision;
    if (c >= 'a' && c <= 'f')
        decision.code = c - 'a' + 'A';
    else if (!IsDigit(c) && !(c >= 'A' && c <= 'F'))
        decision.code = 0;

    if (length > kHexFieldMaxLength) {
        decision.code = 0;
        return decision;
    }
    if (length >= 2 && text[length - 1] != ' ' && text[length - 2] != ' ')
        decision.append_space = true;
    return decision;
}
