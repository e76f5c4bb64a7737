#include "modulebench/hex_text.h"

const char kHexFormatErrorText[] = "HEX数据格式错误";

namespace {

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Value of a hex digit, or -1.
int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

HexParseResult ParseHexText(const char *text, size_t length, uint8_t *out)
{
    HexParseResult result{false, 0};
    const size_t n = length < kHexTextMaxChars ? length : kHexTextMaxChars;
    if (text == nullptr)
        return result;

    // Checked whole before anything is collected, so a bad character late in
    // the text cannot leave a half-sent prefix behind.
    for (size_t i = 0; i < n; ++i) {
        if (!IsSeparator(text[i]) && HexValue(text[i]) < 0) {
            result.format_error = true;
            return result;
        }
    }

    size_t i = 0;
    while (result.count < kHexMaxBytes) {
        while (i < n && IsSeparator(text[i]))
            ++i;
        if (i + 1 >= n)
            break; // end of text, or one lone digit left
        if (IsSeparator(text[i + 1])) {
            i += 2; // a lone digit and its separator
            continue;
        }
        out[result.count++] = static_cast<uint8_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1]));
        i += 2;
    }
    return result;
}
