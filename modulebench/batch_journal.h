// The journal of a batch configuration: one CSV row per attempt to give a
// tag its ID, the proof of which tag got which ID and the list Tarnwick
// reads back as the IDs to expect.
//
// The file is UTF-8 with a byte-order mark and CR LF line ends, like the
// exports, so Excel on a Chinese Windows opens it intact. It starts with the
// header 时间,ID号,发送周期,电量测量周期,结果; each row holds the local time
// with milliseconds, the ID, the two periods and the result: exactly 已配置
// for a frame that went out, 未能发出：<reason> for one that did not. A batch
// stopped by the operator ends with a stop line whose first cell begins with
// 停止 and whose ID cell is empty, so that no reader takes it for an ID.
//
// Continuing: the journal read back yields the IDs already configured (rows
// whose result is exactly 已配置), which are never armed again, and its
// newest rows for the window. A file that does not begin with the header is
// not a journal and is refused rather than appended to. Rows are appended
// whole, one write each; a file that ends in the middle of a line (a power
// failure during a write) gets a line end before the next row.
//
// Texts here are UTF-8 in every build (u8 literals): they go to the file,
// never to the ...A API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// A row's local time: 2026-12-07 16:31:02.123.
struct JournalStamp {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};

struct JournalRow {
    uint32_t id;
    int32_t send_period;
    int32_t battery_period;
    std::string result; // UTF-8
};

extern const char kJournalHeader[];     // the header line, without the line end
extern const char kJournalConfigured[]; // "已配置"

// "2026-12-07 16:31:02.123"
std::string FormatJournalStamp(const JournalStamp &time);
// One cell as CSV wants it: quoted (quotes doubled) when it holds a comma,
// a quote or a line end; else as it is.
std::string JournalCell(const std::string &text);
// A whole row, CR LF included.
std::string FormatJournalRow(const JournalStamp &time, const JournalRow &row);
// The result of a frame that did not go out: 未能发出：reason (reason UTF-8).
std::string NotSentResult(const std::string &reason);
// The stop line, CR LF included: 停止 <time>,,,,<summary>.
std::string FormatJournalStop(const JournalStamp &time, const std::string &summary);

// What is already in a file chosen as the journal.
struct JournalContents {
    std::set<uint32_t> configured;  // IDs whose row says 已配置
    std::vector<std::string> recent; // display texts of the newest rows (at most kJournalRecentRows)
    size_t rows = 0;                 // ID rows of any result
};
constexpr size_t kJournalRecentRows = 10;

enum class JournalOpen : uint8_t {
    New,      // empty file: write the mark and header first
    Continue, // a journal: append
    Foreign,  // not a journal: refuse
};
// Reads the whole file; prefix gets what must be written before the first
// new row (mark and header for a new file, a line end after a cut line).
JournalOpen ReadJournal(const std::string &bytes, JournalContents *contents, std::string *prefix);

// The window's line for a row: "16:31:02.123  ID 17  已配置" (UTF-8).
std::string JournalDisplayText(const std::string &time_cell, const std::string &id_cell,
                               const std::string &result_cell);

// The cells of one CSV record starting at bytes[*pos]; *pos moves past its
// line end. False at the end of the text.
bool NextCsvRecord(const std::string &bytes, size_t *pos, std::vector<std::string> *cells);
