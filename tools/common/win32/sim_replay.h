// --replay for both simulators: a Pellfray recording (or saved log) sent
// again, chunk by chunk, into the program at the desk.
//
//   --replay FILE   send the received chunks of FILE instead of the
//                   simulator's own traffic (tools/common/replay_file.h)
//   --speed F       F times as fast as recorded (default 1; 0.5 is half)
//   --loop          start again at the end of the file until Ctrl+C; a pass
//                   starts one second (of the file's time) after the last
//                   chunk of the one before
//
// Each chunk goes out in one write, at its recorded time divided by F from
// the start of the pass. Unreadable lines are reported on stderr with their
// number (at most ReplayReader::kMaxProblems of them, then a count) and
// skipped; the lines that belong in such a file without being chunks (sent
// lines, notes, date lines, the counter line and the head line about lines
// let go) are counted in the summary. The file is read as it is sent, so a
// recording of any length takes no more memory than one second of it.
#pragma once

#include <string>

namespace sim {

struct ReplayOptions {
    std::string file; // empty: no replay
    double speed = 1;
    bool loop = false;
};

enum class ReplayArg {
    kNotReplay, // not one of the replay options
    kFlag,      // --loop
    kValue,     // an option that took value
    kBadValue,  // one of them with a bad or missing value
};

// Takes one command-line argument (and the next, value, which may be null).
ReplayArg ParseReplayArg(const std::string &arg, const char *value, ReplayOptions *options);

// The options' usage lines, for the simulators' --help.
extern const char kReplayUsage[];

// Sends the file on the open port (PortWrite) until it ends (or, with loop,
// until Ctrl+C); false when the file cannot be opened. program names the
// simulator in messages.
bool RunReplay(const ReplayOptions &options, const char *program);

} // namespace sim
