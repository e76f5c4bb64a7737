#include "tools/common/sim_args.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace sim {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

namespace {

// Parses an unsigned number at text[0..length) entirely.
bool ParseUnsignedSpan(const char *text, size_t length, uint64_t max, uint64_t *value)
{
    unsigned base = 10;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        length -= 2;
    }
    if (length == 0)
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < length; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || static_cast<unsigned>(d) >= base)
            return false;
        if (v > (max - static_cast<uint64_t>(d)) / base)
            return false;
        v = v * base + static_cast<uint64_t>(d);
    }
    *value = v;
    return true;
}

bool ParseIntSpan(const char *text, size_t length, long min, long max, long *value)
{
    bool negative = false;
    if (length > 0 && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        ++text;
        --length;
    }
    uint64_t magnitude = 0;
    if (!ParseUnsignedSpan(text, length, 1u << 30, &magnitude))
        return false;
    const long v = negative ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
    if (v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

bool ParseUnsigned(const char *text, uint64_t max, uint64_t *value)
{
    return text && ParseUnsignedSpan(text, std::strlen(text), max, value);
}

bool ParseInt(const char *text, long min, long max, long *value)
{
    return text && ParseIntSpan(text, std::strlen(text), min, max, value);
}

bool ParseNumber(const char *text, double *value)
{
    if (!text || !*text)
        return false;
    bool digits = false;
    bool point = false;
    for (const char *p = text; *p; ++p) {
        if (*p >= '0' && *p <= '9')
            digits = true;
        else if (*p == '.' && !point)
            point = true;
        else
            return false;
    }
    if (!digits)
        return false;
    *value = std::strtod(text, nullptr);
    return true;
}

bool ParseProbability(const char *text, double *value)
{
    if (!text)
        return false;
    std::string s = text;
    double scale = 1.0;
    if (!s.empty() && s.back() == '%') {
        s.pop_back();
        scale = 0.01;
    }
    double v = 0;
    if (!ParseNumber(s.c_str(), &v))
        return false;
    v *= scale;
    if (v > 1.0)
        return false;
    *value = v;
    return true;
}

bool ParseTagList(const char *text, size_t max_count, std::vector<uint32_t> *ids)
{
    if (!text || !*text)
        return false;
    std::vector<uint32_t> out;
    const char *p = text;
    for (;;) {
        const char *end = std::strchr(p, ',');
        const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        const char *dash = static_cast<const char *>(std::memchr(p, '-', length));
        uint64_t first = 0;
        uint64_t last = 0;
        if (dash) {
            if (!ParseUnsignedSpan(p, static_cast<size_t>(dash - p), 0xFFFFFFFFu, &first) ||
                !ParseUnsignedSpan(dash + 1, length - static_cast<size_t>(dash - p) - 1, 0xFFFFFFFFu, &last) ||
                last < first)
                return false;
        } else {
            if (!ParseUnsignedSpan(p, length, 0xFFFFFFFFu, &first))
                return false;
            last = first;
        }
        if (last - first + 1 > max_count - out.size())
            return false;
        for (uint64_t id = first; id <= last; ++id)
            out.push_back(static_cast<uint32_t>(id));
        if (!end)
            break;
        p = end + 1;
    }
    *ids = std::move(out);
    return true;
}

bool ParseIntRange(const char *text, long min, long max, long *low, long *high)
{
    if (!text)
        return false;
    const char *dots = std::strstr(text, "..");
    if (!dots)
        return false;
    long a = 0;
    long b = 0;
    if (!ParseIntSpan(text, static_cast<size_t>(dots - text), min, max, &a) ||
        !ParseIntSpan(dots + 2, std::strlen(dots + 2), min, max, &b) || a > b)
        return false;
    *low = a;
    *high = b;
    return true;
}

bool ParseHexBytes(const char *text, std::vector<uint8_t> *bytes)
{
    if (!text)
        return false;
    std::vector<uint8_t> out;
    int high = -1; // first digit of a pair still waiting for its second
    for (const char *p = text;; ++p) {
        const char c = *p;
        if (c == '\0' || c == ' ' || c == '\t' || c == ',' || c == ':') {
            if (high >= 0)
                return false; // odd number of digits in a token
            if (c == '\0')
                break;
            continue;
        }
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    *bytes = std::move(out);
    return true;
}

bool ParseMoveOption(const char *text, uint32_t *id, double *period_s, double *gone_s)
{
    if (!text)
        return false;
    const std::string s = text;
    const size_t first = s.find(':');
    const size_t second = first == std::string::npos ? std::string::npos : s.find(':', first + 1);
    uint64_t value = 0;
    double period = 60;
    double gone = 0;
    if (!ParseUnsigned(s.substr(0, first).c_str(), 0xFFFFFFFFu, &value))
        return false;
    if (first != std::string::npos &&
        !ParseNumber(s.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1).c_str(),
                     &period))
        return false;
    if (second != std::string::npos && !ParseNumber(s.substr(second + 1).c_str(), &gone))
        return false;
    if (period <= 0 || gone >= period)
        return false;
    *id = static_cast<uint32_t>(value);
    *period_s = period;
    *gone_s = gone;
    return true;
}

} // namespace sim
