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
// Because the filters judge keys rather than values, a field may still hold a
// value outside its range when it is used (a digit typed in front, text
// pasted through the context menu). So the value is checked again, whole,
// where it is used: CheckNumericField below. Only decimal digits within the
// field's range pass; the frame is then built from exactly that value.
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
int32_t NumericFieldMinimum(NumericField field);

// A field's text when 修改 or 切换透传 uses it.
enum class FieldCheck : uint8_t {
    Ok,         // value holds the number
    Empty,      // no text at all
    OutOfRange, // anything else: not all decimal digits, or outside the range
};
struct FieldValue {
    FieldCheck check;
    int32_t value; // set when check is Ok
};
// text[0 .. length) is the field's whole text (however long).
FieldValue CheckNumericField(NumericField field, const char *text, size_t length);

// Messages for a refused field, in the dialog's style ("ID号不能为空"); the
// range message names the field and its range. Code page of the build.
const char *NumericFieldEmptyText(NumericField field);
const char *NumericFieldRangeText(NumericField field);

// The editable speed and channel lists: the entry whose text the field
// holds exactly. The speed gives the serial link's baud index (the list
// offers 9600, 19200, 38400 and 115200); the channel its number 0..7. False
// for any other text, an empty one included: a typed value that is not in
// the list is refused rather than replaced by a default.
bool BaudIndexForText(const char *text, uint32_t *baud_index);
bool ChannelForText(const char *text, int32_t *channel);
constexpr int kBaudChoiceCount = 4;
extern const char *const kBaudChoiceTexts[kBaudChoiceCount];
constexpr int kChannelChoiceCount = 8;
extern const char kBaudChoiceText[];    // "波特率只能是 9600、19200、38400 或 115200"
extern const char kChannelChoiceText[]; // "信道只能是 0 - 7"

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
