// Reading a Pellfray recording, or a saved Pellfray log, back as the chunks
// its device sent, for the simulators' --replay.
//
// Every received line ("[ R hh:mm:ss ] 01 ab ..." or "[ R hh:mm:ss.mmm ] ...")
// becomes one chunk with the same bytes, in file order, with the time it was
// logged. Millisecond times are taken as they are; whole-second times carry
// no spacing of their own, so the received lines of one second are spread
// evenly over it (three lines at 10:00:05 go at .000, .333 and .667). A
// recording's date lines ("[ = 2026-12-08 ]") place the times on the right
// day; a saved log has none, so a time more than twelve hours earlier than
// the line before it is taken as the next day, and any other step back as no
// gap at all: the replay never runs backwards.
//
// Lines that are not chunks but belong in such a file are skipped and only
// counted: sent lines ("[ S ...]"), notes ("[ ! ...]"), date lines, the
// saved log's counter line ("S : n    R：m") and its head line about lines
// the list let go ("[ - ] ..."), blank lines. Anything else, and a known
// line that does not read cleanly (a bad time, a byte that is not two hex
// digits), is reported with its line number and skipped; nothing is
// guessed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct ReplayChunk {
    double at_s = 0;            // seconds after the file's first chunk
    std::vector<uint8_t> bytes; // as received, in order
    size_t line = 0;            // its line number in the file, from 1
};

struct ReplayProblem {
    size_t line;
    std::string reason;
};

struct ReplayCounts {
    uint64_t chunks = 0;
    uint64_t bytes = 0;
    uint64_t sent_lines = 0;
    uint64_t notes = 0;
    uint64_t date_lines = 0;
    uint64_t counter_lines = 0;
    uint64_t let_go_lines = 0;
    uint64_t blank_lines = 0;
    uint64_t unreadable = 0;
};

class ReplayReader {
public:
    // Reports kept in full; more are only counted.
    static constexpr size_t kMaxProblems = 100;

    // The next line of the file, without its LF (a CR before it and the
    // byte-order mark of the first line are dropped here).
    void Feed(const std::string &line);
    // The file has ended: every chunk is ready.
    void Finish();
    // The next chunk, in file order; false when none is ready yet.
    bool Next(ReplayChunk *out);

    const ReplayCounts &counts() const { return counts_; }
    const std::vector<ReplayProblem> &problems() const { return problems_; }

private:
    struct Held {
        std::vector<uint8_t> bytes;
        size_t line;
    };

    void Problem(const char *reason);
    // A time on the file's time line, in milliseconds.
    int64_t Place(int64_t ms_of_day);
    void Emit(int64_t at_ms, std::vector<uint8_t> bytes, size_t line);
    void ReleaseSecond();

    size_t line_number_ = 0;
    ReplayCounts counts_;
    std::vector<ReplayProblem> problems_;
    std::vector<ReplayChunk> ready_;
    size_t ready_next_ = 0;

    int64_t day_ms_ = 0;      // start of the current day on the time line
    bool have_date_ = false;  // a date line set the day
    int64_t last_day_number_ = 0;
    bool have_time_ = false;
    int64_t last_ms_of_day_ = 0;

    bool have_origin_ = false;
    int64_t origin_ms_ = 0;   // the first chunk's time
    int64_t last_at_ms_ = 0;  // the last chunk's time

    std::vector<Held> second_;   // received whole-second lines of one second
    int64_t second_at_ms_ = 0;   // that second on the time line
};

// When each chunk of a replay goes out, in seconds of the sender's clock:
// its recorded time divided by the speed, from the start of its pass. A
// further pass (--loop) starts one recorded second after the last chunk of
// the pass before, so that its first chunk does not run into that one.
class ReplayClock {
public:
    ReplayClock(double start_s, double speed) : pass_start_s_(start_s), speed_(speed) {}
    double Due(double at_s) const { return pass_start_s_ + at_s / speed_; }
    void NextPass(double last_at_s) { pass_start_s_ += (last_at_s + 1.0) / speed_; }

private:
    double pass_start_s_;
    double speed_;
};

} // namespace sim
