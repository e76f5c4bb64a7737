// Keystroke decisions of the five filtered edit fields of Pellfray's main
// dialog. The Win32 subclass procedures read the field's text, ask these
// functions, and pass the WM_CHAR on with the code they return (0 refuses
// the key). Only typed characters are filtered; pasted or program-set text
// is not, so every function here must cope with any text whatsoever.
//
// Numeric fields: backspace always passes. Otherwise, in this order, refuse
// on the field's zero rule, on a non-digit, and when value(text) * 10 + digit
// exceeds the field's maximum: the digit is taken as appended to the whole
// text, wherever the caret stands.
//
// Hex field: backspace and space pass untouched. 0-9 and A-F are kept, a-f
// become upper case, all else is refused. Above 1024 characters every such
// key is refused. Otherwise, once the text holds 2 or more characters and
// neither of its last two is a space, a space is appended (and the caret put
// at the end) before the key lands, also when the key itself is refused.
#pragma once

#include <cstddef>
#include <cstdint>

enum class NumericField : uint8_t {
    ReaderId,      // edit 1008, 1..1000000
    TagId,         // edit 1013, 1..1000000
    SendPeriod,    // edit 1014, 1..255 seconds
    BatteryPeriod, // edit 1015, 0..255 minutes
};

// The numeric fields are read into 20 bytes: at most 19 characters.
constexpr size_t kNumericTextMax = 19;
constexpr size_t kHexFieldMaxLength = 1024;

int32_t NumericFieldMaximum(NumericField field);

// atoi of text[0 .. length): leading white space, an optional sign, then
// digits up to the first other character. Unlike atoi it never overflows:
// values beyond the 32-bit range saturate to INT32_MAX / INT32_MIN (what the
// Windows C runtime's atoi returns too). An empty text gives 0. Use it for
// every conversion of a field's text, in the filters and in the dialog.
int32_t TextToInt32(const char *text, size_t length);

// Code to pass on for WM_CHAR code c in a numeric field whose current text
// is text[0 .. length) (as WM_GETTEXT copied it): c itself or 0.
uint64_t FilterNumericChar(NumericField field, uint64_t c, const char *text, size_t length);

struct HexCharDecision {
    uint64_t code;     // code to pass on: c, its upper case, or 0
    bool append_space; // first append ' ' to the text and set the caret to
                       // the new end (length + 1)
};

// Decision for WM_CHAR code c in the hex field whose whole text is
// text[0 .. length) (length as WM_GETTEXTLENGTH gives it). Only the last two
// characters are looked at, and only when length >= 2.
HexCharDecision FilterHexChar(uint64_t c, const char *text, size_t length);
