// Tarnwick's sound-and-light reminder driven through the dialog, with the
// test as the reader on the far end of the cable (COM3-COM300), reading every
// frame the bench sends: the refusals as modal boxes that send nothing, the
// start frame and the passes, the mode from the check boxes, a stop's single
// off pass, a pulled cable, a stalled cable (frames that did not go out,
// counted under 发送失败), and closing the port while the reminder runs.
// The frame layouts and the pass arithmetic are the host's tests; here the
// dialog's wiring.
//
// One Tarnwick runs through the suite; each case leaves the reminder stopped
// and the line quiet for the next.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tagbench/win32/tarnwick_resources.h"
#include "tools/driver/tarnwick_e2e.h"

namespace {

using namespace tarnwick;

constexpr uint32_t kBenchPort = 3;
constexpr uint32_t kReaderPort = 300;
constexpr uint32_t kOtherPort = 4; // its cable COM4-COM304 is only there to be chosen
constexpr uint8_t kOff = 0xFF;

// The frames of the reminder's examples, byte for byte: start ID 1000.
const std::vector<uint8_t> kStartFrameMode1 = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x05, 0x00,
                                               0x00, 0x03, 0xE8, 0x01, 0xA5, 0x65};
const std::vector<uint8_t> kPairFFOff = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x0A, 0x00, 0x00, 0x03,
                                         0xE8, 0xFF, 0x00, 0x00, 0x03, 0xE9, 0xFF, 0xDE, 0xB4};
std::vector<std::string> Hexes(const std::vector<Received> &frames)
{
    std::vector<std::string> out;
    for (const auto &f : frames)
        out.push_back(Hex(f.bytes));
    return out;
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

    // Stops the reminder: what is on its way of the running pass, then the
    // off frame exactly once, then nothing.
    void StopAndExpectOneOffFrame(const std::vector<uint8_t> &running, const std::vector<uint8_t> &off) const
    {
        gui::Click(d_, kReminderButton);
        EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
        EXPECT_TRUE(gui::Enabled(d_, kStartIdEdit));
        const std::vector<Received> frames = FramesThrough(off, kTimeoutMs);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(Hex(off), Hex(frames.back().bytes)) << "the off pass";
        for (size_t i = 0; i + 1 < frames.size(); ++i)
            EXPECT_EQ(Hex(running), Hex(frames[i].bytes)) << "only a pass already on its way";
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

// No report from the reader yet: every frame in the FF FF FF FF layout. The
// start frame comes first, then passes; what is changed while it runs counts
// only from the next start.
TEST_F(TarnwickReminder, StartFrameThenPassesThenOneOffPass)
{
    Prepare("2", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ("停止", gui::Text(d_, kReminderButton));
    EXPECT_FALSE(gui::Enabled(d_, kStartIdEdit));
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(listener_->Next(kTimeoutMs).bytes));
    bench_->TypeInto(kQuantityEdit, "80");
    bench_->SetCheck(kRedCheck, true);
    const std::vector<uint8_t> pass = ReminderFrame(Header::kFF, 1000, 2, 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Hex(pass), Hex(listener_->Next(kTimeoutMs).bytes)) << "pass " << i;
    StopAndExpectOneOffFrame(pass, kPairFFOff);
    EXPECT_EQ("0", gui::Text(d_, IDC_REMINDER_FAILURES)) << "every frame went out";
}

// Quantity left empty: one tag. The red lamp with the buzzer (the other
// boxes' codes are the host's tests; the start-up choice is the cases'
// around this one) gives its code, and the stop the off code.
TEST_F(TarnwickReminder, ModeFromTheCheckBoxes)
{
    ReaderReports(kExampleReportFF);
    Prepare("", false, true, true);
    gui::Click(d_, kReminderButton);
    ASSERT_EQ("停止", gui::Text(d_, kReminderButton));
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, 3)), Hex(listener_->Next(kTimeoutMs).bytes));
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 1, 3)), Hex(listener_->Next(kTimeoutMs).bytes));
    StopAndExpectOneOffFrame(ReminderFrame(Header::kFF, 1000, 1, 3), ReminderFrame(Header::kFF, 1000, 1, kOff));
}

// The reader's cable pulled out while the reminder runs, with a speed the
// port first refused: the refusal is reported and changes nothing; the loss
// is handled as the user's close and reported in one box; the cable plugged
// in again brings the same table back at the same speed with the reminder
// stopped; a second loss while the box is up brings no second box; the port
// being retried stays in the refilled list; picking another port ends the
// retries, and so does pressing the port button while the port is gone:
// a box says the port is not there, and the note that the retries stopped.
TEST_F(TarnwickReminder, APulledCableIsReportedOnceAndResumesOnTheSameTable)
{
    const DWORD pid = bench_->program.pid();
    bench_->PressPortButton();
    ASSERT_EQ("打开串口", gui::Text(d_, kPortButton));
    ASSERT_TRUE(RefuseComRate(57600));
    ASSERT_TRUE(bench_->ChooseSpeed("57600"));
    gui::ClickAsync(d_, kPortButton);
    const std::string refused = ReadAndCloseMessageBox(*bench_, kTimeoutMs);
    ASSERT_TRUE(RefuseComRate(0));
    EXPECT_NE(std::string::npos, refused.find("COM3")) << refused;
    EXPECT_NE(std::string::npos, refused.find("57600")) << refused;
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    EXPECT_TRUE(gui::Enabled(d_, kSpeedList));

    ASSERT_TRUE(bench_->ChooseSpeed("19200"));
    bench_->PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(d_, kPortButton));
    ReaderReports(kExampleReportFF);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d_, kTotalLabel) == "1"; }, kTimeoutMs));
    Prepare("2", true, false, true);
    gui::Click(d_, kReminderButton);
    ASSERT_EQ("停止", gui::Text(d_, kReminderButton));

    // Pulled: the user's close, and one box naming the port.
    ASSERT_TRUE(PullComPair(kBenchPort));
    HWND box = gui::WaitForPopup(pid, nullptr, kTimeoutMs);
    ASSERT_NE(nullptr, box) << "no message about the lost port";
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    EXPECT_TRUE(gui::Enabled(d_, kPortList));
    EXPECT_TRUE(gui::Enabled(d_, kSpeedList));
    EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
    EXPECT_FALSE(gui::Enabled(d_, kReminderButton));
    EXPECT_EQ("1", gui::Text(d_, kTotalLabel)) << "the table stays";
    EXPECT_NE(std::string::npos, gui::Text(d_, IDC_PORT_NOTE).find("COM3"));

    // Back while the box is still up: the same speed, the same table, the
    // reminder still stopped, and reports counted on.
    ASSERT_TRUE(PlugComPair(kBenchPort));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d_, kPortButton) == "关闭串口"; }, kTimeoutMs));
    ASSERT_TRUE(reader_->Open(kReaderPort));
    HANDLE same = CreateFileA(ComDevicePath(kBenchPort).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, same);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(same, &dcb));
    CloseHandle(same);
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_FALSE(gui::Enabled(d_, kSpeedList));
    EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
    EXPECT_TRUE(gui::Enabled(d_, kReminderButton));
    ReaderReports(TagReport(Header::kFF, 1001, false, -50));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(d_, kTotalLabel) == "2"; }, kTimeoutMs));
    // Stopped as by a close: at most the rest of a pass already on its way.
    const std::vector<Received> after = listener_->Collect(1200);
    EXPECT_LE(after.size(), 1u) << "the reminder went on";
    for (const Received &f : after)
        EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 1000, 2, 1)), Hex(f.bytes));

    // Lost again while the first box is up: closed again, no second box.
    ASSERT_TRUE(PullComPair(kBenchPort));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d_, kPortButton) == "打开串口"; }, kTimeoutMs));
    EXPECT_EQ(1, gui::CountPopups(pid));
    EXPECT_TRUE(IsWindow(box));
    gui::ClickAsync(box, IDOK);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::CountPopups(pid) == 0; }, kTimeoutMs));

    // The port being retried stays in the list when it is refilled, though
    // it cannot be opened now.
    SendMessageA(gui::Control(d_, kPortList), CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(gui::Control(d_, kPortList), CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ((std::vector<std::string>{"COM3", "COM4"}), gui::ComboItems(d_, kPortList));

    // Another port picked (as the list tells its dialog): no more retries,
    // even once COM3 is back; the user opens it again.
    ASSERT_TRUE(bench_->ChoosePort(kOtherPort));
    SendMessageA(d_, WM_COMMAND, MAKEWPARAM(kPortList, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(gui::Control(d_, kPortList)));
    EXPECT_EQ("", gui::Text(d_, IDC_PORT_NOTE));
    ASSERT_TRUE(PlugComPair(kBenchPort));
    Sleep(1500); // more than a retry's period
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    ASSERT_TRUE(bench_->ChoosePort(kBenchPort));
    bench_->PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(d_, kPortButton));
    ASSERT_TRUE(reader_->Open(kReaderPort));

    // Lost once more, and the user presses the port button while it is
    // still gone: nothing opens, the retries end, and the note says so.
    ASSERT_TRUE(PullComPair(kBenchPort));
    box = gui::WaitForPopup(pid, nullptr, kTimeoutMs);
    ASSERT_NE(nullptr, box);
    gui::ClickAsync(box, IDOK);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::CountPopups(pid) == 0; }, kTimeoutMs));
    EXPECT_EQ("COM3 已断开，正在每秒重试", gui::Text(d_, IDC_PORT_NOTE));
    gui::ClickAsync(d_, kPortButton);
    EXPECT_EQ("串口 COM3 不存在", ReadAndCloseMessageBox(*bench_, kTimeoutMs)) << "why it did not open";
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    EXPECT_EQ("COM3 已断开，已停止重试", gui::Text(d_, IDC_PORT_NOTE));
    ASSERT_TRUE(PlugComPair(kBenchPort));
    bench_->PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(d_, kPortButton));
    EXPECT_EQ("", gui::Text(d_, IDC_PORT_NOTE));
    ASSERT_TRUE(reader_->Open(kReaderPort));
}

// Windows names the open port as removed while its driver still answers
// (its link is gone, the open handle works on): a loss at once, handled
// after the broadcast returned (no box inside it), one box. Its arrival by
// name opens it again at once, within the broadcast. A removal naming
// another port changes nothing.
TEST_F(TarnwickReminder, RemovalByNameIsALossAndArrivalReopensAtOnce)
{
    const DWORD pid = bench_->program.pid();
    ASSERT_EQ("关闭串口", gui::Text(d_, kPortButton));
    const std::string total = gui::Text(d_, kTotalLabel);
    ASSERT_TRUE(UnlinkComPort(kBenchPort));
    ASSERT_TRUE(SendPortDeviceChange(bench_->main, 0x8004 /* DBT_DEVICEREMOVECOMPLETE */, "COM4", kTimeoutMs));
    EXPECT_EQ(nullptr, gui::WaitForPopup(pid, nullptr, 300));
    EXPECT_EQ("关闭串口", gui::Text(d_, kPortButton)) << "another port's removal";

    ASSERT_TRUE(SendPortDeviceChange(bench_->main, 0x8004 /* DBT_DEVICEREMOVECOMPLETE */, "COM3", kTimeoutMs))
        << "the broadcast was held (a box inside WM_DEVICECHANGE?)";
    HWND box = gui::WaitForPopup(pid, nullptr, kTimeoutMs);
    ASSERT_NE(nullptr, box) << "no message about the removed port";
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    EXPECT_NE(std::string::npos, gui::Text(d_, IDC_PORT_NOTE).find("COM3"));
    gui::ClickAsync(box, IDOK);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::CountPopups(pid) == 0; }, kTimeoutMs));
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton)) << "retried while the device is away";

    ASSERT_TRUE(RelinkComPort(kBenchPort));
    ASSERT_TRUE(SendPortDeviceChange(bench_->main, 0x8000 /* DBT_DEVICEARRIVAL */, "COM3", kTimeoutMs));
    EXPECT_EQ("关闭串口", gui::Text(d_, kPortButton)) << "not reopened on its arrival";
    EXPECT_EQ(0, gui::CountPopups(pid));
    ReaderReports(TagReport(Header::kFF, 1002, false, -50));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(d_, kTotalLabel) == std::to_string(std::stoi(total) + 1); },
                               kTimeoutMs))
        << "the same table, capturing: " << total << " then " << gui::Text(d_, kTotalLabel);
}

// A cable that stops taking bytes while the reminder runs: a pass's frame
// times out, is counted under 发送失败, and the reminder goes on; once the
// reader reads again its passes arrive whole. Closing the port while the
// reminder runs sends no off frames; the button is idle and disabled until
// the port opens again. The close keeps the count, the user's open zeroes it.
TEST_F(TarnwickReminder, ClosingWhileRunningSendsNoOffPass)
{
    const std::vector<uint8_t> pass = ReminderFrame(Header::kFF, 1000, 2, 1);
    ReaderReports(kExampleReportFF);
    Prepare("2", true, false, true);
    gui::Click(d_, kReminderButton);
    EXPECT_EQ(Hex(kStartFrameMode1), Hex(listener_->Next(kTimeoutMs).bytes));
    EXPECT_EQ(Hex(pass), Hex(listener_->Next(kTimeoutMs).bytes));
    ASSERT_EQ("0", gui::Text(d_, IDC_REMINDER_FAILURES));

    // Stalled: a pass that did not go out in its second is counted (how
    // the count adds up is the host's tests) and the reminder goes on.
    ASSERT_TRUE(StallComLine(kBenchPort)) << "the cable never filled";
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(d_, IDC_REMINDER_FAILURES) != "0"; }, kTimeoutMs))
        << "发送失败 shows " << gui::Text(d_, IDC_REMINDER_FAILURES);
    EXPECT_EQ("停止", gui::Text(d_, kReminderButton));
    const std::vector<uint8_t> stalled = reader_->ReadUntilQuiet(300, kTimeoutMs);
    EXPECT_FALSE(stalled.empty());
    EXPECT_EQ(Hex(pass), Hex(listener_->Next(kTimeoutMs).bytes)) << "the reminder went on once the line flowed";
    const std::string failed = gui::Text(d_, IDC_REMINDER_FAILURES);
    EXPECT_NE("0", failed);

    bench_->PressPortButton();
    EXPECT_EQ("打开串口", gui::Text(d_, kPortButton));
    EXPECT_EQ("启动", gui::Text(d_, kReminderButton));
    EXPECT_FALSE(gui::Enabled(d_, kReminderButton));
    EXPECT_TRUE(gui::Enabled(d_, kStartIdEdit));
    for (const Received &f : listener_->Collect(1500))
        EXPECT_EQ(Hex(pass), Hex(f.bytes)) << "only a pass already on its way";
    EXPECT_EQ(failed, gui::Text(d_, IDC_REMINDER_FAILURES)) << "the close keeps the count";
    bench_->PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(d_, kPortButton));
    EXPECT_EQ("0", gui::Text(d_, IDC_REMINDER_FAILURES)) << "the user's open";
    EXPECT_TRUE(bench_->Quit());
}

} // namespace

namespace {

// The port and speed of the last open and the reminder's fields survive a
// restart of Tarnwick (a second one, after the suite's has quit).
TEST(TarnwickRemembers, PortSpeedAndReminderAcrossARestart)
{
    {
        Tarnwick bench;
        ASSERT_TRUE(bench.Start());
        ASSERT_TRUE(bench.ChoosePort(kOtherPort)); // not the list's first entry, COM3
        ASSERT_TRUE(bench.ChooseSpeed("57600"));
        bench.PressPortButton();
        ASSERT_EQ("关闭串口", gui::Text(bench.dialog, kPortButton));
        bench.TypeInto(kStartIdEdit, "1234");
        bench.TypeInto(kQuantityEdit, "7");
        bench.SetCheck(kGreenCheck, false);
        bench.SetCheck(kRedCheck, true);
        bench.SetCheck(kBuzzerCheck, false);
        ASSERT_TRUE(bench.Quit());
    }
    Tarnwick again;
    again.keep_settings = true;
    ASSERT_TRUE(again.Start());
    const HWND d = again.dialog;
    EXPECT_EQ("COM" + std::to_string(kOtherPort), gui::Text(gui::Control(d, kPortList)));
    EXPECT_EQ("57600", gui::Text(gui::Control(d, kSpeedList)));
    EXPECT_EQ("开始", gui::Text(d, kPortButton)); // nothing opened
    EXPECT_EQ("1234", gui::Text(d, kStartIdEdit));
    EXPECT_EQ("7", gui::Text(d, kQuantityEdit));
    EXPECT_FALSE(gui::Checked(d, kGreenCheck));
    EXPECT_TRUE(gui::Checked(d, kRedCheck));
    EXPECT_FALSE(gui::Checked(d, kBuzzerCheck));
    EXPECT_TRUE(again.Quit());
    ForgetSettings();
}

} // namespace
