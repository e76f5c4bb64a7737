// The saved traffic log: the text of the file that Pellfray's "保存日志…"
// writes, built from what the window shows.
//
// The file is UTF-8 with a byte-order mark and CR LF line ends, like
// Tarnwick's exported table: the log lines themselves are ASCII, but the
// counter line carries the label "R：" with its full-width colon, and a
// Windows editor picks the right encoding from the mark whatever the
// system's code page. Each list entry becomes one line, in list order and
// with its text unchanged; the entries already end in CR LF, and an entry
// that does not gets one, so every line of the file ends the same way. The
// last line holds the two counters as the labels beside the list show them.
#pragma once

#include <string>
#include <vector>

// entries and the counter texts in UTF-8.
std::string TrafficLogFileText(const std::vector<std::string> &entries, const std::string &sent_count,
                               const std::string &received_count);
