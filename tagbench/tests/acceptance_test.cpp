// The batch check: the judgement as a table (expected IDs x table rows x
// criteria -> result per tag and the counts), the copy of a real table
// (reports, ageing, a full table), the texts and the export, the list
// files (headers, bad lines, Pellfray's journal in UTF-8 and GBK) and the
// remembered criteria.
#include "tag_frames.h"
#include "tagbench/acceptance.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using R = AcceptResult;

AcceptanceTag Tag(uint32_t id, int32_t signal, uint64_t reports, bool uv = false, bool offline = false)
{
    AcceptanceTag t;
    t.id = id;
    t.signal = signal;
    t.reports = reports;
    t.under_voltage = uv;
    t.offline = offline;
    t.first_ms = 100000;
    t.last_ms = 101000;
    return t;
}

std::map<uint32_t, R> Results(const AcceptanceJudgement &j)
{
    std::map<uint32_t, R> out;
    for (const AcceptanceRow &r : j.rows)
        out[r.tag.id] = r.result;
    return out;
}

std::vector<uint32_t> FailingIds(const AcceptanceJudgement &j)
{
    std::vector<uint32_t> out;
    for (uint32_t i : j.failing)
        out.push_back(j.rows[i].tag.id);
    return out;
}

// The table of the judgement tests: tag 10 to 19 expected; the table holds
// 5 (a stranger), 10 to 18 with one fault each, and 30 (a stranger).
const std::vector<uint32_t> kExpected = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
const std::vector<AcceptanceTag> kTable = {
    Tag(5, -40, 9),
    Tag(10, -50, 3),                // passes: exactly the minimum reports
    Tag(11, -50, 2),                // one report short: missing
    Tag(12, -80, 5),                // exactly the minimum signal: passes
    Tag(13, -81, 5),                // one dB below: weak
    Tag(14, -50, 5, true),          // under-voltage
    Tag(15, -90, 5, true),          // under-voltage and weak: under-voltage
    Tag(16, -50, 5, false, true),   // offline
    Tag(17, -90, 5, true, true),    // offline, under-voltage and weak: offline
    Tag(18, -30, 1000),             // passes
    Tag(30, -95, 1),                // a stranger with one report still counts
};

TEST(AcceptanceJudge, ResultsAndCountsFollowTheCriteria)
{
    AcceptanceCriteria lenient;
    lenient.under_voltage_fails = false;
    lenient.offline_fails = false;
    AcceptanceCriteria strict;
    strict.min_signal = -45;
    strict.min_reports = 6;
    const struct {
        const char *name;
        AcceptanceCriteria criteria;
        std::map<uint32_t, R> results; // expected tags only
        AcceptanceCounts counts;       // expected, arrived, passed, missing, uv, weak, offline, unexpected
    } cases[] = {
        {"defaults",
         AcceptanceCriteria(),
         {{10, R::kPassed}, {11, R::kMissing}, {12, R::kPassed}, {13, R::kWeak}, {14, R::kUnderVoltage},
          {15, R::kUnderVoltage}, {16, R::kOffline}, {17, R::kOffline}, {18, R::kPassed}, {19, R::kMissing}},
         {10, 8, 3, 2, 2, 1, 2, 2}},
        {"under-voltage and offline not counted",
         lenient,
         {{10, R::kPassed}, {11, R::kMissing}, {12, R::kPassed}, {13, R::kWeak}, {14, R::kPassed},
          {15, R::kWeak}, {16, R::kPassed}, {17, R::kWeak}, {18, R::kPassed}, {19, R::kMissing}},
         {10, 8, 5, 2, 0, 3, 0, 2}},
        {"stricter signal and reports",
         strict,
         {{10, R::kMissing}, {11, R::kMissing}, {12, R::kMissing}, {13, R::kMissing}, {14, R::kMissing},
          {15, R::kMissing}, {16, R::kMissing}, {17, R::kMissing}, {18, R::kPassed}, {19, R::kMissing}},
         {10, 1, 1, 9, 0, 0, 0, 2}},
    };
    for (const auto &c : cases) {
        AcceptanceJudgement j;
        JudgeAcceptance(kExpected, kTable, c.criteria, 0, &j);
        std::map<uint32_t, R> results = Results(j);
        EXPECT_EQ(R::kUnexpected, results[5]) << c.name;
        EXPECT_EQ(R::kUnexpected, results[30]) << c.name;
        results.erase(5);
        results.erase(30);
        EXPECT_EQ(c.results, results) << c.name;
        const AcceptanceCounts &n = j.counts;
        const AcceptanceCounts &w = c.counts;
        EXPECT_EQ(std::vector<uint32_t>({w.expected, w.arrived, w.passed, w.missing, w.under_voltage, w.weak,
                                         w.offline, w.unexpected}),
                  std::vector<uint32_t>({n.expected, n.arrived, n.passed, n.missing, n.under_voltage, n.weak,
                                         n.offline, n.unexpected}))
            << c.name;
    }
}

TEST(AcceptanceJudge, RowsAndFailuresComeInTheirOrder)
{
    AcceptanceJudgement j;
    JudgeAcceptance(kExpected, kTable, AcceptanceCriteria(), 0, &j);
    std::vector<uint32_t> ids;
    for (const AcceptanceRow &r : j.rows)
        ids.push_back(r.tag.id);
    EXPECT_EQ(std::vector<uint32_t>({10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 5, 30}), ids);
    EXPECT_EQ(std::vector<uint32_t>({11, 19, 16, 17, 14, 15, 13, 5, 30}), FailingIds(j));

    // Storage is reused: a second judgement replaces the first.
    JudgeAcceptance({}, {}, AcceptanceCriteria(), 7, &j);
    EXPECT_TRUE(j.rows.empty());
    EXPECT_TRUE(j.failing.empty());
    EXPECT_EQ(0u, j.counts.expected);
    EXPECT_EQ(7, j.refused);
}

TEST(AcceptanceJudge, ExtremeIdsMergeInUnsignedOrder)
{
    const std::vector<uint32_t> expected = {0, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    const std::vector<AcceptanceTag> table = {Tag(0, -50, 3), Tag(0x80000000u, -50, 3), Tag(0xFFFFFFFEu, -50, 3),
                                              Tag(0xFFFFFFFFu, -50, 3)};
    AcceptanceJudgement j;
    JudgeAcceptance(expected, table, AcceptanceCriteria(), 0, &j);
    const std::map<uint32_t, R> want = {{0, R::kPassed},
                                        {0x7FFFFFFF, R::kMissing},
                                        {0x80000000u, R::kPassed},
                                        {0xFFFFFFFEu, R::kUnexpected},
                                        {0xFFFFFFFFu, R::kPassed}};
    EXPECT_EQ(want, Results(j));
}

TEST(AcceptanceTexts, ReasonsVerdictsAndNotes)
{
    AcceptanceJudgement j;
    JudgeAcceptance(kExpected, kTable, AcceptanceCriteria(), 0, &j);
    const AcceptanceCriteria c;
    const std::map<uint32_t, std::string> reasons = {
        {10, ""},
        {11, "仅 2 次报告（至少 3 次）"},
        {13, "信号 -81 dB（低于 -80 dB）"},
        {15, "欠压；信号 -90 dB（低于 -80 dB）"},
        {17, "已掉线；欠压；信号 -90 dB（低于 -80 dB）"},
        {19, "未出现"},
        {30, "不在应到名单中"},
    };
    int checked = 0;
    for (const AcceptanceRow &r : j.rows) {
        if (reasons.count(r.tag.id) == 0)
            continue;
        EXPECT_EQ(reasons.at(r.tag.id), AcceptanceReason(r, c)) << r.tag.id;
        ++checked;
    }
    EXPECT_EQ(7, checked);

    EXPECT_EQ("不合格：缺失 2，掉线 2，欠压 2，信号弱 1；多余 2", AcceptanceVerdict(j.counts));
    AcceptanceCounts all;
    all.expected = all.arrived = all.passed = 4;
    EXPECT_EQ("全部合格", AcceptanceVerdict(all));
    all.unexpected = 1;
    EXPECT_EQ("全部合格；多余 1", AcceptanceVerdict(all));
    all.passed = 3;
    all.weak = 1;
    EXPECT_EQ("不合格：信号弱 1；多余 1", AcceptanceVerdict(all));
    EXPECT_EQ("未设定应到标签", AcceptanceVerdict(AcceptanceCounts()));

    EXPECT_EQ("", AcceptanceIncompleteNote(0));
    EXPECT_EQ("标签表已满（3000 个），另有 1 个标签未能记入：判断可能不完整", AcceptanceIncompleteNote(1));
    EXPECT_EQ("标签表已满（3000 个），另有 3000 个以上标签未能记入：判断可能不完整",
              AcceptanceIncompleteNote(kMaxRefusedIds));
}

TEST(AcceptanceExport, RowsThenSummary)
{
    const std::vector<AcceptanceTag> table = {Tag(7, -40, 3), Tag(8, -85, 4, true), Tag(9, -50, 12)};
    AcceptanceJudgement j;
    JudgeAcceptance({7, 8, 20}, table, AcceptanceCriteria(), 2, &j);
    // History clock 0 is 2024-02-29 23:58:20 local.
    const WallClock clock = {0, LocalSecondsFromCivil(2024, 2, 29, 23, 58, 20) * 1000};
    const std::string csv = AcceptanceCsv(j, AcceptanceCriteria(), clock);
    EXPECT_EQ("\xEF\xBB\xBF"
              "ID,结果,报告次数,最强信号 dB,首次出现,最后出现\r\n"
              "7,合格,3,-40,2024-03-01 00:00:00,2024-03-01 00:00:01\r\n"
              "8,欠压,4,-85,2024-03-01 00:00:00,2024-03-01 00:00:01\r\n"
              "20,缺失,0,,,\r\n"
              "9,多余,12,-50,2024-03-01 00:00:00,2024-03-01 00:00:01\r\n"
              "\r\n"
              "应到,3\r\n已到,2\r\n合格,1\r\n缺失,1\r\n欠压,1\r\n信号弱,0\r\n掉线,0\r\n多余,1\r\n"
              "结论,不合格：缺失 1，欠压 1；多余 1\r\n"
              "判定条件,最低信号 -80 dB；至少报告 3 次；欠压不合格；掉线不合格\r\n"
              "注意,标签表已满（3000 个），另有 2 个标签未能记入：判断可能不完整\r\n",
              csv);
}

// --- the copy of a real table ------------------------------------------------------

void Report(uint32_t id, int8_t signal, bool uv = false)
{
    const Bytes f = MakeReport(false, id, uv ? 0x01 : 0x00, signal);
    EnterFrameAt(f.data(), static_cast<uint32_t>(f.size()), TestNowMs.load());
}

AcceptanceTag Copied(uint32_t id)
{
    std::vector<AcceptanceTag> tags;
    int32_t refused = -1;
    SnapshotForAcceptance(&tags, &refused);
    for (const AcceptanceTag &t : tags)
        if (t.id == id)
            return t;
    return AcceptanceTag();
}

TEST(AcceptanceSnapshot, CopiesReportsSignalFlagAndOfflineFromTheTable)
{
    ResetCoreState();
    Report(40, -60);
    AdvanceTestClock(1500);
    Report(40, -45, true);
    Report(40, -70, true);
    Report(41, -55);
    AcceptanceTag t = Copied(40);
    EXPECT_EQ(40u, t.id);
    EXPECT_EQ(-45, t.signal);
    EXPECT_EQ(3u, t.reports);
    EXPECT_TRUE(t.under_voltage);
    EXPECT_FALSE(t.offline);
    EXPECT_EQ(100000, t.first_ms);
    EXPECT_EQ(101500, t.last_ms);

    // Ten silent ticks: offline, with the last known signal; an eleventh
    // restarts its activity but not its count of reports.
    for (int i = 0; i < 10; ++i)
        AgeTagTable();
    t = Copied(40);
    EXPECT_TRUE(t.offline);
    EXPECT_EQ(-45, t.signal);
    AgeTagTable();
    t = Copied(40);
    EXPECT_TRUE(t.offline);
    EXPECT_EQ(3u, t.reports);
    Report(40, -66);
    t = Copied(40);
    EXPECT_FALSE(t.offline);
    EXPECT_FALSE(t.under_voltage);
    EXPECT_EQ(-66, t.signal);
    EXPECT_EQ(4u, t.reports);

    // Judged from the real copy: 40 back online, 41 silent all along, 42 never seen.
    std::vector<AcceptanceTag> tags;
    int32_t refused = -1;
    SnapshotForAcceptance(&tags, &refused);
    EXPECT_EQ(0, refused);
    AcceptanceCriteria c;
    c.min_reports = 1;
    AcceptanceJudgement j;
    JudgeAcceptance({40, 41, 42}, tags, c, refused, &j);
    EXPECT_EQ((std::map<uint32_t, R>{{40, R::kPassed}, {41, R::kOffline}, {42, R::kMissing}}), Results(j));
}

TEST(AcceptanceSnapshot, AFullTableCountsTheTagsItRefuses)
{
    ResetCoreState();
    for (uint32_t id = 1; id <= kMaxTags; ++id)
        Report(id, -50);
    EXPECT_EQ(0, RefusedTagCount.load());
    Report(5000, -50);
    Report(5000, -50); // the same tag again counts once
    Report(4000, -50);
    Report(3, -40);    // a tag in the table is still refreshed, not refused
    EXPECT_EQ(2, RefusedTagCount.load());
    EXPECT_EQ(kMaxTags, TagCount.load());
    std::vector<AcceptanceTag> tags;
    int32_t refused = 0;
    SnapshotForAcceptance(&tags, &refused);
    EXPECT_EQ(2, refused);
    EXPECT_EQ(static_cast<size_t>(kMaxTags), tags.size());
    EXPECT_EQ(2u, tags[2].reports);
    ResetTagBench(nullptr);
    EXPECT_EQ(0, RefusedTagCount.load());

    // Counted exactly up to its bound, then held there.
    ResetCoreState();
    for (uint32_t id = 1; id <= kMaxTags; ++id)
        Report(id, -50);
    for (uint32_t id = 0; id < static_cast<uint32_t>(kMaxRefusedIds) + 5; ++id)
        Report(100000 + (id * 7919u) % 20000u, -50);
    EXPECT_EQ(kMaxRefusedIds, RefusedTagCount.load());
    InitTagBench();
    EXPECT_EQ(0, RefusedTagCount.load());
}

// --- list files ---------------------------------------------------------------

const std::string kBom = "\xEF\xBB\xBF";
const std::string kJournalHeader = "时间,ID号,发送周期,电量测量周期,结果\r\n";

TEST(AcceptanceList, FilesAreReadLineByLine)
{
    const struct {
        const char *name;
        std::string bytes;
        std::vector<uint32_t> ids;
        std::vector<uint32_t> bad_lines;
        uint32_t duplicates;
        bool journal;
        uint32_t not_configured;
    } cases[] = {
        {"one ID a line, LF", "5\n3\n4\n", {3, 4, 5}, {}, 0, false, 0},
        {"header, CRLF, more columns, BOM", kBom + "卡号,备注\r\n100,a\r\n101,b\r\n", {100, 101}, {}, 0, false, 0},
        {"blank lines, comments, spaces, quotes, tabs", "\r\n# batch 7\r\n  12 \r\n\"13\",x\r\n14\tb\r\n\r\n", {12, 13, 14}, {}, 0, false, 0},
        {"bad lines reported by number, rest used", "ID\n1\nx2\n3\n-4\n4294967296\n4294967295\n0x10\n", {1, 3, 4294967295u}, {3, 5, 6, 8}, 0, false, 0},
        {"duplicates kept once", "7\n7\n8\n7\n", {7, 8}, {}, 2, false, 0},
        {"a number in the first line is data", "9,x\n", {9}, {}, 0, false, 0},
        {"Pellfray's journal",
         kBom + kJournalHeader +
             "2026-12-07 10:00:01.120,200,5,60,已配置\r\n"
             "2026-12-07 10:00:04.500,201,5,60,未能发出：1 秒内未能写完（已发出 3 / 12 字节）\r\n"
             "2026-12-07 10:00:06.010,201,5,60,已配置\r\n"
             "2026-12-07 10:00:09.800,202,5,60,\"未能发出：串口未打开, 重试\"\r\n"
             "2026-12-07 10:00:11.000,x,5,60,已配置\r\n"
             "2026-12-07 10:00:12.000,203\r\n"
             "2026-12-07 10:00:13.000,,,,停止（已配置 2 个）\r\n"
             "停止 2026-12-07 10:00:13\r\n"
             "# 停止\r\n",
         {200, 201}, {6, 7}, 0, true, 2},
        {"the journal saved as GBK",
         "\xCA\xB1\xBC\xE4,ID\xBA\xC5,\xB7\xA2\xCB\xCD\xD6\xDC\xC6\xDA,x,\xBD\xE1\xB9\xFB\r\n"
         "2026-12-07 10:00:01,300,5,60,\xD2\xD1\xC5\xE4\xD6\xC3\r\n"
         "2026-12-07 10:00:02,301,5,60,\xCE\xB4\r\n",
         {300}, {}, 0, true, 1},
        {"a header naming the ID column (the table export)", kBom + "序号,卡号,欠压\r\n1,1000,正常\r\n2,1001,正常\r\n3\r\n", {1000, 1001}, {4}, 0, false, 0},
        {"the same in GBK", "\xD0\xF2\xBA\xC5,\xBF\xA8\xBA\xC5\r\n1,1000\r\n", {1000}, {}, 0, false, 0},
    };
    for (const auto &c : cases) {
        ExpectedList list;
        ASSERT_EQ(ListProblem::kNone, ReadExpectedList(c.bytes, &list)) << c.name;
        EXPECT_EQ(c.ids, list.ids) << c.name;
        EXPECT_EQ(c.bad_lines, list.bad_lines) << c.name;
        EXPECT_EQ(c.duplicates, list.duplicates) << c.name;
        EXPECT_EQ(c.journal, list.journal) << c.name;
        EXPECT_EQ(c.not_configured, list.not_configured) << c.name;
    }
}

TEST(AcceptanceList, RefusedFilesLeaveTheListAlone)
{
    std::string many;
    for (uint32_t id = 1; id <= kMaxExpectedTags + 1; ++id)
        many += std::to_string(id) + "\n";
    std::string exactly;
    for (uint32_t id = 1; id <= kMaxExpectedTags; ++id)
        exactly += std::to_string(id) + "\r\n";
    const struct {
        std::string bytes;
        ListProblem problem;
    } cases[] = {
        {"", ListProblem::kNoIds},
        {"卡号\nabc\n", ListProblem::kNoIds},
        {kBom + kJournalHeader + "2026-12-07 10:00:01,200,5,60,未能发出\r\n", ListProblem::kNoIds},
        {many, ListProblem::kTooMany},
        {std::string(kMaxListFileBytes + 1, '1'), ListProblem::kTooLarge},
    };
    for (const auto &c : cases) {
        ExpectedList list;
        list.ids = {42};
        EXPECT_EQ(c.problem, ReadExpectedList(c.bytes, &list)) << c.bytes.substr(0, 40);
        EXPECT_EQ(std::vector<uint32_t>({42}), list.ids);
        EXPECT_FALSE(ListProblemText(c.problem).empty());
    }
    ExpectedList list;
    EXPECT_EQ(ListProblem::kNone, ReadExpectedList(exactly, &list));
    EXPECT_EQ(kMaxExpectedTags, list.ids.size());
}

TEST(AcceptanceList, NotesAndSources)
{
    ExpectedList list;
    ASSERT_EQ(ListProblem::kNone, ReadExpectedList("1\nx\n2\n2\n\ny\n", &list));
    EXPECT_EQ("第 2、6 行无法读取，已略过。重复的ID 1 个，各计一次。应到标签 2 个。", ExpectedListNote(list));
    EXPECT_EQ("文件 a.csv，共 2 个", ExpectedSourceText(list, "a.csv"));

    std::string bad = "1\n";
    for (int i = 0; i < 25; ++i)
        bad += "z\n";
    ASSERT_EQ(ListProblem::kNone, ReadExpectedList(bad, &list));
    EXPECT_EQ("第 2、3、4、5、6、7、8、9、10、11、12、13、14、15、16、17、18、19、20、21 等 25 行无法读取，已略过。"
              "应到标签 1 个。",
              ExpectedListNote(list));
    ASSERT_EQ(ListProblem::kNone, ReadExpectedList("1\n2\n", &list));
    EXPECT_EQ("", ExpectedListNote(list));

    ASSERT_TRUE(ExpectedRange(4294967295u - 2999, 4294967295u, &list));
    EXPECT_EQ(3000u, list.ids.size());
    EXPECT_EQ(4294967295u, list.ids.back());
    EXPECT_EQ("范围 4294964296 - 4294967295，共 3000 个", ExpectedSourceText(list, ""));
    ASSERT_TRUE(ExpectedRange(5, 5, &list));
    EXPECT_EQ(std::vector<uint32_t>({5}), list.ids);
    EXPECT_FALSE(ExpectedRange(6, 5, &list));
    EXPECT_FALSE(ExpectedRange(1, 3001, &list));
    EXPECT_EQ(std::vector<uint32_t>({5}), list.ids);
}

TEST(AcceptanceSettings, TypedCriteriaAreWholeNumbersInTheirRange)
{
    const struct {
        const char *text;
        bool ok;
        int64_t value;
    } cases[] = {
        {"-80", true, -80}, {" -128 ", true, -128}, {"127", true, 127}, {"0", true, 0},
        {"-129", false, 0}, {"128", false, 0},      {"", false, 0},     {"-", false, 0},
        {"8 0", false, 0},  {"+5", false, 0},       {"-8a", false, 0},  {"99999999999999999999", false, 0},
    };
    for (const auto &c : cases) {
        int64_t v = 42;
        EXPECT_EQ(c.ok, ParseCriterion(c.text, kMinSignalLowest, kMinSignalHighest, &v)) << c.text;
        EXPECT_EQ(c.ok ? c.value : 42, v) << c.text;
    }
}

TEST(AcceptanceSettings, StoredValuesOutsideTheirRangeGiveTheDefaults)
{
    const StoredSetting none;
    auto v = [](int64_t value) { return StoredSetting{true, value}; };
    const struct {
        StoredSetting signal, reports, uv, offline;
        int32_t min_signal;
        uint32_t min_reports;
        bool uv_fails, offline_fails;
    } cases[] = {
        {none, none, none, none, -80, 3, true, true},
        {v(-128), v(1), v(0), v(0), -128, 1, false, false},
        {v(127), v(1000000), v(1), v(1), 127, 1000000, true, true},
        {v(-129), v(0), v(2), v(-1), -80, 3, true, true},
        {v(128), v(1000001), v(0xFFFFFFFF), v(7), -80, 3, true, true},
    };
    for (const auto &c : cases) {
        const AcceptanceCriteria got = CriteriaFromStored(c.signal, c.reports, c.uv, c.offline);
        EXPECT_EQ(c.min_signal, got.min_signal);
        EXPECT_EQ(c.min_reports, got.min_reports);
        EXPECT_EQ(c.uv_fails, got.under_voltage_fails);
        EXPECT_EQ(c.offline_fails, got.offline_fails);
    }
}

} // namespace
