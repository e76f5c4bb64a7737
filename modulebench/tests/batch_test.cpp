// The batch configuration's core: the fields a run starts from, the
// journal's rows read and written, and the run's decisions as scripts of
// events against a recording outside (arms, disarms, rows, sounds, notes).
#include "modulebench/batch_journal.h"
#include "modulebench/batch_run.h"
#include "modulebench/input_filters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BatchFieldTexts Fields(const char *first, const char *last, const char *count, const char *step = "1",
                       bool automatic = false, const char *pause = "3")
{
    BatchFieldTexts t;
    t.first = first;
    t.last = last;
    t.count = count;
    t.step = step;
    t.send_period = "5";
    t.battery_period = "10";
    t.automatic = automatic;
    t.pause = pause;
    return t;
}

TEST(BatchSettings, RangeStepCountAndPause)
{
    struct Case {
        BatchFieldTexts texts;
        const char *refused; // null: accepted with the values below
        uint32_t first, last, step, pause_ms;
    };
    BatchFieldTexts no_send = Fields("1", "9", "");
    no_send.send_period = "";
    BatchFieldTexts battery_high = Fields("1", "9", "");
    battery_high.battery_period = "256";
    BatchFieldTexts battery_zero = Fields("1", "9", "");
    battery_zero.battery_period = "0";
    const Case cases[] = {
        {Fields("1", "100", ""), nullptr, 1, 100, 1, 3000},
        {Fields("10", "20", "", "3"), nullptr, 10, 19, 3, 3000},           // the last ID on the step
        {Fields("10", "", "4", "5"), nullptr, 10, 25, 5, 3000},            // four IDs: 10 15 20 25
        {Fields("1000000", "1000000", ""), nullptr, 1000000, 1000000, 1, 3000},
        {Fields("999999", "", "2"), nullptr, 999999, 1000000, 1, 3000},
        {Fields("1", "5", "", "1", true, "0.5"), nullptr, 1, 5, 1, 500},
        {Fields("1", "5", "", "1", true, "60"), nullptr, 1, 5, 1, 60000},
        {Fields("1", "5", "", "1", true, "0"), nullptr, 1, 5, 1, 0},
        {Fields("1", "5", "", "1", false, "x"), nullptr, 1, 5, 1, 3000}, // 手动 never reads the pause
        {battery_zero, nullptr, 1, 9, 1, 3000},
        {Fields("", "5", ""), "起始ID号不能为空", 0, 0, 0, 0},
        {Fields("0", "5", ""), "起始ID号只能是 1 - 1000000", 0, 0, 0, 0},
        {Fields("1000001", "1000002", ""), "起始ID号只能是 1 - 1000000", 0, 0, 0, 0},
        {Fields(" 1", "5", ""), "起始ID号只能是 1 - 1000000", 0, 0, 0, 0},
        {Fields("1", "", ""), "结束ID号或数量不能为空", 0, 0, 0, 0},
        {Fields("1", "5", "5"), "结束ID号和数量只能填一个", 0, 0, 0, 0},
        {Fields("1", "1000001", ""), "结束ID号只能是 1 - 1000000", 0, 0, 0, 0},
        {Fields("5", "4", ""), "结束ID号不能小于起始ID号", 0, 0, 0, 0},
        {Fields("1", "", "0"), "数量只能是 1 - 1000000", 0, 0, 0, 0},
        {Fields("999999", "", "3"), "ID号超出 1 - 1000000：请减少数量或步长", 0, 0, 0, 0},
        {Fields("1", "", "3", "500000"), "ID号超出 1 - 1000000：请减少数量或步长", 0, 0, 0, 0},
        {Fields("1", "5", "", ""), "步长不能为空", 0, 0, 0, 0},
        {Fields("1", "5", "", "0"), "步长只能是 1 - 1000000", 0, 0, 0, 0},
        {Fields("1", "5", "", "1", true, "60.001"), "自动间隔只能是 0 - 60 秒", 0, 0, 0, 0},
        {Fields("1", "5", "", "1", true, ""), "自动间隔只能是 0 - 60 秒", 0, 0, 0, 0},
        {Fields("1", "5", "", "1", true, "1."), "自动间隔只能是 0 - 60 秒", 0, 0, 0, 0},
        {Fields("1", "5", "", "1", true, "0.1234"), "自动间隔只能是 0 - 60 秒", 0, 0, 0, 0},
        {no_send, "发送周期不能为空", 0, 0, 0, 0},
        {battery_high, NumericFieldRangeText(NumericField::BatteryPeriod), 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        BatchSettings s;
        const char *why = CheckBatchSettings(c.texts, &s);
        const std::string label = c.texts.first + "|" + c.texts.last + "|" + c.texts.count + "|" + c.texts.step +
                                  "|" + c.texts.pause;
        if (c.refused != nullptr) {
            EXPECT_STREQ(c.refused, why) << label;
            continue;
        }
        ASSERT_EQ(nullptr, why) << label << ": " << why;
        EXPECT_EQ(c.first, s.first) << label;
        EXPECT_EQ(c.last, s.last) << label;
        EXPECT_EQ(c.step, s.step) << label;
        EXPECT_EQ(c.pause_ms, s.pause_ms) << label;
        EXPECT_EQ(5, s.send_period) << label;
        EXPECT_EQ(c.texts.battery_period == "0" ? 0 : 10, s.battery_period) << label;
    }
}

const JournalStamp kTime = {2026, 12, 7, 9, 5, 7, 42};

TEST(BatchJournal, RowsAndStopLineAsWritten)
{
    EXPECT_EQ(u8"2026-12-07 09:05:07.042,17,5,10,已配置\r\n",
              FormatJournalRow(kTime, {17, 5, 10, kJournalConfigured}));
    EXPECT_EQ(u8"2026-12-07 09:05:07.042,1000000,255,0,未能发出：串口未打开\r\n",
              FormatJournalRow(kTime, {1000000, 255, 0, NotSentResult(u8"串口未打开")}));
    // A reason with the CSV's own characters stays one cell.
    EXPECT_EQ(u8"2026-12-07 09:05:07.042,3,1,1,\"未能发出：a,\"\"b\"\"\r\nc\"\r\n",
              FormatJournalRow(kTime, {3, 1, 1, NotSentResult("a,\"b\"\r\nc")}));
    EXPECT_EQ(u8"停止 2026-12-07 09:05:07.042,,,,\"x, y\"\r\n", FormatJournalStop(kTime, "x, y"));
}

TEST(BatchJournal, ReadBackForContinuing)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string head = bom + kJournalHeader + "\r\n";
    struct Case {
        const char *name;
        std::string bytes;
        JournalOpen open;
        std::set<uint32_t> configured;
        size_t rows;
        std::string prefix;
        std::string newest; // display text of the newest row
    };
    const Case cases[] = {
        {"empty file", "", JournalOpen::New, {}, 0, head, ""},
        {"mark only", bom, JournalOpen::New, {}, 0, std::string(kJournalHeader) + "\r\n", ""},
        {"header only", head, JournalOpen::Continue, {}, 0, "", ""},
        {"header without mark, LF ends", std::string(kJournalHeader) + "\n2026-12-07 09:00:00.000,4,5,10," +
                                             kJournalConfigured + "\n",
         JournalOpen::Continue, {4}, 1, "", u8"09:00:00.000  ID 4  已配置"},
        {"a saved log", bom + "[ R 09:00:00 ] ff\r\n", JournalOpen::Foreign, {}, 0, "", ""},
        {"another CSV", bom + u8"卡号,状态\r\n1,2\r\n", JournalOpen::Foreign, {}, 0, "", ""},
        {"rows of each kind",
         head + FormatJournalRow(kTime, {7, 5, 10, kJournalConfigured}) +
             FormatJournalRow(kTime, {8, 5, 10, NotSentResult("x,y")}) +
             FormatJournalRow(kTime, {9, 5, 10, kJournalConfigured}) + FormatJournalStop(kTime, u8"完"),
         JournalOpen::Continue, {7, 9}, 3, "", u8"09:05:07.042  完"},
        {"a failed row alone gives nothing", head + FormatJournalRow(kTime, {8, 5, 10, NotSentResult("z")}),
         JournalOpen::Continue, {}, 1, "", u8"09:05:07.042  ID 8  未能发出：z"},
        {"a row cut by a power failure", head + FormatJournalRow(kTime, {7, 5, 10, kJournalConfigured}) + "2026-12",
         JournalOpen::Continue, {7}, 1, "\r\n", u8"09:05:07.042  ID 7  已配置"},
        {"cells that are no ID", head + u8"x,0,5,10,已配置\r\nx,1000001,5,10,已配置\r\nx,12a,5,10,已配置\r\n"
                                        u8"x,,5,10,已配置\r\nx,5\r\nx,6,5,10,已配置 \r\n",
         JournalOpen::Continue, {}, 1, "", u8"x  ID 6  已配置 "},
    };
    for (const Case &c : cases) {
        JournalContents contents;
        std::string prefix = "(untouched)";
        EXPECT_EQ(c.open, ReadJournal(c.bytes, &contents, &prefix)) << c.name;
        if (c.open == JournalOpen::Foreign)
            continue;
        EXPECT_EQ(c.configured, contents.configured) << c.name;
        EXPECT_EQ(c.rows, contents.rows) << c.name;
        EXPECT_EQ(c.prefix, prefix) << c.name;
        EXPECT_EQ(c.newest, contents.recent.empty() ? "" : contents.recent.back()) << c.name;
    }
}

TEST(BatchJournal, KeepsTheNewestTenRowsForTheWindow)
{
    std::string bytes = std::string(kJournalHeader) + "\r\n";
    for (uint32_t id = 1; id <= 12; ++id)
        bytes += FormatJournalRow(kTime, {id, 5, 10, kJournalConfigured});
    JournalContents contents;
    std::string prefix;
    ASSERT_EQ(JournalOpen::Continue, ReadJournal(bytes, &contents, &prefix));
    ASSERT_EQ(kJournalRecentRows, contents.recent.size());
    EXPECT_EQ(u8"09:05:07.042  ID 3  已配置", contents.recent.front());
    EXPECT_EQ(u8"09:05:07.042  ID 12  已配置", contents.recent.back());
    EXPECT_EQ(12u, contents.configured.size());
}

// --- the run ----------------------------------------------------------------

// What the run did, one word per act: "arm 3 #1" (ID 3 armed as arming 1),
// "disarm #1", "row 3 ok" / "row 3 fail:<reason>", "ok" / "bad" / "done"
// sounds, "note". Arms are numbered from 1; refuse_arm makes them fail.
struct Recorder {
    std::vector<std::string> acts;
    uint32_t armings = 0;
    bool refuse_arm = false;
    bool refuse_row = false;
    std::vector<JournalRow> rows;

    BatchOutside Outside()
    {
        BatchOutside o;
        o.arm = [this](uint32_t id, int32_t send, int32_t battery) -> uint32_t {
            EXPECT_EQ(5, send);
            EXPECT_EQ(10, battery);
            if (refuse_arm) {
                acts.push_back("arm refused");
                return 0;
            }
            ++armings;
            acts.push_back("arm " + std::to_string(id) + " #" + std::to_string(armings));
            return armings;
        };
        o.disarm = [this](uint32_t arm) { acts.push_back("disarm #" + std::to_string(arm)); };
        o.write_row = [this](const JournalRow &row) {
            rows.push_back(row);
            const bool ok = row.result == kJournalConfigured;
            acts.push_back("row " + std::to_string(row.id) + (ok ? " ok" : " fail:" + row.result.substr(row.result.find(u8"：") + 3)));
            return !refuse_row;
        };
        o.sound = [this](BatchSound s) {
            acts.push_back(s == BatchSound::Configured ? "ok" : s == BatchSound::NotSent ? "bad" : "done");
        };
        o.note = [this](const char *) { acts.push_back("note"); };
        return o;
    }
};

enum class Ev { Answer, NotSent, Next, Tick, TickChanged, Pause, Resume, Close, Reopen, Stop, RefuseArm, RefuseRow };
struct Step {
    Ev ev;
    uint32_t value = 0; // Answer / NotSent: the arming; Tick: the time
};

struct Script {
    const char *name;
    BatchFieldTexts fields;
    std::set<uint32_t> given;
    std::vector<Step> steps;
    std::string acts;        // every act, joined by "; "
    BatchState state;
    uint32_t current_id;     // armed or next
    uint32_t in_range;
};

std::string Join(const std::vector<std::string> &acts)
{
    std::string out;
    for (const std::string &a : acts)
        out += (out.empty() ? "" : "; ") + a;
    return out;
}

TEST(BatchRunScript, EachEventInEachState)
{
    using S = BatchState;
    const Script scripts[] = {
        {"manual: configured, then 下一个", Fields("1", "3", ""), {},
         {{Ev::Answer, 1}, {Ev::Next}},
         "arm 1 #1; row 1 ok; ok; arm 2 #2", S::Waiting, 2, 1},
        {"manual: nothing armed until 下一个, a late tick changes nothing", Fields("1", "3", ""), {},
         {{Ev::Answer, 1}, {Ev::Tick, 100000}, {Ev::Answer, 1}},
         "arm 1 #1; row 1 ok; ok", S::Configured, 2, 1},
        {"step and a journal's IDs skipped (off-step and outside IDs not counted)", Fields("10", "30", "", "5"), {10, 12, 20, 99},
         {{Ev::Answer, 1}, {Ev::Next}, {Ev::Answer, 2}, {Ev::Next}},
         "arm 15 #1; row 15 ok; ok; arm 25 #2; row 25 ok; ok; arm 30 #3", S::Waiting, 30, 4},
        {"the last ID ends the run", Fields("7", "", "2"), {7},
         {{Ev::Answer, 1}, {Ev::Next}},
         "arm 8 #1; row 8 ok; done", S::Done, 0, 2},
        {"automatic: armed when the pause is over (answer at 0); nothing armed to change meanwhile", Fields("1", "3", "", "1", true, "0.5"), {},
         {{Ev::Answer, 1}, {Ev::TickChanged, 499}, {Ev::Tick, 500}},
         "arm 1 #1; row 1 ok; ok; arm 2 #2", S::Waiting, 2, 1},
        {"automatic: 下一个 cuts the pause short", Fields("1", "3", "", "1", true, "60"), {},
         {{Ev::Answer, 1}, {Ev::Next}},
         "arm 1 #1; row 1 ok; ok; arm 2 #2", S::Waiting, 2, 1},
        {"answers to armings the run did not make", Fields("1", "3", ""), {},
         {{Ev::Answer, 0}, {Ev::Answer, 7}, {Ev::NotSent, 7}},
         "arm 1 #1", S::Waiting, 1, 0},
        {"a frame that did not go out: a row, a sound, the same ID armed again", Fields("1", "3", ""), {},
         {{Ev::NotSent, 1}, {Ev::Answer, 2}},
         "arm 1 #1; row 1 fail:why; bad; arm 1 #2; row 1 ok; ok", S::Configured, 2, 1},
        {"pause disarms, 继续 arms the same ID again", Fields("1", "3", ""), {},
         {{Ev::Pause}, {Ev::Resume}},
         "arm 1 #1; disarm #1; arm 1 #2", S::Waiting, 1, 0},
        {"an answer on its way during the pause still counts", Fields("1", "3", ""), {},
         {{Ev::Pause}, {Ev::Answer, 1}, {Ev::Resume}},
         "arm 1 #1; disarm #1; row 1 ok; ok", S::Configured, 2, 1},
        {"re-armed after 继续, the old arming answers: the new one goes", Fields("1", "3", ""), {},
         {{Ev::Pause}, {Ev::Resume}, {Ev::Answer, 1}, {Ev::Answer, 2}},
         "arm 1 #1; disarm #1; arm 1 #2; row 1 ok; disarm #2; ok", S::Configured, 2, 1},
        {"paused while waiting for 下一个: 继续 waits again", Fields("1", "3", ""), {},
         {{Ev::Answer, 1}, {Ev::Pause}, {Ev::Next}, {Ev::Resume}},
         "arm 1 #1; row 1 ok; ok", S::Configured, 2, 1},
        {"a closed port pauses; a port reopened by hand needs 继续", Fields("1", "3", ""), {},
         {{Ev::Close}, {Ev::Answer, 1}},
         "arm 1 #1; note; row 1 ok; ok", S::Paused, 2, 1},
        {"a lost port back by itself: the same ID armed again, said in the log", Fields("1", "3", ""), {},
         {{Ev::Close}, {Ev::Reopen}},
         "arm 1 #1; note; arm 1 #2; note", S::Waiting, 1, 0},
        {"lost while waiting for 下一个: back waiting for it", Fields("1", "3", ""), {},
         {{Ev::Answer, 1}, {Ev::Close}, {Ev::Reopen}},
         "arm 1 #1; row 1 ok; ok; note", S::Configured, 2, 1},
        {"paused by the operator, the port comes back: still paused", Fields("1", "3", ""), {},
         {{Ev::Pause}, {Ev::Close}, {Ev::Reopen}},
         "arm 1 #1; disarm #1", S::Paused, 1, 0},
        {"the main dialog's configuration changed by hand pauses", Fields("1", "3", ""), {},
         {{Ev::TickChanged, 5}},
         "arm 1 #1; note", S::Paused, 1, 0},
        {"an arming refused pauses", Fields("1", "3", ""), {},
         {{Ev::Answer, 1}, {Ev::RefuseArm}, {Ev::Next}},
         "arm 1 #1; row 1 ok; ok; arm refused; note", S::Paused, 2, 1},
        {"a row not written pauses", Fields("1", "3", ""), {},
         {{Ev::RefuseRow}, {Ev::Answer, 1}, {Ev::Next}},
         "arm 1 #1; row 1 ok; ok", S::Paused, 2, 1},
        {"停止 disarms; an answer already on its way is journalled", Fields("1", "3", ""), {},
         {{Ev::Stop}, {Ev::Answer, 1}, {Ev::Next}},
         "arm 1 #1; disarm #1; row 1 ok", S::Stopped, 2, 1},
        {"停止 while waiting for 下一个 has nothing to disarm", Fields("1", "3", ""), {},
         {{Ev::Answer, 1}, {Ev::Stop}},
         "arm 1 #1; row 1 ok; ok", S::Stopped, 2, 1},
    };
    for (const Script &script : scripts) {
        Recorder r;
        BatchRun run(r.Outside());
        BatchSettings settings;
        ASSERT_EQ(nullptr, CheckBatchSettings(script.fields, &settings)) << script.name;
        ASSERT_EQ(nullptr, run.Start(settings, script.given, 0)) << script.name;
        for (const Step &step : script.steps) {
            switch (step.ev) {
            case Ev::Answer: run.Answered(step.value, 0); break;
            case Ev::NotSent: run.NotSent(step.value, "why"); break;
            case Ev::Next: run.Next(); break;
            case Ev::Tick: run.Tick(step.value, true); break;
            case Ev::TickChanged: run.Tick(step.value, false); break;
            case Ev::Pause: run.Pause(); break;
            case Ev::Resume: run.Resume(0); break;
            case Ev::Close: run.PortClosed(); break;
            case Ev::Reopen: run.PortResumed(0); break;
            case Ev::Stop: run.Stop(); break;
            case Ev::RefuseArm: r.refuse_arm = true; break;
            case Ev::RefuseRow: r.refuse_row = true; break;
            }
        }
        EXPECT_EQ(script.acts, Join(r.acts)) << script.name;
        EXPECT_EQ(script.state, run.state()) << script.name;
        EXPECT_EQ(script.current_id, run.current_id()) << script.name;
        EXPECT_EQ(script.in_range, run.configured_in_range()) << script.name;
    }
}

TEST(BatchRunScript, RefusesARangeAlreadyGivenAndASecondStart)
{
    Recorder r;
    BatchRun run(r.Outside());
    BatchSettings s;
    ASSERT_EQ(nullptr, CheckBatchSettings(Fields("1", "3", "", "2"), &s));
    EXPECT_STREQ("范围内的ID号都已在日志中配置过", run.Start(s, {1, 3}, 0));
    EXPECT_EQ(BatchState::Idle, run.state());
    EXPECT_EQ(nullptr, run.Start(s, {1}, 0));
    EXPECT_STREQ("批量配置正在进行", run.Start(s, {}, 0));
    EXPECT_EQ("arm 3 #1", Join(r.acts));
    EXPECT_EQ(2u, run.range_size());
}

// The rows carry the run's periods; the rate is over the newest ten; the
// summary counts this run and the range.
TEST(BatchRunScript, RowsRateAndSummary)
{
    Recorder r;
    BatchRun run(r.Outside());
    BatchSettings s;
    ASSERT_EQ(nullptr, CheckBatchSettings(Fields("1", "", "20"), &s));
    ASSERT_EQ(nullptr, run.Start(s, {2}, 0));
    EXPECT_EQ(0.0, run.per_minute());
    // Twelve tags, the first two slow, then one every 2 s.
    uint64_t t = 0;
    for (uint32_t i = 1; i <= 12; ++i) {
        t += i <= 2 ? 30000 : 2000;
        run.Answered(run.arm(), t);
        run.Next();
    }
    EXPECT_DOUBLE_EQ(30.0, run.per_minute());
    ASSERT_EQ(12u, r.rows.size());
    EXPECT_EQ(1u, r.rows[0].id);
    EXPECT_EQ(3u, r.rows[1].id);
    EXPECT_EQ(13u, r.rows[11].id);
    EXPECT_EQ(u8"本次已配置 12 个；范围 1 - 20（步长 1）已配置 13 / 20", run.Summary());
}

} // namespace
