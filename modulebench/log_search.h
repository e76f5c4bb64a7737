// Finding lines in Pellfray's log list, and keeping hold of the line found
// while the list goes on growing and letting its oldest lines go.
//
// What the user types is matched against the lines as the list shows them,
// case-insensitively and with any run of blanks counting as one space. A
// query made only of hex byte pairs ("ff ff ff ff 00", also typed without
// spaces, "ffffffff00") is a byte sequence: it matches whole bytes of a line
// only, so "ff ff" does not match the middle of "1f ff f0", and "12" does not
// match the hour of "[ R 12:00:00 ]". Any other query is plain text. Upper
// and lower case are folded for ASCII letters only; the second byte of a
// double-byte (GBK) character is never folded, and a match never begins
// inside such a character.
//
// A line of the list is known by its number since the last clear: the lines
// let go before it plus its position below the head line. The number stays
// the same while lines come and go, so the found line can be found again
// after a trim, or said to be gone. The head line itself ("[ - ] ...") can be
// found too; it stays at index 0 until the list is cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LogQuery {
    std::string text; // folded; " ff 00 " (a space each side) for bytes
    bool bytes;       // a byte sequence rather than text
};

// The query for what the user typed; empty text when there is nothing to
// look for (blanks only).
LogQuery MakeLogQuery(const char *typed, size_t length);

// Whether line[0 .. length) (its CR LF may be there) matches.
bool LogLineMatches(const LogQuery &query, const char *line, size_t length);

constexpr size_t kNoLogLine = ~static_cast<size_t>(0);

// The list's lines as the search reads them: size_t Count() and
// std::string Line(size_t index).
// Looks at every line once, going forward or backward from the line after
// (before) from, the line found last, and wrapping round the ends; from
// itself comes last. With no line found last (kNoLogLine, or past the end)
// the search begins at the oldest line going forward, the newest going
// backward. Returns the index of the first line that matches, or
// kNoLogLine; wrapped tells that the search went round an end to find it.
template <class Lines>
size_t FindLogLine(const Lines &lines, const LogQuery &query, size_t from, bool forward, bool *wrapped)
{
    *wrapped = false;
    const size_t count = lines.Count();
    if (count == 0 || query.text.empty())
        return kNoLogLine;
    size_t index = forward ? 0 : count - 1;
    bool round = false;
    if (from < count) {
        round = forward ? from + 1 == count : from == 0;
        if (!round)
            index = forward ? from + 1 : from - 1;
    }
    for (size_t seen = 0; seen < count; ++seen) {
        const std::string line = lines.Line(index);
        if (LogLineMatches(query, line.data(), line.size())) {
            *wrapped = round;
            return index;
        }
        if (forward ? index + 1 == count : index == 0)
            round = true;
        index = forward ? (index + 1 == count ? 0 : index + 1) : (index == 0 ? count - 1 : index - 1);
    }
    return kNoLogLine;
}

// Where the list stands: from LogListBound (log_view.h).
struct LogListState {
    uint64_t clears; // times emptied
    uint64_t let_go; // lines let go since
    bool head;       // the head line shows at index 0
};

// The line found, held by number.
class LogLineMark {
public:
    enum class Where {
        None,   // nothing marked
        Shown,  // still in the list, at the index given
        LetGo,  // let go past the bound
        Cleared // the list was emptied since
    };

    void Set(size_t index, const LogListState &state);
    void Forget() { set_ = false; }
    bool IsSet() const { return set_; }

    // Where the marked line is now.
    Where Locate(const LogListState &state, size_t *index) const;

    // The marked line's index while it shows, else kNoLogLine: where the
    // next search goes on from.
    size_t Current(const LogListState &state) const;

private:
    bool set_ = false;
    bool head_ = false; // the head line itself
    uint64_t clears_ = 0;
    uint64_t number_ = 0;
};

// Texts of the find box (code page of the build).
extern const char kLogNotFoundText[];    // "未找到"
extern const char kLogWrappedText[];     // "已从另一端继续查找"
extern const char kLogMarkLetGoText[];   // "找到的行已移出列表"
extern const char kLogMarkClearedText[]; // "日志已清空"
// "第 n 行" for the line at index (counted from 1, as the list shows it).
std::string LogLinePositionText(size_t index);
