#include "modulebench/log_search.h"

#include <vector>

const char kLogNotFoundText[] = "未找到";
const char kLogWrappedText[] = "已从另一端继续查找";
const char kLogMarkLetGoText[] = "找到的行已移出列表";
const char kLogMarkClearedText[] = "日志已清空";

namespace {

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// The text folded: ASCII letters lower case, blank runs one space, blanks
// at either end dropped. starts[i] tells whether out[i] begins a character.
void Fold(const char *text, size_t length, std::string *out, std::vector<bool> *starts)
{
    out->clear();
    if (starts != nullptr)
        starts->clear();
    bool blank = false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsBlank(c)) {
            blank = !out->empty();
            continue;
        }
        if (blank) {
            out->push_back(' ');
            if (starts != nullptr)
                starts->push_back(true);
            blank = false;
        }
        if (IsLeadByte(c) && i + 1 < length) {
            out->push_back(static_cast<char>(c));
            out->push_back(text[++i]);
            if (starts != nullptr) {
                starts->push_back(true);
                starts->push_back(false);
            }
            continue;
        }
        out->push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
        if (starts != nullptr)
            starts->push_back(true);
    }
}

// Whether folded text is whole byte pairs; bytes gets them as " ff 00 ".
bool AsBytes(const std::string &folded, std::string *bytes)
{
    *bytes = " ";
    size_t run = 0;
    for (char c : folded) {
        if (c == ' ') {
            if (run % 2 != 0)
                return false;
            run = 0;
            continue;
        }
        if (!IsHexDigit(c))
            return false;
        if (run % 2 == 0 && bytes->size() > 1)
            bytes->push_back(' ');
        bytes->push_back(c);
        ++run;
    }
    if (run % 2 != 0 || bytes->size() == 1)
        return false;
    bytes->push_back(' ');
    return true;
}

} // namespace

LogQuery MakeLogQuery(const char *typed, size_t length)
{
    LogQuery query{std::string(), false};
    if (typed == nullptr)
        return query;
    std::string folded;
    Fold(typed, length, &folded, nullptr);
    std::string bytes;
    if (AsBytes(folded, &bytes)) {
        query.text = bytes;
        query.bytes = true;
    } else {
        query.text = folded;
    }
    return query;
}

bool LogLineMatches(const LogQuery &query, const char *line, size_t length)
{
    if (query.text.empty() || line == nullptr)
        return false;
    std::string folded;
    std::vector<bool> starts;
    Fold(line, length, &folded, &starts);
    if (query.bytes) {
        // Whole bytes only: a space (or the line's ends) each side.
        folded.insert(folded.begin(), ' ');
        folded.push_back(' ');
        starts.insert(starts.begin(), true);
        starts.push_back(true);
    }
    for (size_t at = folded.find(query.text); at != std::string::npos; at = folded.find(query.text, at + 1)) {
        if (starts[at])
            return true;
    }
    return false;
}

void LogLineMark::Set(size_t index, const LogListState &state)
{
    set_ = true;
    clears_ = state.clears;
    head_ = state.head && index == 0;
    number_ = head_ ? 0 : state.let_go + (index - (state.head ? 1 : 0));
}

LogLineMark::Where LogLineMark::Locate(const LogListState &state, size_t *index) const
{
    if (!set_)
        return Where::None;
    if (state.clears != clears_)
        return Where::Cleared;
    if (head_) {
        *index = 0;
        return Where::Shown;
    }
    if (number_ < state.let_go)
        return Where::LetGo;
    *index = static_cast<size_t>(number_ - state.let_go) + (state.head ? 1 : 0);
    return Where::Shown;
}

size_t LogLineMark::Current(const LogListState &state) const
{
    size_t index = 0;
    return Locate(state, &index) == Where::Shown ? index : kNoLogLine;
}

std::string LogLinePositionText(size_t index)
{
    return "第 " + std::to_string(index + 1) + " 行";
}
