#include "serial/port_names.h"

#include <algorithm>
#include <cctype>

namespace {

// The mark of a chosen port that is not registered.
const char kAbsentMark[] = "（不存在）";

// Win32 error codes (winerror.h).
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;

bool HasComPrefix(const std::string &text)
{
    return text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}

} // namespace

uint32_t ComPortNumberOf(const std::string &text, uint32_t limit)
{
    if (!HasComPrefix(text) || text[3] == '0')
        return 0;
    uint64_t n = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + static_cast<uint32_t>(c - '0');
        if (n > limit)
            return 0;
    }
    return static_cast<uint32_t>(n);
}

std::string CanonicalPortName(const std::string &text)
{
    const uint32_t n = ComPortNumberOf(text, UINT32_MAX);
    return n != 0 ? "COM" + std::to_string(n) : text;
}

bool SamePortName(const std::string &a, const std::string &b)
{
    return CanonicalPortName(a) == CanonicalPortName(b);
}

std::vector<uint32_t> RegisteredPortNumbers(const std::vector<std::string> &registered, uint32_t limit)
{
    std::vector<uint32_t> numbers;
    for (const std::string &name : registered) {
        const uint32_t n = ComPortNumberOf(name, limit);
        if (n != 0)
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

std::string AbsentPortEntry(const std::string &name)
{
    return CanonicalPortName(name) + kAbsentMark;
}

std::string PortOfEntry(const std::string &entry)
{
    const size_t mark = entry.find(kAbsentMark);
    return CanonicalPortName(mark == std::string::npos ? entry : entry.substr(0, mark));
}

PortOpenFailure PortOpenFailureOf(uint32_t error)
{
    switch (error) {
    case kErrorFileNotFound:
    case kErrorPathNotFound:
        return PortOpenFailure::Missing;
    case kErrorAccessDenied:
    case kErrorSharingViolation:
        return PortOpenFailure::Busy;
    default:
        return PortOpenFailure::Other;
    }
}

std::string PortOpenFailureText(const std::string &name, uint32_t error)
{
    if (name.empty())
        return "未选择串口";
    switch (PortOpenFailureOf(error)) {
    case PortOpenFailure::Missing:
        return "串口 " + name + " 不存在";
    case PortOpenFailure::Busy:
        return "串口 " + name + " 被其他程序占用";
    case PortOpenFailure::Other:
        break;
    }
    return "串口 " + name + " 无法打开（错误 " + std::to_string(error) + "）";
}
