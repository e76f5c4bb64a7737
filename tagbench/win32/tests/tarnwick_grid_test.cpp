// Tarnwick driven as a user drives it, with the test playing the tag reader
// on the far end of a null-modem cable: opening at a chosen speed, the
// example reports in the grid, thirteen tags over two pages, a tag that
// falls silent turning red on the screen, closing (the table stays), the
// table exported through the Save As dialog, a port that cannot be opened,
// and reopening (the table empties).
//
// Cables: COM3-COM300, COM5-COM305, COM13-COM313. Numbers above 256 are never
// listed, so the bench lists exactly COM13, COM3 and COM5 (sorted as text).
// One Tarnwick runs through the whole suite; the cases follow one another
// like the steps of a session and each starts from where the last one left.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_e2e.h"

namespace {

using namespace tarnwick;

constexpr uint32_t kBenchPort = 3;
constexpr uint32_t kReaderPort = 300;
constexpr uint32_t kVanishingPort = 5; // its link is removed in PortThatCannotOpenSaysWhy

const std::vector<std::string> kExampleRow = {"1", "1000", "欠压", "12 34", "-50 / 208", "2"};
constexpr uint32_t kHighId = 0x80000000u;
const char kPhantomValue[] = "\\Device\\Phantom7";
constexpr DWORD kSaveWaitMs = 20000; // Save As dialogs are slow to come and go under Wine

// Picks 导出标签表… from the system menu and saves to path; returns the
// file's bytes.
std::string Export(Tarnwick *bench, const std::string &path)
{
    const DWORD pid = bench->program.pid();
    HWND dialog = save_as::OpenFromSystemMenu(bench->main, pid, kSaveWaitMs);
    if (dialog == nullptr)
        return "(no Save As dialog)";
    EXPECT_TRUE(std::regex_match(save_as::FileName(dialog), std::regex("tarnwick-20[0-9]{6}-[0-9]{6}\\.csv")))
        << save_as::FileName(dialog);
    save_as::SaveTo(dialog, path);
    EXPECT_TRUE(save_as::WaitDialogsGone(pid, kSaveWaitMs)) << save_as::OpenDialogs(pid);
    return save_as::WaitFileBytes(path, kSaveWaitMs);
}

// The twelve tags besides 1000: 1001 with three extra bytes at -45 dB, 1002
// under-voltage without extra bytes, 1003 to 1011 plain, and 0x80000000,
// which sorts last and so lands alone on page 1.
std::vector<uint8_t> OtherTagsReport()
{
    std::vector<uint8_t> bytes;
    auto add = [&](const std::vector<uint8_t> &f) { bytes.insert(bytes.end(), f.begin(), f.end()); };
    add(TagReport(Header::kFF, 1001, false, -45, {0x01, 0xAB, 0xFF}));
    add(TagReport(Header::k55AA, 1002, true, -50));
    for (uint32_t id = 1003; id <= 1011; ++id)
        add(TagReport(id % 2 ? Header::kFF : Header::k55AA, id, false, -50));
    add(TagReport(Header::kFF, kHighId, false, -50));
    return bytes;
}

class TarnwickGrid : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RemoveForeignComPorts();
        // Registered but not there: the start-up list, which tries every
        // port, must not show it.
        RegisterComValue(kPhantomValue, "COM7");
        reader_ = new TestComPort(kReaderPort);
        bench_ = new Tarnwick;
        started_ = bench_->Start();
    }
    static void TearDownTestSuite()
    {
        delete bench_;
        delete reader_;
    }
    void SetUp() override
    {
        ASSERT_TRUE(reader_->IsOpen()) << "the reader's end COM" << kReaderPort;
        ASSERT_TRUE(started_) << "Tarnwick did not start";
    }

    // Sends the other twelve tags' reports every 500 ms until pred holds.
    static bool KeepOthersAliveUntil(const std::function<bool()> &pred, DWORD timeout_ms)
    {
        const std::vector<uint8_t> others = OtherTagsReport();
        DWORD last_sent = GetTickCount() - 1000;
        return gui::WaitUntil(
            [&] {
                if (GetTickCount() - last_sent >= 500) {
                    reader_->Write(others);
                    last_sent = GetTickCount();
                }
                return pred();
            },
            timeout_ms);
    }

    static TestComPort *reader_;
    static Tarnwick *bench_;
    static bool started_;
};

TestComPort *TarnwickGrid::reader_ = nullptr;
Tarnwick *TarnwickGrid::bench_ = nullptr;
bool TarnwickGrid::started_ = false;

TEST_F(TarnwickGrid, OpensAtTheChosenSpeed)
{
    HWND d = bench_->dialog;
    // What a user finds at start (this case runs first).
    EXPECT_EQ("开始", gui::Text(d, kPortButton));
    EXPECT_EQ("115200", gui::Text(d, kSpeedList));
    EXPECT_EQ((std::vector<std::string>{"未连接", "0", "0"}), bench_->Labels());
    EXPECT_EQ("1", gui::Text(d, kQuantityEdit));
    EXPECT_TRUE(gui::Checked(d, kGreenCheck));
    EXPECT_FALSE(gui::Checked(d, kRedCheck));
    EXPECT_TRUE(gui::Checked(d, kBuzzerCheck));
    EXPECT_FALSE(gui::Enabled(d, kReminderButton));
    EXPECT_EQ((std::vector<std::string>{"COM13", "COM3", "COM5"}), gui::ComboItems(d, kPortList));
    ASSERT_TRUE(UnregisterComValue(kPhantomValue));

    ASSERT_TRUE(bench_->ChoosePort(kBenchPort));
    for (const char *speed : {"9600", "14400", "19200", "38400", "56000", "57600", "115200"}) {
        SCOPED_TRACE(speed);
        ASSERT_TRUE(bench_->ChooseSpeed(speed));
        bench_->PressPortButton();
        ASSERT_EQ("关闭串口", gui::Text(d, kPortButton));
        EXPECT_FALSE(gui::Enabled(d, kPortList));
        EXPECT_FALSE(gui::Enabled(d, kSpeedList));
        EXPECT_TRUE(gui::Enabled(d, kReminderButton));

        // The line settings belong to the device, so a second handle on the
        // same end (Wine does not refuse it) shows what the bench set.
        HANDLE same =
            CreateFileA(ComDevicePath(kBenchPort).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, same);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        EXPECT_TRUE(GetCommState(same, &dcb));
        CloseHandle(same);
        EXPECT_EQ(ReadBackBaudRate(std::stoul(speed)), dcb.BaudRate);

        bench_->PressPortButton();
        EXPECT_EQ("打开串口", gui::Text(d, kPortButton));
        EXPECT_TRUE(gui::Enabled(d, kSpeedList));
        EXPECT_FALSE(gui::Enabled(d, kReminderButton));
    }
}

TEST_F(TarnwickGrid, ExampleReportsFillRowZero)
{
    HWND d = bench_->dialog;
    ASSERT_TRUE(bench_->ChooseSpeed("115200"));
    bench_->PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(d, kPortButton));

    ASSERT_TRUE(reader_->Write(kExampleReportFF));
    ASSERT_TRUE(reader_->Write(kExampleReport55AA));
    // The grid changes on the next tick of the one-second timer.
    ASSERT_TRUE(gui::WaitUntil([&] { return bench_->Row(0) == kExampleRow; }, kTimeoutMs))
        << "row 0 reads " << ::testing::PrintToString(bench_->Row(0));
    EXPECT_EQ((std::vector<std::string>{"已连接", "1", "0"}), bench_->Labels());
    for (int r = 1; r < kRows; ++r)
        EXPECT_EQ(EmptyRow(), bench_->Row(r)) << "row " << r;

    // Its cells are white on the screen.
    gui::Capture shot;
    ASSERT_TRUE(gui::CaptureWindow(bench_->main, &shot));
    for (int c = 0; c < kColumns; ++c) {
        const RECT cell = gui::ControlRectIn(bench_->main, gui::Control(d, CellId(0, c)));
        EXPECT_EQ(0xFFFFFFu, shot.At(cell.left + 2, cell.top + 2)) << "column " << c;
    }
}

TEST_F(TarnwickGrid, ThirteenTagsOnTwoPages)
{
    HWND d = bench_->dialog;
    ASSERT_EQ(kExampleRow, bench_->Row(0)) << "needs the example tag of the case before";
    ASSERT_TRUE(reader_->Write(OtherTagsReport()));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d, kTotalLabel) == "13" && bench_->Cell(11, 1) == "1011"; },
                               kTimeoutMs));

    // Page 0: the twelve smallest IDs in order, each row as reported.
    EXPECT_EQ((std::vector<std::string>{"2", "1001", "正常", "01 ab ff", "-45 / 131", "1"}), bench_->Row(1));
    EXPECT_EQ((std::vector<std::string>{"3", "1002", "欠压", "", "-50 / 208", "1"}), bench_->Row(2));
    for (int r = 3; r < kRows; ++r) {
        EXPECT_EQ(std::to_string(r + 1), bench_->Cell(r, 0));
        EXPECT_EQ(std::to_string(1000 + r), bench_->Cell(r, 1));
    }

    // 下一页: the thirteenth tag alone; the ID shows as the unsigned number.
    gui::Click(d, kNextPage);
    EXPECT_EQ((std::vector<std::string>{"13", "2147483648", "正常", "", "-50 / 208", "1"}), bench_->Row(0));
    for (int r = 1; r < kRows; ++r)
        EXPECT_EQ(EmptyRow(), bench_->Row(r)) << "page 1 row " << r;
    // At the last page 下一页 does nothing, also across a tick of the timer.
    gui::Click(d, kNextPage);
    Sleep(1100);
    EXPECT_EQ("13", bench_->Cell(0, 0));
    EXPECT_EQ(EmptyRow(), bench_->Row(1));

    // 上一页 back to page 0, and no further.
    gui::Click(d, kPrevPage);
    EXPECT_EQ("1", bench_->Cell(0, 0));
    EXPECT_EQ("1011", bench_->Cell(11, 1));
    gui::Click(d, kPrevPage);
    EXPECT_EQ("1", bench_->Cell(0, 0));
    EXPECT_EQ("1000", bench_->Cell(0, 1));
}

TEST_F(TarnwickGrid, SilentTagTurnsRed)
{
    HWND d = bench_->dialog;
    ASSERT_EQ("1000", bench_->Cell(0, 1));
    // Everyone but 1000 keeps reporting; 1000 has been silent since the
    // example reports, and its row turns red on the tenth tick after them.
    ASSERT_TRUE(KeepOthersAliveUntil([&] { return bench_->Cell(0, 4).empty(); }, 30000))
        << "row 0 reads " << ::testing::PrintToString(bench_->Row(0));
    // Column 4 is empty; the others keep their text (the activity is the
    // next tick's).
    const std::vector<std::string> row = bench_->Row(0);
    EXPECT_EQ((std::vector<std::string>{"1", "1000", "欠压", "12 34", ""}),
              std::vector<std::string>(row.begin(), row.end() - 1));
    EXPECT_EQ("-50 / 208", bench_->Cell(2, 4)) << "tag 1002 is still online";

    // On the screen: all six cells of row 0 red, row 1 white. The pixels are
    // taken near two corners of each cell, away from the centred text.
    const uint32_t red = 0xFF0000, white = 0xFFFFFF;
    gui::Capture shot;
    auto cell_rect = [&](int r, int c) { return gui::ControlRectIn(bench_->main, gui::Control(d, CellId(r, c))); };
    ASSERT_TRUE(gui::WaitUntil(
        [&] {
            const RECT first = cell_rect(0, 0);
            return gui::CaptureWindow(bench_->main, &shot) && shot.At(first.left + 2, first.top + 2) == red;
        },
        kTimeoutMs));
    for (int c = 0; c < kColumns; ++c) {
        const RECT r0 = cell_rect(0, c);
        EXPECT_EQ(red, shot.At(r0.left + 2, r0.top + 2)) << "row 0 column " << c;
        EXPECT_EQ(red, shot.At(r0.right - 3, r0.bottom - 3)) << "row 0 column " << c;
        const RECT r1 = cell_rect(1, c);
        EXPECT_EQ(white, shot.At(r1.left + 2, r1.top + 2)) << "row 1 column " << c;
        EXPECT_EQ(white, shot.At(r1.right - 3, r1.bottom - 3)) << "row 1 column " << c;
    }
    gui::SaveBmp(shot, "tarnwick-silent-tag.bmp");

    // The tick after: counted offline, its activity restarts at 0; the
    // reader itself stays connected.
    ASSERT_TRUE(KeepOthersAliveUntil([&] { return gui::Text(d, kOfflineLabel) == "1"; }, 10000));
    EXPECT_TRUE(gui::WaitUntil([&] { return bench_->Cell(0, 5) == "0"; }, 10000));
    EXPECT_EQ("已连接", gui::Text(d, kReaderLabel));
    EXPECT_EQ("13", gui::Text(d, kTotalLabel));
}

TEST_F(TarnwickGrid, ClosingKeepsTheTable)
{
    HWND d = bench_->dialog;
    ASSERT_EQ("13", gui::Text(d, kTotalLabel));
    gui::Click(d, kNextPage);
    const std::vector<std::string> page1_row0 = bench_->Row(0);
    ASSERT_EQ("2147483648", page1_row0[1]);

    bench_->PressPortButton();
    // At once, without waiting for a tick.
    EXPECT_EQ("打开串口", gui::Text(d, kPortButton));
    EXPECT_EQ((std::vector<std::string>{"未连接", "13", "1"}), bench_->Labels());
    EXPECT_EQ(page1_row0, bench_->Row(0));
    EXPECT_TRUE(gui::Enabled(d, kPortList));
    EXPECT_TRUE(gui::Enabled(d, kSpeedList));
    EXPECT_FALSE(gui::Enabled(d, kReminderButton));
}

// 导出标签表… while the table of the cases before is frozen (13 tags on two
// pages, tag 1000 offline, the user on the second page): the file holds
// every page, each row ending with the tag's first and last report as local
// time. The rows' texts are the host's tests; here that the grid's texts
// (GBK through the ...A API) arrive in UTF-8.
TEST_F(TarnwickGrid, ExportHoldsEveryPage)
{
    ASSERT_EQ("打开串口", gui::Text(bench_->dialog, kPortButton));
    const std::string saved = Export(bench_, save_as::MakeEmptyFolder("tarnwick-export") + "\\tags.csv");
    EXPECT_EQ(0u, saved.find(u8"\xEF\xBB\xBF序号,卡号,欠压,附加数据,dB / cm,活跃次数,掉线,首次出现,最后出现\r\n"))
        << saved.substr(0, 120);
    const std::regex stamps(",(20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:]{8}),(20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:]{8})\r\n");
    int rows = 0;
    for (std::sregex_iterator m(saved.begin(), saved.end(), stamps), end; m != end; ++m, ++rows)
        EXPECT_LE((*m)[1].str(), (*m)[2].str()) << "first seen after last seen";
    EXPECT_EQ(13, rows) << saved;
    EXPECT_NE(std::string::npos, saved.find(u8"\r\n1,1000,欠压,12 34,,0,是,")) << saved;
    EXPECT_NE(std::string::npos, saved.find(u8"\r\n2,1001,正常,01 ab ff,-45 / 131,")) << saved;
    EXPECT_NE(std::string::npos, saved.find("\r\n13,2147483648,")) << saved;
}

// A target that cannot be replaced, here because another program holds it
// open as a spreadsheet would: the box names the file, the old file stays
// as it was, no temporary file is left, and the program goes on.
TEST_F(TarnwickGrid, ExportTargetThatCannotBeReplacedIsReportedAndKept)
{
    const DWORD pid = bench_->program.pid();
    const std::string folder = save_as::MakeEmptyFolder("tarnwick-export-held");
    const std::string path = folder + "\\held.csv";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    WriteFile(h, "old", 3, &written, nullptr);
    CloseHandle(h);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    HWND dialog = save_as::OpenFromSystemMenu(bench_->main, pid, kSaveWaitMs);
    ASSERT_NE(nullptr, dialog);
    save_as::SaveTo(dialog, path);
    HWND question = save_as::WaitBox(pid, dialog, kSaveWaitMs); // replace it?
    ASSERT_NE(nullptr, question);
    save_as::Press(question, IDYES);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(question) && !IsWindow(dialog); }, kSaveWaitMs));
    HWND failure = save_as::WaitBox(pid, nullptr, kSaveWaitMs);
    ASSERT_NE(nullptr, failure);
    const std::string text = save_as::BoxText(failure);
    std::printf("target held open: %s\n", text.c_str());
    EXPECT_NE(std::string::npos, text.find("held.csv")) << text;
    save_as::Press(failure, IDOK);
    ASSERT_TRUE(save_as::WaitDialogsGone(pid, kSaveWaitMs)) << save_as::OpenDialogs(pid);
    CloseHandle(held);

    std::string bytes;
    ASSERT_TRUE(save_as::ReadFileBytes(path, &bytes));
    EXPECT_EQ("old", bytes);
    EXPECT_EQ("held.csv", save_as::ListFolder(folder));
    EXPECT_EQ(0u, Export(bench_, folder + "\\after.csv").find("\xEF\xBB\xBF"));
}

// The refills read the ports registered in the device map and open none: a
// map of 256 ports (only three of which exist) lists all 256, in order, and
// the choice stays. How long the window is held by such a refill is
// printed.
TEST_F(TarnwickGrid, RefillsListTheRegisteredPortsWithoutOpeningThem)
{
    HWND d = bench_->dialog;
    ASSERT_TRUE(bench_->ChoosePort(kBenchPort));
    for (uint32_t n = 1; n <= 256; ++n)
        ASSERT_TRUE(RegisterComValue("\\Device\\Measure" + std::to_string(n), "COM" + std::to_string(n)));
    ASSERT_TRUE(RegisterComValue("\\Device\\Measure257", "COM257"));
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    SendMessageA(bench_->main, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    QueryPerformanceCounter(&end);
    std::printf("refill of 256 registered ports: %.1f ms (WM_DEVICECHANGE sent and answered)\n",
                1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    const std::vector<std::string> items = gui::ComboItems(d, kPortList);
    EXPECT_EQ(256u, items.size());
    EXPECT_EQ("COM3", gui::Text(d, kPortList)) << "the choice stays";
    for (uint32_t n = 1; n <= 257; ++n)
        ASSERT_TRUE(UnregisterComValue("\\Device\\Measure" + std::to_string(n)));
    SendMessageA(bench_->main, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    EXPECT_EQ((std::vector<std::string>{"COM13", "COM3", "COM5"}), gui::ComboItems(d, kPortList));
    EXPECT_EQ("COM3", gui::Text(d, kPortList));
}

// COM5's link goes while it is listed (the harness does it on request), and
// with it its entry in the device map; there is no host device behind the
// number either (Wine would fall back to /dev/ttyS4). The port button says
// why nothing opened, and changes nothing else. The refill then keeps the
// choice, marked absent, rather than choosing another port; the button
// still means COM5, and opens it once it is back.
TEST_F(TarnwickGrid, PortThatCannotOpenSaysWhyAndStaysChosen)
{
    HWND d = bench_->dialog;
    ASSERT_TRUE(UnlinkComPort(kVanishingPort)) << "no answer from with-com-pairs.sh";
    ASSERT_FALSE(ComPortOpens(kVanishingPort));

    const std::vector<std::string> labels = bench_->Labels();
    const std::vector<std::string> row0 = bench_->Row(0);
    ASSERT_TRUE(bench_->ChoosePort(kVanishingPort)) << "COM5 is still in the list";
    gui::ClickAsync(d, kPortButton);
    EXPECT_EQ("串口 COM5 不存在", ReadAndCloseMessageBox(*bench_, kTimeoutMs));
    EXPECT_EQ("打开串口", gui::Text(d, kPortButton));
    EXPECT_TRUE(gui::Enabled(d, kPortList));
    EXPECT_TRUE(gui::Enabled(d, kSpeedList));
    EXPECT_FALSE(gui::Enabled(d, kReminderButton));
    Sleep(1200); // no timer runs either
    EXPECT_EQ(labels, bench_->Labels());
    EXPECT_EQ(row0, bench_->Row(0));

    // Gone from the map: the refill keeps it, marked, chosen.
    SendMessageA(gui::Control(d, kPortList), CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(gui::Control(d, kPortList), CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ((std::vector<std::string>{"COM13", "COM3", "COM5（不存在）"}), gui::ComboItems(d, kPortList));
    EXPECT_EQ("COM5（不存在）", gui::Text(d, kPortList));
    gui::ClickAsync(d, kPortButton);
    EXPECT_EQ("串口 COM5 不存在", ReadAndCloseMessageBox(*bench_, kTimeoutMs)) << "still COM5 it tries";

    // Back: the refill shows it plain and still chosen, and it opens.
    ASSERT_TRUE(RelinkComPort(kVanishingPort));
    SendMessageA(bench_->main, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    EXPECT_EQ((std::vector<std::string>{"COM13", "COM3", "COM5"}), gui::ComboItems(d, kPortList));
    EXPECT_EQ("COM5", gui::Text(d, kPortList));
    bench_->PressPortButton();
    EXPECT_EQ("关闭串口", gui::Text(d, kPortButton));
    bench_->PressPortButton();
    EXPECT_EQ("打开串口", gui::Text(d, kPortButton));
}

// Reopened after another program left the port with XON/XOFF on: the
// bench sets the whole line state, so a tag whose ID and CRC hold 0x11 and
// 0x13 (bytes XON/XOFF would swallow) reaches the table.
TEST_F(TarnwickGrid, ReopeningEmptiesTheTable)
{
    HWND d = bench_->dialog;
    ASSERT_TRUE(LeaveComPortInAnotherProgramsState(kBenchPort)) << "XON/XOFF not taken: the test proves nothing";
    ASSERT_TRUE(bench_->ChoosePort(kBenchPort));
    bench_->PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(d, kPortButton));
    EXPECT_EQ((std::vector<std::string>{"未连接", "0", "0"}), bench_->Labels());
    for (int r = 0; r < kRows; ++r)
        EXPECT_EQ(EmptyRow(), bench_->Row(r)) << "row " << r;

    // Back on page 0: a new tag shows in row 0.
    ASSERT_TRUE(reader_->Write(kExampleReportFF));
    EXPECT_TRUE(gui::WaitUntil(
        [&] { return bench_->Row(0) == std::vector<std::string>{"1", "1000", "正常", "", "-50 / 208", "1"}; },
        kTimeoutMs))
        << "row 0 reads " << ::testing::PrintToString(bench_->Row(0));
    EXPECT_EQ((std::vector<std::string>{"已连接", "1", "0"}), bench_->Labels());

    // ID 11 13 11 13, extra 13 80, CRC 3b 11.
    const std::vector<uint8_t> flow_bytes = TagReport(Header::kFF, 0x11131113u, false, -90, {0x13, 0x80});
    ASSERT_EQ(0x11, flow_bytes.back()) << Hex(flow_bytes);
    ASSERT_TRUE(reader_->Write(flow_bytes));
    EXPECT_TRUE(gui::WaitUntil([&] { return bench_->Cell(1, 1) == "286462227"; }, kTimeoutMs))
        << "row 1 reads " << ::testing::PrintToString(bench_->Row(1));
    EXPECT_EQ("13 80", bench_->Cell(1, 3));

    bench_->PressPortButton();
    EXPECT_TRUE(bench_->Quit());
}

} // namespace
