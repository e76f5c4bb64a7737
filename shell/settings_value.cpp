#include "shell/settings_value.h"

namespace {

// Digits only, no leading zero but "0" itself, the value within range.
bool DecimalText(const std::string &text, size_t max_digits, uint32_t minimum, uint32_t maximum,
                 uint32_t *value)
{
    if (text.empty() || text.size() > max_digits || (text[0] == '0' && text.size() > 1))
        return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
        if (n > maximum)
            return false;
    }
    if (n < minimum)
        return false;
    *value = static_cast<uint32_t>(n);
    return true;
}

} // namespace

bool SavedNumber(const SettingValue &value, uint32_t minimum, uint32_t maximum, uint32_t *out)
{
    if (value.kind != SettingValue::Kind::Number || value.number < minimum || value.number > maximum)
        return false;
    *out = value.number;
    return true;
}

bool SavedFlag(const SettingValue &value, bool *out)
{
    uint32_t number = 0;
    if (!SavedNumber(value, 0, 1, &number))
        return false;
    *out = number == 1;
    return true;
}

bool SavedPortName(const SettingValue &value, uint32_t highest, std::string *out)
{
    if (value.kind != SettingValue::Kind::Text || value.text.compare(0, 3, "COM") != 0)
        return false;
    uint32_t n = 0;
    if (!DecimalText(value.text.substr(3), 3, 1, highest, &n))
        return false;
    *out = value.text;
    return true;
}

bool SavedChoice(const SettingValue &value, const uint32_t *choices, size_t count, size_t *index)
{
    if (value.kind != SettingValue::Kind::Number)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (choices[i] == value.number) {
            *index = i;
            return true;
        }
    }
    return false;
}

bool SavedDecimal(const SettingValue &value, size_t max_digits, uint32_t minimum, uint32_t maximum,
                  std::string *out)
{
    uint32_t n = 0;
    if (value.kind != SettingValue::Kind::Text || !DecimalText(value.text, max_digits, minimum, maximum, &n))
        return false;
    *out = value.text;
    return true;
}
