// Reminder frames, text parsing and the start/stop state machine, with the
// dialog replaced by a recording fake.
#include "serial/crc16.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/reminder.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct FakeDialog {
    std::vector<Bytes> written;
    std::map<int, std::string> edits;
    std::map<int, bool> checks;
    std::vector<std::string> messages;
    bool running_ui = false;
    int ui_calls = 0;
    // What the next writes report (each taken once); whole frames sent after.
    std::deque<SerialWriteOutcome> outcomes;
    std::vector<uint32_t> failures_shown;
};
FakeDialog Dialog;

SerialWriteOutcome FakeWrite(const uint8_t *data, uint32_t length)
{
    Dialog.written.emplace_back(data, data + length);
    if (Dialog.outcomes.empty())
        return SerialWriteOutcome{WriteStatus::Sent, length, 0};
    const SerialWriteOutcome next = Dialog.outcomes.front();
    Dialog.outcomes.pop_front();
    return next;
}
void FakeShowWriteFailures(uint32_t count) { Dialog.failures_shown.push_back(count); }
void FakeReadEdit(int id, char *text, int size)
{
    std::snprintf(text, static_cast<size_t>(size), "%s", Dialog.edits[id].c_str());
}
bool FakeIsChecked(int id) { return Dialog.checks[id]; }
void FakeShowMessage(const char *text) { Dialog.messages.emplace_back(text); }
void FakeSetRunningUi(bool running)
{
    Dialog.running_ui = running;
    ++Dialog.ui_calls;
}

Bytes Hex(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values) {
        b.push_back(static_cast<uint8_t>(v));
    }
    return b;
}

Bytes Legacy(uint32_t n, uint32_t first, uint8_t mode)
{
    Bytes b(kReminderFrameCapacity);
    b.resize(BuildLegacyReminderFrame(n, first, mode, b.data(), static_cast<uint32_t>(b.size())));
    return b;
}

Bytes Frame55(uint32_t n, uint32_t first, uint8_t mode)
{
    Bytes b(kReminderFrameCapacity);
    b.resize(BuildReminderFrame55AA(n, first, mode, b.data(), static_cast<uint32_t>(b.size())));
    return b;
}

uint32_t IdAt(const Bytes &f, size_t offset)
{
    return (uint32_t(f[offset]) << 24) | (uint32_t(f[offset + 1]) << 16) | (uint32_t(f[offset + 2]) << 8) | f[offset + 3];
}

// Entries of a frame of either layout, checked for CRC and length byte.
struct Decoded {
    bool legacy;
    std::vector<uint32_t> ids;
    std::vector<uint8_t> modes;
};
Decoded Decode(const Bytes &f)
{
    Decoded d{};
    d.legacy = f.size() >= 4 && f[0] == 0xFF;
    const size_t entries_at = d.legacy ? 6 : 4;
    EXPECT_EQ(f[entries_at - 1], f.size() - entries_at - 2);
    EXPECT_EQ(f[entries_at - 2], d.legacy ? 0x01 : 0x02);
    const size_t crc_from = d.legacy ? 0 : 2;
    EXPECT_EQ(Crc16Modbus(f.data() + crc_from, f.size() - 2 - crc_from), GetCrc16(f.data() + f.size() - 2));
    for (size_t at = entries_at; at + 2 < f.size(); at += 5) {
        d.ids.push_back(IdAt(f, at));
        d.modes.push_back(f[at + 4]);
    }
    return d;
}

class TagReminderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dialog = FakeDialog{};
        SetReminderIo(ReminderIo{FakeWrite, FakeReadEdit, FakeIsChecked, FakeShowMessage, FakeSetRunningUi,
                                 FakeShowWriteFailures});
        ReminderWriteFailures = 0;
        ReminderRunning = false;
        ReminderPassArmed = false;
        ReminderSentCount = 0;
        ReminderStartId = 0;
        ReminderQuantity = 0;
        ReminderMode = kReminderOffMode;
        LastFrame55AA.store(0);
        // The dialog's start-up choice: green with buzzer, one tag.
        Dialog.checks = {{kReminderGreenCheck, true}, {kReminderRedCheck, false}, {kReminderBuzzerCheck, true}};
        Dialog.edits[kReminderQuantityEdit] = "1";
    }
    // Runs timer 2 once and returns what it wrote (empty when nothing).
    static Bytes Batch()
    {
        const size_t before = Dialog.written.size();
        OnReminderBatchTick();
        EXPECT_LE(Dialog.written.size(), before + 1) << "more than one frame per tick";
        return Dialog.written.size() == before ? Bytes{} : Dialog.written.back();
    }
    // Runs timer 2 until it writes nothing: the pass, decoded, as the IDs of
    // each frame's first and last entry, and every mode byte it carried.
    struct Pass {
        std::vector<std::pair<uint32_t, uint32_t>> frames;
        std::vector<uint8_t> modes;
        bool legacy = false;
    };
    static Pass RunPass()
    {
        Pass p;
        for (Bytes f = Batch(); !f.empty(); f = Batch()) {
            const Decoded d = Decode(f);
            p.frames.emplace_back(d.ids.front(), d.ids.back());
            p.modes.insert(p.modes.end(), d.modes.begin(), d.modes.end());
            p.legacy = d.legacy;
        }
        return p;
    }
    using Frames = std::vector<std::pair<uint32_t, uint32_t>>;
    static void Start(const char *id, const char *quantity)
    {
        Dialog.edits[kReminderStartIdEdit] = id;
        Dialog.edits[kReminderQuantityEdit] = quantity;
        ASSERT_FALSE(ReminderRunning);
        OnReminderButton();
    }
};

TEST_F(TagReminderTest, FrameSizesUpToTheLengthByteLimitAndNothingBeyond)
{
    for (uint32_t n : {1u, 51u}) {
        for (const Bytes &f : {Legacy(n, 4294967295u, 3), Frame55(n, 4294967295u, 3)}) {
            const Decoded d = Decode(f);
            ASSERT_EQ(d.ids.size(), n);
            EXPECT_EQ(d.ids.back(), 4294967295u + (n - 1)); // wraps to 0 and up
            EXPECT_EQ(d.modes.back(), 3);
        }
    }
    for (uint32_t n : {52u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(Legacy(n, 1, 1).empty()) << n;
        EXPECT_TRUE(Frame55(n, 1, 1).empty()) << n;
    }
    uint8_t small[20];
    EXPECT_EQ(BuildLegacyReminderFrame(3, 1, 1, small, sizeof small), 0u); // needs 23
    LastFrame55AA.store(1);
    SendReminderFrame(52, 1);
    EXPECT_TRUE(Dialog.written.empty());
}

TEST_F(TagReminderTest, ParsingFollowsTheStrtoulRulesFor32Bits)
{
    const std::pair<const char *, uint32_t> cases[] = {
        {"12abc", 12u},       {"abc", 0u},          {"-1", 4294967295u},          {"\t\n +7 ", 7u},
        {"4294967295", 4294967295u}, {"4294967296", 4294967295u}, {"-4294967296", 4294967295u},
        {"-4294967295", 1u},  {"99999999999999999999999", 4294967295u}, {"0000000000000000000012", 12u},
        {"+-5", 0u},          {"", 0u},             {nullptr, 0u}};
    for (const auto &c : cases)
        EXPECT_EQ(ParseUnsigned32(c.first), c.second) << (c.first ? c.first : "(null)");
}

TEST(TagReminderMode, TwiceTheLampPlusTheBuzzerAndNoneWithoutALamp)
{
    const struct {
        bool green, red, buzzer;
        int32_t mode;
    } cases[] = {{true, false, false, 0}, {true, false, true, 1}, {false, true, false, 2}, {false, true, true, 3},
                 {true, true, false, 4},  {true, true, true, 5},  {false, false, true, -1}, {false, false, false, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(c.mode, ReminderModeFromChecks(c.green, c.red, c.buzzer)) << c.green << c.red << c.buzzer;
}

TEST_F(TagReminderTest, QuantityRules)
{
    Start("100", ""); // empty: one tag
    EXPECT_EQ(ReminderQuantity, 1u);
    EXPECT_EQ(Decode(Batch()).ids, std::vector<uint32_t>{100});
    OnReminderButton(); // stop
    Batch();

    Start("100", "0");
    EXPECT_EQ(ReminderQuantity, 1u);
    OnReminderButton();
    Batch();

    Start("100", "80");
    EXPECT_TRUE(ReminderRunning);
    EXPECT_EQ(ReminderQuantity, 80u);
    OnReminderButton();

    Dialog.written.clear();
    Start("100", "81");
    EXPECT_FALSE(ReminderRunning);
    EXPECT_EQ(Dialog.messages, std::vector<std::string>{"最多呼叫80个"});
    EXPECT_TRUE(Dialog.written.empty());

    Start("100", "-1"); // 4294967295 tags: refused the same way
    EXPECT_EQ(Dialog.messages.size(), 2u);
    EXPECT_EQ(ReminderQuantity, 80u);
}

TEST_F(TagReminderTest, TimelineOfStartPassesAndStop)
{
    LastFrame55AA.store(1);
    Start("1000", "80");
    ASSERT_EQ(Dialog.written.size(), 1u);
    EXPECT_EQ(Dialog.written[0], Hex({0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x05, 0x00, 0x00, 0x03, 0xE8, 0x01, 0xA5, 0x65}));
    EXPECT_TRUE(Dialog.running_ui);

    // Changing the boxes or the quantity while running changes nothing.
    Dialog.checks[kReminderRedCheck] = true;
    Dialog.edits[kReminderQuantityEdit] = "3";

    // Passes of 35 + 35 + 10 tags, one a second.
    const Frames kPass80 = {{1000, 1034}, {1035, 1069}, {1070, 1079}};
    for (int pass = 0; pass < 2; ++pass) {
        const Pass p = RunPass();
        EXPECT_EQ(p.frames, kPass80);
        EXPECT_EQ(p.modes, std::vector<uint8_t>(80, 1));
        EXPECT_FALSE(p.legacy);
        OnReminderSecondTick();
    }

    // A second tick in mid-pass restarts from the first tag.
    Batch();
    OnReminderSecondTick();
    EXPECT_EQ(Decode(Batch()).ids.front(), 1000u);

    Dialog.written.clear();
    OnReminderButton(); // stop
    EXPECT_TRUE(Dialog.written.empty());
    EXPECT_FALSE(Dialog.running_ui);
    const Pass off = RunPass();
    EXPECT_EQ(off.frames, kPass80);
    EXPECT_EQ(off.modes, std::vector<uint8_t>(80, 0xFF));
    OnReminderSecondTick();
    EXPECT_TRUE(Batch().empty());
}

TEST_F(TagReminderTest, ReaderWithoutFramesOrWithFfHeaderGetsTheLegacyLayout)
{
    Start("50", "36");
    const Bytes f1 = Batch();
    const Bytes f2 = Batch();
    EXPECT_EQ(f1.size(), 5u * 35 + 8);
    EXPECT_EQ(f2.size(), 5u * 1 + 8);
    EXPECT_TRUE(Decode(f1).legacy);
    EXPECT_EQ(Decode(f2).ids, std::vector<uint32_t>{85});

    LastFrame55AA.store(1); // the reader switched: the next frame follows
    OnReminderSecondTick();
    EXPECT_FALSE(Decode(Batch()).legacy);
    LastFrame55AA.store(0);
    EXPECT_TRUE(Decode(Batch()).legacy);
}

TEST_F(TagReminderTest, RefusedStartDuringTheOffPassLeavesThePassAlone)
{
    LastFrame55AA.store(1);
    Start("1000", "80");
    OnReminderButton(); // stop
    EXPECT_EQ(Decode(Batch()).ids.front(), 1000u);

    Dialog.written.clear();
    Start("5", "-1");
    EXPECT_EQ(Dialog.messages.back(), "最多呼叫80个");
    Dialog.checks = {{kReminderGreenCheck, false}, {kReminderRedCheck, false}, {kReminderBuzzerCheck, false}};
    Start("5", "3");
    EXPECT_EQ(Dialog.messages.back(), "必须选择一种灯模式");
    EXPECT_TRUE(Dialog.written.empty());
    EXPECT_FALSE(ReminderRunning);

    const Pass rest = RunPass();
    EXPECT_EQ(rest.frames, (Frames{{1035, 1069}, {1070, 1079}}));
    EXPECT_EQ(rest.modes, std::vector<uint8_t>(45, 0xFF));
}

TEST_F(TagReminderTest, QuickRestartDropsTheRestOfTheOffPass)
{
    Start("1000", "80");
    OnReminderButton(); // stop
    Batch();           // first off frame
    Dialog.written.clear();

    Dialog.checks = {{kReminderGreenCheck, false}, {kReminderRedCheck, true}, {kReminderBuzzerCheck, false}};
    Start("2000", "40");
    ASSERT_EQ(Dialog.written.size(), 1u);
    EXPECT_EQ(Dialog.written[0].size(), 13u);
    EXPECT_EQ(IdAt(Dialog.written[0], 6), 2000u);
    EXPECT_EQ(Dialog.written[0][10], 2);

    const Pass p = RunPass();
    EXPECT_EQ(p.frames, (Frames{{2000, 2034}, {2035, 2039}}));
    EXPECT_EQ(p.modes, std::vector<uint8_t>(40, 2));
}

TEST_F(TagReminderTest, ClosingAndReopeningMidPassResumesWhereItStopped)
{
    Start("1000", "80");
    Batch();
    MarkReminderIdle(); // port closed: timers stop, no off frames
    EXPECT_FALSE(ReminderRunning);
    EXPECT_TRUE(ReminderPassArmed);
    MarkReminderIdle(); // port opened again

    const Pass rest = RunPass(); // in the mode it then holds: still the lamp
    EXPECT_EQ(rest.frames, (Frames{{1035, 1069}, {1070, 1079}}));
    EXPECT_EQ(rest.modes, std::vector<uint8_t>(45, 1));
    OnReminderSecondTick(); // not running: no new pass
    EXPECT_TRUE(Batch().empty());

    // An off pass interrupted the same way finishes with the off code.
    Start("1000", "80");
    OnReminderButton();
    Batch();
    MarkReminderIdle();
    MarkReminderIdle();
    EXPECT_EQ(RunPass().modes, std::vector<uint8_t>(45, 0xFF));
}

// Every write that did not wholly go out is counted and shown at once; a
// whole frame is not. The pass goes on as if sent (the next pass repeats
// the frame anyway), and a frame the builder refused is no write at all.
TEST_F(TagReminderTest, FramesThatDidNotGoOutAreCountedAndShown)
{
    const struct {
        const char *what;
        SerialWriteOutcome outcome;
        bool counted;
    } cases[] = {
        {"sent", {WriteStatus::Sent, 13, 0}, false},
        {"no port", {WriteStatus::NoPort, 0, 0}, true},
        {"refused at once", {WriteStatus::Failed, 0, 31}, true},
        {"refused part way", {WriteStatus::Failed, 5, 31}, true},
        {"second ran out, nothing out", {WriteStatus::TimedOut, 0, 0}, true},
        {"second ran out, part out", {WriteStatus::TimedOut, 12, 0}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ReminderWriteFailures = 7; // from earlier frames of the same open
        Dialog.outcomes = {c.outcome};
        Start("1000", "36");
        ASSERT_EQ(Dialog.written.size(), 1u) << "the start frame";
        const uint32_t expected = c.counted ? 8u : 7u;
        EXPECT_EQ(ReminderWriteFailures, expected);
        EXPECT_EQ(Dialog.failures_shown, c.counted ? std::vector<uint32_t>{8} : std::vector<uint32_t>{});

        // The same outcome for a frame of a pass: counted, and the pass
        // goes on with the next frame, not the same one again.
        Dialog.outcomes = {c.outcome};
        EXPECT_EQ(Decode(Batch()).ids.size(), 35u);
        EXPECT_EQ(Decode(Batch()).ids, std::vector<uint32_t>{1035});
        EXPECT_EQ(ReminderWriteFailures, c.counted ? 9u : 7u);
        EXPECT_EQ(Dialog.failures_shown, c.counted ? (std::vector<uint32_t>{8, 9}) : std::vector<uint32_t>{});
    }
}

TEST_F(TagReminderTest, TheFailureCountStartsAgainOnlyAtTheUsersOpen)
{
    Dialog.outcomes = {{WriteStatus::TimedOut, 0, 0}, {WriteStatus::Failed, 0, 995}};
    Start("1000", "1");
    Batch();
    EXPECT_EQ(ReminderWriteFailures, 2u);

    // Closed and reopened by itself after a loss: the count stays.
    MarkReminderIdle();
    MarkReminderIdle();
    EXPECT_EQ(ReminderWriteFailures, 2u);
    EXPECT_EQ(Dialog.failures_shown, (std::vector<uint32_t>{1, 2}));

    // The user's open: 0, shown.
    ResetReminderWriteFailures();
    EXPECT_EQ(ReminderWriteFailures, 0u);
    EXPECT_EQ(Dialog.failures_shown.back(), 0u);

    // No write at all to call, and a frame the builder refuses.
    ReminderIo io{nullptr, FakeReadEdit, FakeIsChecked, FakeShowMessage, FakeSetRunningUi, FakeShowWriteFailures};
    SetReminderIo(io);
    Start("1000", "1");
    OnReminderBatchTick();
    EXPECT_EQ(ReminderWriteFailures, 2u) << "frames with nowhere to go did not go out";
    LastFrame55AA.store(1);
    SendReminderFrame(52, 1);
    SendLegacyReminderFrame(52, 1, 1);
    EXPECT_EQ(ReminderWriteFailures, 2u) << "nothing was built, nothing was written";
}

} // namespace
