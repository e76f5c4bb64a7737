#include "tools/common/replay_file.h"

#include <cstring>
#include <utility>

#include "tools/common/sim_args.h"

namespace sim {

namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int64_t kHalfDayMs = kDayMs / 2;

// Exactly n decimal digits at text[at]; -1 otherwise.
int Digits(const std::string &text, size_t at, size_t n)
{
    if (at + n > text.size())
        return -1;
    int value = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool StartsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DayNumber(int year, int month, int day)
{
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t year_of_era = y - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// "hh:mm:ss" or "hh:mm:ss.mmm" at text[4], then " ]". Sets the time of day
// in milliseconds, whether it had milliseconds, and where the text after
// "]" starts. False when the head does not read.
bool ReadTime(const std::string &text, int64_t *ms_of_day, bool *with_ms, size_t *after)
{
    const int hour = Digits(text, 4, 2);
    const int minute = Digits(text, 7, 2);
    const int second = Digits(text, 10, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || text.size() < 12 ||
        text[6] != ':' || text[9] != ':')
        return false;
    size_t at = 12;
    int ms = 0;
    *with_ms = at < text.size() && text[at] == '.';
    if (*with_ms) {
        ms = Digits(text, at + 1, 3);
        if (ms < 0)
            return false;
        at += 4;
    }
    if (text.compare(at, 2, " ]") != 0)
        return false;
    *ms_of_day = ((hour * 60 + minute) * 60 + second) * 1000LL + ms;
    *after = at + 2;
    return true;
}

} // namespace

void ReplayReader::Problem(const char *reason)
{
    ++counts_.unreadable;
    if (problems_.size() < kMaxProblems)
        problems_.push_back(ReplayProblem{line_number_, reason});
}

int64_t ReplayReader::Place(int64_t ms_of_day)
{
    // Without date lines a day ends where the time falls back by more than
    // half a day.
    if (!have_date_ && have_time_ && ms_of_day + kHalfDayMs < last_ms_of_day_)
        day_ms_ += kDayMs;
    have_time_ = true;
    last_ms_of_day_ = ms_of_day;
    return day_ms_ + ms_of_day;
}

void ReplayReader::Emit(int64_t at_ms, std::vector<uint8_t> bytes, size_t line)
{
    if (!have_origin_) {
        have_origin_ = true;
        origin_ms_ = at_ms;
        last_at_ms_ = at_ms;
    }
    if (at_ms < last_at_ms_)
        at_ms = last_at_ms_;
    last_at_ms_ = at_ms;
    ++counts_.chunks;
    counts_.bytes += bytes.size();
    ReplayChunk chunk;
    chunk.at_s = static_cast<double>(at_ms - origin_ms_) / 1000.0;
    chunk.bytes = std::move(bytes);
    chunk.line = line;
    ready_.push_back(std::move(chunk));
}

void ReplayReader::ReleaseSecond()
{
    const size_t n = second_.size();
    for (size_t i = 0; i < n; ++i)
        Emit(second_at_ms_ + static_cast<int64_t>(i) * 1000 / static_cast<int64_t>(n), std::move(second_[i].bytes),
             second_[i].line);
    second_.clear();
}

void ReplayReader::Feed(const std::string &raw)
{
    ++line_number_;
    std::string text = raw;
    if (line_number_ == 1 && StartsWith(text, "\xEF\xBB\xBF"))
        text.erase(0, 3);
    if (!text.empty() && text.back() == '\r')
        text.pop_back();

    if (text.find_first_not_of(' ') == std::string::npos) {
        ++counts_.blank_lines;
        return;
    }
    if (StartsWith(text, "S : ")) {
        ++counts_.counter_lines;
        return;
    }
    if (StartsWith(text, "[ - ]")) {
        ++counts_.let_go_lines;
        return;
    }
    if (StartsWith(text, "[ = ")) {
        const int year = Digits(text, 4, 4);
        const int month = Digits(text, 9, 2);
        const int day = Digits(text, 12, 2);
        if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || text[8] != '-' || text[11] != '-' ||
            text.compare(14, 2, " ]") != 0) {
            Problem("a date line that does not read as [ = YYYY-MM-DD ]");
            return;
        }
        ++counts_.date_lines;
        const int64_t number = DayNumber(year, month, day);
        if (!have_date_ || number != last_day_number_)
            day_ms_ = have_date_ ? day_ms_ + (number - last_day_number_) * kDayMs : 0;
        have_date_ = true;
        last_day_number_ = number;
        return;
    }
    const bool received = StartsWith(text, "[ R ");
    if (!received && !StartsWith(text, "[ S ") && !StartsWith(text, "[ ! ")) {
        Problem("not a line of a Pellfray log");
        return;
    }
    int64_t ms_of_day = 0;
    bool with_ms = false;
    size_t at = 0;
    if (!ReadTime(text, &ms_of_day, &with_ms, &at)) {
        Problem("a time that does not read as hh:mm:ss or hh:mm:ss.mmm");
        return;
    }
    if (!received) {
        Place(ms_of_day);
        ++(text[2] == 'S' ? counts_.sent_lines : counts_.notes);
        return;
    }
    std::vector<uint8_t> bytes;
    while (at < text.size()) {
        int high = -1;
        int low = -1;
        if (at + 3 <= text.size() && text[at] == ' ') {
            high = HexDigit(text[at + 1]);
            low = HexDigit(text[at + 2]);
        }
        if (high < 0 || low < 0) {
            Problem("received bytes that are not pairs of hex digits, one space before each");
            return;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
        at += 3;
    }
    if (bytes.empty()) {
        Problem("a received line without bytes");
        return;
    }
    const int64_t when = Place(ms_of_day);
    if (with_ms) {
        ReleaseSecond();
        Emit(when, std::move(bytes), line_number_);
        return;
    }
    if (!second_.empty() && second_at_ms_ != when)
        ReleaseSecond();
    second_at_ms_ = when;
    second_.push_back(Held{std::move(bytes), line_number_});
}

void ReplayReader::Finish()
{
    ReleaseSecond();
}

bool ReplayReader::Next(ReplayChunk *out)
{
    if (ready_next_ == ready_.size()) {
        ready_.clear();
        ready_next_ = 0;
        return false;
    }
    *out = std::move(ready_[ready_next_++]);
    return true;
}

} // namespace sim
