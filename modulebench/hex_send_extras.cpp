#include "modulebench/hex_send_extras.h"

#include <algorithm>

#include "serial/crc16.h"

uint32_t AppendCrc16(uint8_t *bytes, uint32_t count)
{
    PutCrc16(bytes + count, Crc16Modbus(bytes, count));
    return count + 2;
}

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsHexChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

std::string HexHistoryEntry(const char *text, size_t length)
{
    if (text == nullptr)
        return std::string();
    size_t begin = 0;
    while (begin < length && IsBlank(text[begin]))
        ++begin;
    size_t end = length;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (end - begin > kHexTextMaxChars)
        return std::string();
    std::string entry;
    for (size_t i = begin; i < end; ++i) {
        if (!IsBlank(text[i]) && !IsHexChar(text[i]))
            return std::string();
        entry.push_back(IsBlank(text[i]) ? ' ' : text[i]);
    }
    uint8_t bytes[kHexMaxBytes];
    const HexParseResult parsed = ParseHexText(entry.data(), entry.size(), bytes);
    if (parsed.format_error || parsed.count == 0)
        return std::string();
    return entry;
}

bool HexHistory::Push(const char *text, size_t length)
{
    const std::string entry = HexHistoryEntry(text, length);
    if (entry.empty())
        return false;
    entries_.erase(std::remove(entries_.begin(), entries_.end(), entry), entries_.end());
    entries_.insert(entries_.begin(), entry);
    if (entries_.size() > kHexHistoryMax)
        entries_.resize(kHexHistoryMax);
    return true;
}

void HexHistory::Assign(const std::vector<std::string> &entries)
{
    entries_.clear();
    for (const std::string &text : entries) {
        if (entries_.size() == kHexHistoryMax)
            break;
        const std::string entry = HexHistoryEntry(text.data(), text.size());
        if (!entry.empty() && entry == text && std::find(entries_.begin(), entries_.end(), entry) == entries_.end())
            entries_.push_back(entry);
    }
}
