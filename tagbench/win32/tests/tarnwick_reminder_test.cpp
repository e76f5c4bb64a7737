// Tarnwick's sound-and-light reminder driven through the dialog, with the
// test as the reader on the far end of the cable (COM3-COM300), reading every
// frame the bench sends: the refusals as modal boxes that send nothing, the
// start frame and the passes once a second in the header kind of the
// reader's last report, the mode from the check boxes, a stop's single off
// pass, 80 tags as 35 + 35 + 10, a refused start during an off pass, a quick
// restart, and closing the port while the reminder runs.
//
// One Tarnwick runs through the suite; each case leaves the reminder stopped
// and the line quiet for the next.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/driver/tarnwick_e2e.h"

namespace {

using namespace tarnwick;

constexpr uint32_t kBenchPort = 3;
constexpr uint32_t kReaderPort = 300;
constexpr uint8_t kOff = 0xFF;

// The frames of the reminder's examples, byte for byte: start ID 1000.
const std::vector<uint8_t> kStartFrameMode1 = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x05, 0x00,
                                               0x00, 0x03, 0xE8, 0x01, 0xA5, 0x65};
const std::vector<uint8_t> kPairFFMode2 = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x0A, 0x00, 0x00, 0x03,
                                           0xE8, 0x02, 0x00, 0x00, 0x03, 0xE9, 0x02, 0xB2, 0x60};
const std::vector<uint8_t> kPair55AAMode2 = {0x55, 0xAA, 0x02, 0x0A, 0x00, 0x00, 0x03, 0xE8,
                                             0x02, 0x00, 0x00, 0x03, 0xE9, 0x02, 0xB5, 0xAB};
const std::vector<uint8_t> kPairFFOff = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x0A, 0x00, 0x00, 0x03,
                                         0xE8, 0xFF, 0x00, 0x00, 0x03, 0xE9, 0xFF, 0xDE, 0xB4};
const std::vector<uint8_t> kPair55AAOff = {0x55, 0xAA, 0x02, 0x0A, 0x00, 0x00, 0x03, 0xE8,
                                           0xFF, 0x00, 0x00, 0x03, 0xE9, 0xFF, 0xD9, 0x7F};

// A pass of quantity tags from 1000 with one mode: frames of 35 entries and
// a last one with the rest.
std::vector<std::vector<uint8_t>> Pass(Header header, uint32_t quantity, uint8_t mode)
{
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t sent = 0; sent < quantity; sent += 35)
        frames.push_back(ReminderFrame(header, 1000 + sent, quantity - sent > 35 ? 35 : quantity - sent, mode));
    return frames;
}

std::vector<std::string> Hexes(const std::vector<Received> &frames)
{
    std::vector<std::string> out;
    for (const auto &f : frames)
        out.push_back(Hex(f.bytes));
    return out;
}

std::vector<std::string> Hexes(const std::vector<std::vector<uint8_t>> &frames)
{
    std::vector<std::string> out;
    for (const auto &f : frames)
        out.push_back(Hex(f));
    return out;
}

// Mode byte of a reminder frame's first entry.
uint8_t ModeOf(const std::vector<uint8_t> &frame)
{
    const size_t at = !frame.empty() && frame[0] == 0x55 ? 8 : 10;
    return frame.size() > at ? frame[at] : 0;
}

// Frames that arrived while the reminder ran, checked against its pass.
// Timer 1 restarts the pass from its first frame every second, so the pass
// that a click starts at any moment may be cut short by the next tick; every
// pass after that starts on a tick and goes out whole, one frame per 100 ms
// tick. Returns the number of whole passes that started on a tick.
int ExpectPasses(const std::vector<Received> &frames, const std::vector<std::vector<uint8_t>> &pass)
{
    // A pass that started on a tick follows a pause of most of a second.
    size_t aligned = 1;
    while (aligned < frames.size() && frames[aligned].at_ms - frames[aligned - 1].at_ms < 500)
        ++aligned;
    // Before it: the pass begun by the click, whole or cut short by a tick
    // (then a new pass begins at once).
    size_t k = 0;
    for (size_t i = 0; i < aligned && i < frames.size(); ++i) {
        if (frames[i].bytes != pass[k] && frames[i].bytes == pass[0])
            k = 0;
        EXPECT_EQ(Hex(pass[k]), Hex(frames[i].bytes)) << "frame " << i << " of the first pass";
        k = (k + 1) % pass.size();
    }
    int whole = 0;
    for (size_t i = aligned; i < frames.size(); ++i) {
        const size_t at = (i - aligned) % pass.size();
        EXPECT_EQ(Hex(pass[at]), Hex(frames[i].bytes)) << "frame " << i;
        const DWORD gap = frames[i].at_ms - frames[i - 1].at_ms;
        if (at == 0)
            EXPECT_TRUE(gap >= 500 && gap <= 1500) << "passes start " << gap << " ms apart";
        else
            EXPECT_LE(gap, 400u) << "within a pass, one frame per 100 ms tick";
        if (at + 1 == pass.size())
            ++whole;
    }
    return whole;
}

class TarnwickReminder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RemoveForeignComPorts();
        reader_ = new TestComPort(kReaderPort);
        listener_ = new ReminderListener(reader_);
        bench_ = new Tarnwick;
        started_ = bench_->Start() && bench_->ChoosePort(kBenchPort);
        if (started_) {
            bench_->PressPortButton();
            started_ = gui::Text(bench_->dialog, kPortButton) == "关闭串口";
        }
    }
    static void TearDownTestSuite()
    {
        delete bench_;
        delete listener_;
        delete reader_;
    }
    void SetUp() override
    {
        ASSERT_TRUE(reader_->IsOpen()) << "the reader's end COM" << kReaderPort;
        ASSERT_TRUE(started_) << "Tarnwick did not start or did not open COM" << kBenchPort;
        d_ = bench_->dialog;
    }

    // Lamps and buzzer as given, then start ID 1000 and the quantity typed.
    void Prepare(const char *quantity, bool green, bool red, bool buzzer) const
    {
        bench_->SetCheck(kGreenCheck, green);
        bench_->SetCheck(kRedCheck, red);
        bench_->SetCheck(kBuzzerCheck, buzzer);
        bench_->TypeInto(kStartIdEdit, "1000");
        bench_->TypeInto(kQuantityEdit, quantity);
    }

    // The reader's next report, and time for the bench to take it in before
    // its next pass is built.
    static void ReaderReports(const std::vector<uint8_t> &report)
    {
        ASSERT_TRUE(reader_->Write(report));
        Sleep(150);
    }

    // Frames up to and including the first frame equal to last, or all that
    // came within timeout_ms.
    static std::vector<Received> FramesThrough(const std::vector<uint8_t> &last, DWORD timeout_ms)
    {
        std::vector<Received> frames;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeout_ms) {
            Received r = listener_->Next(timeout_ms - (GetTickCount() - start));
            if (r.bytes.empty())
                break;
            frames.push_back(r);
            if (r.bytes == last)
                break;
        }
        return frames;
    }

    // Stops the reminder and checks the off pass: whatever passes were still
    // under way, then the off frames exactly once, then nothing.
    void StopAndExpectOffPass(const std::vector<std::vector<uint8_t>> &running,
                              const std::vector<std::vector<uint8_t>> &off) const
    {
        gui::Click(d_, kReminderButton);
        EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
        EXPECT_TRUE(gui::Enabled(d_, kStartIdEdit));
        std::vector<Received> frames = FramesThrough(off.back(), 2000);
        // Drop the frames of passes that went out before the click took effect.
        size_t first_off = 0;
        while (first_off < frames.size() && frames[first_off].bytes != off.front()) {
            bool known = false;
            for (const auto &f : running)
                known = known || frames[first_off].bytes == f;
            EXPECT_TRUE(known) << "unexpected frame " << Hex(frames[first_off].bytes);
            ++first_off;
        }
        frames.erase(frames.begin(), frames.begin() + static_cast<long>(first_off));
        EXPECT_EQ(Hexes(off), Hexes(frames)) << "the off pass";
        EXPECT_EQ(std::vector<std::string>{}, Hexes(listener_->Collect(1200))) << "silence after the off pass";
    }

    static TestComPort *reader_;
    static ReminderListener *listener_;
    static Tarnwick *bench_;
    static bool started_;
    HWND d_ = nullptr;
};

TestComPort *TarnwickReminder::reader_ = nullptr;
ReminderListener *TarnwickReminder::listener_ = nullptr;
Tarnwick *TarnwickReminder::bench_ = nullptr;
bool TarnwickReminder::started_ = false;

// The test's own frame builder against the examples, so that the frames it
// expects below are the right ones.
TEST_F(TarnwickReminder, ExpectedFramesMatchTheExamples)
{
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(ReminderFrame(Header::kFF, 1000, 1, 1)));
    EXPECT_EQ(Hex(kPairFFMode2), Hex(ReminderFrame(Header::kFF, 1000, 2, 2)));
    EXPECT_EQ(Hex(kPair55AAMode2), Hex(ReminderFrame(Header::k55AA, 1000, 2, 2)));
    EXPECT_EQ(Hex(kPairFFOff), Hex(ReminderFrame(Header::kFF, 1000, 2, kOff)));
    EXPECT_EQ(Hex(kPair55AAOff), Hex(ReminderFrame(Header::k55AA, 1000, 2, kOff)));
    EXPECT_EQ(Hex(kExampleReportFF), Hex(TagReport(Header::kFF, 1000, false, -50)));
    EXPECT_EQ(Hex(kExampleReport55AA), Hex(TagReport(Header::k55AA, 1000, true, -50, {0x12, 0x34})));
}

TEST_F(TarnwickReminder, RefusedStartsShowAMessageAndSendNothing)
{
    EXPECT_TRUE(gui::Enabled(d_, kReminderButton));
    EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
    listener_->Drain(200);

    Prepare("81", true, false, true);
    gui::ClickAsync(d_, kReminderButton);
    EXPECT_EQ("最多呼叫80个", ReadAndCloseMessageBox(*bench_, kTimeoutMs));

    Prepare("2", false, false, true); // the buzzer alone is no lamp mode
    gui::ClickAsync(d_, kReminderButton);
    EXPECT_EQ("必须选择一种灯模式", ReadAndCloseMessageBox(*bench_, kTimeoutMs));

    Prepare("2", true, false, true);
    bench_->TypeInto(kStartIdEdit, ""); // no start ID: the click is ignored
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(nullptr, gui::WaitForPopup(bench_->program.pid(), nullptr, 300));

    EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
    EXPECT_TRUE(gui::Enabled(d_, kStartIdEdit));
    EXPECT_EQ(std::vector<std::string>{}, Hexes(listener_->Collect(1200))) << "a refused start sends nothing";
}

// No report from the reader yet: every frame in the FF FF FF FF layout.
TEST_F(TarnwickReminder, StartFrameThenAPassEverySecond)
{
    Prepare("2", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ("停止", gui::Text(d_, kReminderButton));
    EXPECT_FALSE(gui::Enabled(d_, kStartIdEdit));
    const Received start = listener_->Next(1000);
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(start.bytes)) << "the start frame comes first, at once";

    // What is changed while it runs counts only from the next start.
    bench_->TypeInto(kQuantityEdit, "80");
    bench_->SetCheck(kRedCheck, true);

    const std::vector<Received> frames = listener_->Collect(2600);
    ASSERT_FALSE(frames.empty());
    EXPECT_LE(frames[0].at_ms - start.at_ms, 400u) << "the first pass follows on the next 100 ms tick";
    EXPECT_GE(ExpectPasses(frames, {ReminderFrame(Header::kFF, 1000, 2, 1)}), 2) << "a pass every second";

    StopAndExpectOffPass({ReminderFrame(Header::kFF, 1000, 2, 1)}, {kPairFFOff});
}

TEST_F(TarnwickReminder, PassesFollowTheReadersHeaderKind)
{
    Prepare("2", false, true, false); // red alone: mode 2
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, 2)), Hex(listener_->Next(1000).bytes));
    EXPECT_EQ(Hex(kPairFFMode2), Hex(listener_->Next(1000).bytes));

    // The reader answers in 55 AA: the passes follow; the start frame would not.
    ReaderReports(kExampleReport55AA);
    const std::vector<Received> after55 = FramesThrough(kPair55AAMode2, 1600);
    ASSERT_FALSE(after55.empty());
    EXPECT_EQ(Hex(kPair55AAMode2), Hex(after55.back().bytes));
    // And back to FF FF FF FF when the reader is.
    ReaderReports(kExampleReportFF);
    const std::vector<Received> afterFF = FramesThrough(kPairFFMode2, 1600);
    ASSERT_FALSE(afterFF.empty());
    EXPECT_EQ(Hex(kPairFFMode2), Hex(afterFF.back().bytes));
    StopAndExpectOffPass({kPairFFMode2}, {kPairFFOff});

    // The off pass, too, goes in the reader's kind.
    ReaderReports(kExampleReport55AA);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, 2)), Hex(listener_->Next(1000).bytes)) << "start frame";
    EXPECT_EQ(Hex(kPair55AAMode2), Hex(listener_->Next(1000).bytes));
    StopAndExpectOffPass({kPair55AAMode2}, {kPair55AAOff});
}

// Quantity left empty: one tag. Every lamp and buzzer choice gives its code.
TEST_F(TarnwickReminder, ModeFromTheCheckBoxes)
{
    ReaderReports(kExampleReportFF);
    struct Choice {
        bool green, red, buzzer;
        uint8_t code;
    };
    const Choice choices[] = {{true, false, false, 0}, {true, false, true, 1}, {false, true, false, 2},
                              {false, true, true, 3},  {true, true, false, 4}, {true, true, true, 5}};
    for (const Choice &c : choices) {
        SCOPED_TRACE("mode " + std::to_string(c.code));
        Prepare("", c.green, c.red, c.buzzer);
        gui::Click(d_, kReminderButton);
        ASSERT_EQ("停止", gui::Text(d_, kReminderButton));
        EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, c.code)), Hex(listener_->Next(1000).bytes));
        EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, c.code)), Hex(listener_->Next(1000).bytes));
        gui::Click(d_, kReminderButton);
        std::vector<Received> rest = FramesThrough(ReminderFrame(Header::kFF, 1000, 1, kOff), 1000);
        ASSERT_FALSE(rest.empty());
        EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, kOff)), Hex(rest.back().bytes));
    }
    EXPECT_EQ(std::vector<std::string>{}, Hexes(listener_->Collect(300)));
}

// 80 tags with a 55 AA reader: 35 + 35 + 10 entries (181, 181, 56 bytes) on
// successive ticks, again every second; 36 tags: 35 + 1.
TEST_F(TarnwickReminder, LargeRangesGoOutInFramesOfThirtyFive)
{
    ReaderReports(kExampleReport55AA);
    Prepare("80", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(listener_->Next(1000).bytes));
    const auto pass = Pass(Header::k55AA, 80, 1);
    ASSERT_EQ(181u, pass[0].size());
    ASSERT_EQ(181u, pass[1].size());
    ASSERT_EQ(56u, pass[2].size());
    EXPECT_EQ(0x32, pass[2][3]);

    const std::vector<Received> frames = listener_->Collect(3200);
    EXPECT_GE(ExpectPasses(frames, pass), 2) << ::testing::PrintToString(Hexes(frames));

    // A refused start while the off pass goes out leaves that pass alone: it
    // still covers the range of the last start, 1000 to 1079.
    gui::Click(d_, kReminderButton);
    bench_->TypeInto(kQuantityEdit, "81");
    gui::ClickAsync(d_, kReminderButton);
    EXPECT_EQ("最多呼叫80个", ReadAndCloseMessageBox(*bench_, kTimeoutMs));
    const auto off = Pass(Header::k55AA, 80, kOff);
    std::vector<Received> rest = FramesThrough(off.back(), 2000);
    while (!rest.empty() && ModeOf(rest.front().bytes) != kOff)
        rest.erase(rest.begin()); // passes that went out before the stop
    EXPECT_EQ(Hexes(off), Hexes(rest));
    EXPECT_EQ(std::vector<std::string>{}, Hexes(listener_->Collect(800)));

    Prepare("36", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(listener_->Next(1000).bytes));
    EXPECT_GE(ExpectPasses(listener_->Collect(2600), Pass(Header::k55AA, 36, 1)), 1);
    StopAndExpectOffPass(Pass(Header::k55AA, 36, 1), Pass(Header::k55AA, 36, kOff));
}

// A stop at once followed by a start: the rest of the off pass is dropped,
// the start frame and the new passes follow.
TEST_F(TarnwickReminder, QuickRestartDropsTheRestOfTheOffPass)
{
    ReaderReports(kExampleReport55AA);
    Prepare("80", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(listener_->Next(1000).bytes));
    listener_->Drain(1500);

    gui::Click(d_, kReminderButton);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ("停止", gui::Text(d_, kReminderButton));
    std::vector<Received> frames = listener_->Collect(2300);
    size_t i = 0;
    int off_frames = 0;
    for (; i < frames.size() && frames[i].bytes != kStartFrameMode1; ++i)
        off_frames += ModeOf(frames[i].bytes) == kOff;
    EXPECT_LE(off_frames, 1) << "at most one off frame could slip in between the two clicks";
    ASSERT_LT(i, frames.size()) << "no start frame after the restart";
    frames.erase(frames.begin(), frames.begin() + static_cast<long>(i) + 1);
    const auto pass = Pass(Header::k55AA, 80, 1);
    EXPECT_GE(ExpectPasses(frames, pass), 1) << "passes after the start frame, and no off frame among them";

    StopAndExpectOffPass(pass, Pass(Header::k55AA, 80, kOff));
}

// Closing the port while the reminder runs sends no off frames; the button
// is idle and disabled until the port opens again.
TEST_F(TarnwickReminder, ClosingWhileRunningSendsNoOffPass)
{
    ReaderReports(kExampleReportFF);
    Prepare("2", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(listener_->Next(1000).bytes));
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 2, 1)), Hex(listener_->Next(1000).bytes));

    bench_->PressPortButton();
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
    EXPECT_FALSE(gui::Enabled(d_, kReminderButton));
    EXPECT_TRUE(gui::Enabled(d_, kStartIdEdit));
    for (const Received &f : listener_->Collect(1500))
        EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 2, 1)), Hex(f.bytes)) << "only a pass already on its way";
    EXPECT_TRUE(bench_->Quit());
}

} // namespace
