// Checking a batch of tags against the table: which of the tags that should
// report did, which failed and why, and who else is on the air.
//
// The expected IDs (a range, or a list file such as Pellfray's batch
// journal) and the table are both sorted by ID, so one merge pass judges
// them: O(expected + table), about 6000 steps for a full table, with no
// search per ID. The table is copied in one short hold of TableLock
// (SnapshotForAcceptance) and judged after it is released, so the table
// thread waits for a copy of 3000 small records and nothing more.
//
// A tag's result is the first that applies of: 缺失 (not in the table, or
// fewer reports than the minimum), 掉线 (offline now), 欠压 (its latest
// report carries the under-voltage flag), 信号弱 (its strongest recent
// signal, the grid's dB value, is below the minimum), else 合格; 掉线 and
// 欠压 count only while their criterion is on. Every expected tag has one
// result, so 合格 + 缺失 + 掉线 + 欠压 + 信号弱 = 应到; a tag that fails in
// more than one way says so in its reason. Tags in the table that are not
// expected are 多余, whatever their reports.
//
// Texts here are UTF-8 (u8 literals) in every build: the window converts
// them for Windows, the export writes them as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tagbench/local_time.h"

// The judge's criteria, remembered per user by the window.
struct AcceptanceCriteria {
    int32_t min_signal = -80;  // dB; a strongest recent signal below it is 信号弱
    uint32_t min_reports = 3;  // fewer reports since entering the table: 缺失
    bool under_voltage_fails = true;
    bool offline_fails = true;
};
constexpr int32_t kMinSignalLowest = -128;
constexpr int32_t kMinSignalHighest = 127;
constexpr uint32_t kMinReportsHighest = 1000000;

// Results, in the order the list of failures shows them.
enum class AcceptResult : uint8_t { kMissing, kOffline, kUnderVoltage, kWeak, kUnexpected, kPassed };
constexpr int kAcceptResultCount = 6;
// 缺失, 掉线, 欠压, 信号弱, 多余, 合格.
const char *AcceptResultName(AcceptResult result);

// One tag of the table as the judge sees it.
struct AcceptanceTag {
    uint32_t id = 0;
    int32_t signal = 0;     // strongest of its last reports, dB (kept while offline)
    bool offline = false;   // the grid shows it red
    bool under_voltage = false;
    uint64_t reports = 0;   // since it entered the table
    int64_t first_ms = 0;   // history clock
    int64_t last_ms = 0;
};

// The table in ID order, copied under TableLock; *refused gets
// RefusedTagCount of the same moment. Any thread.
void SnapshotForAcceptance(std::vector<AcceptanceTag> *tags, int32_t *refused);

// Problem bits of a row (a tag may have several; the result is the first).
constexpr uint8_t kProblemNotSeen = 0x01;
constexpr uint8_t kProblemFewReports = 0x02;
constexpr uint8_t kProblemOffline = 0x04;
constexpr uint8_t kProblemUnderVoltage = 0x08;
constexpr uint8_t kProblemWeak = 0x10;

struct AcceptanceRow {
    AcceptResult result = AcceptResult::kMissing;
    uint8_t problems = 0;
    bool in_table = false; // false: tag holds only the id
    AcceptanceTag tag;
};

struct AcceptanceCounts {
    uint32_t expected = 0;  // 应到
    uint32_t arrived = 0;   // 已到: in the table with enough reports
    uint32_t passed = 0;    // 合格
    uint32_t missing = 0;   // 缺失
    uint32_t under_voltage = 0;
    uint32_t weak = 0;      // 信号弱
    uint32_t offline = 0;   // 掉线
    uint32_t unexpected = 0; // 多余
};

struct AcceptanceJudgement {
    AcceptanceCounts counts;
    // Every expected tag in ID order, then every stranger in ID order.
    std::vector<AcceptanceRow> rows;
    // Positions in rows of the tags that do not pass: 缺失 first, then
    // 掉线, 欠压, 信号弱, 多余, each in ID order.
    std::vector<uint32_t> failing;
    int32_t refused = 0; // tags the full table did not take: the judgement may be incomplete
};

// expected: sorted, no duplicates. table: sorted by id, no duplicates (as
// the table keeps it). Reuses out's storage.
void JudgeAcceptance(const std::vector<uint32_t> &expected, const std::vector<AcceptanceTag> &table,
                     const AcceptanceCriteria &criteria, int32_t refused, AcceptanceJudgement *out);

// --- texts --------------------------------------------------------------------

// Why a row does not pass, e.g. "未出现", "仅 2 次报告（至少 3 次）",
// "欠压；信号 -85 dB（低于 -80 dB）"; "" for a tag that passes.
std::string AcceptanceReason(const AcceptanceRow &row, const AcceptanceCriteria &criteria);
// "全部合格" when every expected tag passes, else "不合格：缺失 2，欠压 1";
// strangers are added ("；多余 3"); "未设定应到标签" for an empty list.
std::string AcceptanceVerdict(const AcceptanceCounts &counts);
// "" while the table took every tag; otherwise that the judgement may be
// incomplete, with the count of tags not taken.
std::string AcceptanceIncompleteNote(int32_t refused);
// The criteria in words, for the export.
std::string AcceptanceCriteriaText(const AcceptanceCriteria &criteria);

// The export: UTF-8 with a byte-order mark, CRLF; a header
// "ID,结果,报告次数,最强信号 dB,首次出现,最后出现", one row per expected tag
// and per stranger, then an empty line and the summary (counts, verdict,
// criteria, and the note of a full table), one "name,value" row each.
std::string AcceptanceCsv(const AcceptanceJudgement &judgement, const AcceptanceCriteria &criteria,
                          const WallClock &clock);

// A criterion typed into the window: a whole decimal number, optionally
// negative, spaces around allowed, within [min, max].
bool ParseCriterion(const std::string &text, int64_t min, int64_t max, int64_t *value);

// --- the criteria as stored -----------------------------------------------------

// A remembered value as read back: present or not, and the number.
struct StoredSetting {
    bool present = false;
    int64_t value = 0;
};
// The criteria from what was stored; a value missing or out of its range
// gives its default.
AcceptanceCriteria CriteriaFromStored(const StoredSetting &min_signal, const StoredSetting &min_reports,
                                      const StoredSetting &under_voltage_fails, const StoredSetting &offline_fails);

// --- the expected list ---------------------------------------------------------

constexpr uint32_t kMaxExpectedTags = 3000; // the table's capacity
// A list file larger than this is refused unread.
constexpr size_t kMaxListFileBytes = 16u << 20;

struct ExpectedList {
    std::vector<uint32_t> ids;           // sorted, no duplicates
    std::vector<uint32_t> bad_lines;     // 1-based numbers of lines that did not read
    uint32_t duplicates = 0;             // IDs given more than once (kept once)
    bool journal = false;                // read as Pellfray's batch journal
    uint32_t not_configured = 0;         // journal rows whose frame did not go out
};

enum class ListProblem { kNone, kNoIds, kTooMany, kTooLarge };

// first..last inclusive; false (and nothing changed) when first > last or
// the range holds more than kMaxExpectedTags IDs.
bool ExpectedRange(uint32_t first, uint32_t last, ExpectedList *out);

// A CSV or text file whose first column holds tag IDs (decimal), with or
// without a header line, UTF-8 (with or without a byte-order mark) or GBK.
// Blank lines and lines starting with '#' are passed over. Pellfray's batch
// journal (header 时间,ID号,发送周期,电量测量周期,结果) is recognised by its
// header: its IDs are in the second column and only rows whose 结果 is
// 已配置 count; its stop line and the rows of frames that did not go out
// are passed over (the latter counted).
ListProblem ReadExpectedList(const std::string &bytes, ExpectedList *out);
// The message after a file was read: how many IDs, and the lines that did
// not read (at most kListedBadLines numbers, then how many more); "" when
// every line read. For kNone only.
std::string ExpectedListNote(const ExpectedList &list);
constexpr size_t kListedBadLines = 20;
// The message for a refused file.
std::string ListProblemText(ListProblem problem);
// The source line of the window: "范围 1 - 200，共 200 个" or
// "文件 batch.csv，共 200 个".
std::string ExpectedSourceText(const ExpectedList &list, const std::string &file_name);
