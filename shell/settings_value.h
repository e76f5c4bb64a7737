// What the programs remember for the user, as read back: one value of the
// program's settings key, and the checks every value passes before it is
// used. Portable; settings_win32.h reads and writes the registry.
//
// The user's settings are not trusted: another version of the program, a
// registry editor or a damaged hive may have left any type, any length and
// any text under a name. A value that fails its check is treated as missing,
// and the control keeps the default it has at start; nothing is said.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SettingValue {
    enum class Kind : uint8_t {
        Missing,  // no such value (or the key is missing)
        Number,   // REG_DWORD
        Text,     // REG_SZ
        TextList, // REG_MULTI_SZ
        Other,    // any other type, or one that could not be read
    };
    Kind kind = Kind::Missing;
    uint32_t number = 0;
    std::string text;              // code page of the build
    std::vector<std::string> list; // the same
};

// A number from minimum to maximum inclusive.
bool SavedNumber(const SettingValue &value, uint32_t minimum, uint32_t maximum, uint32_t *out);
// 0 or 1.
bool SavedFlag(const SettingValue &value, bool *out);
// "COMn" with n from 1 to highest, written without leading zeros.
bool SavedPortName(const SettingValue &value, uint32_t highest, std::string *out);
// A number that is one of choices[0 .. count); index gets its position.
bool SavedChoice(const SettingValue &value, const uint32_t *choices, size_t count, size_t *index);
// Decimal digits only, at most max_digits, no leading zero unless the text
// is "0" alone, value from minimum to maximum. Empty is refused.
bool SavedDecimal(const SettingValue &value, size_t max_digits, uint32_t minimum, uint32_t maximum,
                  std::string *out);
