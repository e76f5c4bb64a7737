// Finding a tag among three hundred and following it, driven as a user does
// it, with the test playing the reader on the far end of the COM3-COM300
// cable: Ctrl+F and the system menu open the find box, bad input and a
// missing ID are answered, Enter turns the grid to the tag's page and frames
// its row (until the page changes), a double-click on the row (not a single
// click) and 跟踪 open follow windows, one per tag, sixteen at most, whose
// numbers match the reports sent, whose newest point moves, which pause and
// save the history; closing the port and reopening it (a reset) leaves the
// window saying that the tag is gone; Tarnwick then ends cleanly with a
// follow window still open.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include <cstdio>

#include "tools/common/sim_plan.h"
#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/driver/tarnwick_follow_driver.h"

namespace {

using namespace tarnwick;

constexpr uint32_t kBenchPort = 3;
constexpr uint32_t kReaderPort = 300;
constexpr uint32_t kFirstId = 20000;
constexpr uint32_t kTags = 300;
constexpr uint32_t kIdStep = 3;                           // 20001 is not a tag
constexpr uint32_t kMovingId = kFirstId + 200 * kIdStep; // record 200: page 16, row 8
constexpr int kMovingPage = 16;
constexpr int kMovingRow = 8;
constexpr double kMovePeriodS = 20;
const std::vector<uint8_t> kMovingExtra = {0x5A, 0x01};
constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr int kMaxWindows = 16;
constexpr DWORD kSaveWaitMs = 20000; // Save As dialogs are slow to come and go under Wine

// The reader's side: every report of the moving tag is counted.
struct Reader {
    TestComPort port{kReaderPort};
    DWORD started = GetTickCount();
    int moving_reports = 0;

    bool SendAll()
    {
        std::vector<uint8_t> bytes;
        for (uint32_t k = 0; k < kTags; ++k) {
            const uint32_t id = kFirstId + kIdStep * k;
            if (id == kMovingId)
                continue;
            const std::vector<uint8_t> f = TagReport(k % 2 ? Header::kFF : Header::k55AA, id, false, -40);
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        return port.Write(bytes, 5000) && Moving(1);
    }
    // n reports of the moving tag, its signal where it has walked to.
    bool Moving(int n, bool under_voltage = false)
    {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < n; ++i) {
            const int8_t signal =
                static_cast<int8_t>(sim::MovingTagSignal((GetTickCount() - started) / 1000.0, kMovePeriodS));
            const std::vector<uint8_t> f = TagReport(Header::kFF, kMovingId, under_voltage, signal, kMovingExtra);
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        moving_reports += n;
        return port.Write(bytes);
    }
    bool MovingWithSignal(int8_t signal)
    {
        ++moving_reports;
        return port.Write(TagReport(Header::kFF, kMovingId, false, signal, kMovingExtra));
    }
};

using follow::AnswerOnFindBox;
using follow::FindByEnter;
using follow::FollowWindows;

HWND WaitFollowWindow(DWORD pid, uint32_t id) { return follow::WaitFollowWindow(pid, id, kTimeoutMs); }

std::string Today()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

// Pixels of the row's frame: the top and bottom edge of every cell, the
// left edge of the first and the right edge of the last. The cells keep
// their white inside the frame.
bool RowFramed(const Tarnwick &t, int row, bool framed)
{
    gui::Capture shot;
    if (!gui::CaptureWindow(t.main, &shot))
        return false;
    const uint32_t edge = framed ? kBlue : kWhite;
    for (int c = 0; c < kColumns; ++c) {
        const RECT r = gui::ControlRectIn(t.main, gui::Control(t.dialog, CellId(row, c)));
        const int mid_y = (r.top + r.bottom) / 2;
        if (shot.At(r.left + 4, r.top) != edge || shot.At(r.left + 4, r.top + 1) != edge ||
            shot.At(r.left + 4, r.bottom - 1) != edge || shot.At(r.left + 3, r.top + 2) != kWhite)
            return false;
        if (c == 0 && (shot.At(r.left, mid_y) != edge || shot.At(r.left + 1, mid_y) != edge))
            return false;
        if (c == kColumns - 1 && shot.At(r.right - 1, mid_y) != edge)
            return false;
    }
    return true;
}

bool RowFramedSoon(const Tarnwick &t, int row, bool framed)
{
    return gui::WaitUntil([&] { return RowFramed(t, row, framed); }, kTimeoutMs);
}

// Posted messages to Tarnwick's windows are handled in order: once the
// find box has answered a search, every click posted before it is handled.
void Settle(DWORD pid, HWND box)
{
    FindByEnter(box, "?");
    AnswerOnFindBox(pid, box, kTimeoutMs);
}

TEST(TarnwickFollow, FindATagAmongThreeHundredAndFollowIt)
{
    RemoveForeignComPorts();
    Reader reader;
    ASSERT_TRUE(reader.port.IsOpen());
    Tarnwick t;
    ASSERT_TRUE(t.Start());
    const DWORD pid = t.program.pid();
    ASSERT_TRUE(t.ChoosePort(kBenchPort));
    t.PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(t.dialog, kPortButton));
    ASSERT_TRUE(reader.SendAll());
    ASSERT_TRUE(gui::WaitUntil([&] { return t.Labels()[1] == std::to_string(kTags); }, kTimeoutMs));
    const std::vector<std::string> page0_row0 = t.Row(0);

    // Ctrl+F on the main window opens the find box; Esc closes it.
    SetForegroundWindow(t.main);
    keybd_event(VK_CONTROL, 0, 0, 0);
    keybd_event('F', 0, 0, 0);
    keybd_event('F', 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
    HWND box = gui::WaitForPopup(pid, "查找标签", kTimeoutMs);
    ASSERT_NE(nullptr, box) << "Ctrl+F";
    PostMessageA(gui::Control(box, kFindIdEdit), WM_KEYDOWN, VK_ESCAPE, 1);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(box); }, kTimeoutMs));

    // 查找标签… in the system menu. Bad input and a missing ID get their
    // messages and change nothing.
    box = follow::OpenFindBox(t.main, pid, kTimeoutMs);
    ASSERT_NE(nullptr, box) << "查找标签…";
    for (const char *bad : {"12a", "-5", "4294967296", " "}) {
        FindByEnter(box, bad);
        EXPECT_NE(std::string::npos, AnswerOnFindBox(pid, box, kTimeoutMs).find(u8"请输入标签号（0 - 4294967295）")) << bad;
    }
    FindByEnter(box, std::to_string(kFirstId + 1));
    EXPECT_NE(std::string::npos, AnswerOnFindBox(pid, box, kTimeoutMs).find(u8"未找到标签 20001"));
    EXPECT_EQ(page0_row0, t.Row(0));

    // Found: its page, its row framed; paging away and back drops the frame.
    FindByEnter(box, " " + std::to_string(kMovingId) + " ");
    ASSERT_TRUE(gui::WaitUntil([&] { return t.Cell(kMovingRow, 1) == std::to_string(kMovingId); }, kTimeoutMs));
    EXPECT_EQ(std::to_string(kMovingPage * kRows + kMovingRow + 1), t.Cell(kMovingRow, 0));
    EXPECT_TRUE(RowFramedSoon(t, kMovingRow, true));
    EXPECT_TRUE(RowFramed(t, kMovingRow - 1, false));
    gui::Click(t.dialog, kNextPage);
    gui::Click(t.dialog, kPrevPage);
    ASSERT_EQ(std::to_string(kMovingId), t.Cell(kMovingRow, 1));
    EXPECT_TRUE(RowFramedSoon(t, kMovingRow, false));

    // A single click opens nothing; a double-click on its row opens its
    // window, a second one no other.
    follow::PostClick(gui::Control(t.dialog, CellId(kMovingRow, 2)));
    Settle(pid, box);
    EXPECT_TRUE(FollowWindows(pid).empty());
    follow::PostDoubleClick(gui::Control(t.dialog, CellId(kMovingRow, 2)));
    HWND window = WaitFollowWindow(pid, kMovingId);
    ASSERT_NE(nullptr, window);
    follow::PostDoubleClick(gui::Control(t.dialog, CellId(kMovingRow, 4)));
    Settle(pid, box);
    EXPECT_EQ(1u, FollowWindows(pid).size());
    auto text = [&](int id) { return gui::Text(window, id); };
    auto total_is = [&](int n) {
        return gui::WaitUntil([&] { return text(kFollowTotal) == std::to_string(n); }, kTimeoutMs);
    };
    ASSERT_TRUE(reader.Moving(5));
    EXPECT_TRUE(total_is(reader.moving_reports)) << text(kFollowTotal);
    EXPECT_EQ("在线", text(kFollowState));
    EXPECT_EQ("5a 01", text(kFollowExtra));
    const std::regex stamp("20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
    EXPECT_TRUE(std::regex_match(text(kFollowFirstSeen), stamp)) << text(kFollowFirstSeen);
    EXPECT_EQ(0u, text(kFollowLastSeen).find(Today())) << text(kFollowLastSeen);
    EXPECT_LE(text(kFollowFirstSeen), text(kFollowLastSeen));
    EXPECT_EQ(0u, text(kFollowUnderVoltage).find("正常")) << text(kFollowUnderVoltage);

    // The newest point is the one report of its second, and moves on.
    Sleep(1100);
    ASSERT_TRUE(reader.MovingWithSignal(-77));
    EXPECT_TRUE(gui::WaitUntil([&] { return text(kFollowNewest).find("-77 dB / 2511 cm") == 0; }, kTimeoutMs))
        << text(kFollowNewest);
    const std::string newest = text(kFollowNewest);
    Sleep(1100);
    ASSERT_TRUE(reader.MovingWithSignal(-33));
    EXPECT_TRUE(gui::WaitUntil([&] { return text(kFollowNewest).find("-33 dB / 43 cm") == 0; }, kTimeoutMs))
        << text(kFollowNewest);
    EXPECT_NE(newest.substr(newest.size() - 12), text(kFollowNewest).substr(text(kFollowNewest).size() - 12))
        << "the time moved with it";

    // Paused, the window stands still while the table keeps counting.
    gui::Click(window, kFollowPause);
    EXPECT_EQ("继续", text(kFollowPause));
    const std::string paused_total = text(kFollowTotal);
    ASSERT_TRUE(reader.Moving(3, true));
    Sleep(800);
    EXPECT_EQ(paused_total, text(kFollowTotal));
    gui::Click(window, kFollowPause);
    EXPECT_TRUE(total_is(reader.moving_reports)) << text(kFollowTotal);
    EXPECT_EQ(0u, text(kFollowUnderVoltage).find("欠压")) << text(kFollowUnderVoltage);

    // 跟踪 in the find box: a second window, closed before the first.
    gui::SetText(box, kFindIdEdit, std::to_string(kFirstId));
    gui::Click(box, kFindFollowButton);
    HWND other = WaitFollowWindow(pid, kFirstId);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ("1", gui::Text(other, kFollowTotal));
    PostMessageA(other, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(other); }, kTimeoutMs));
    follow::CloseFindBox(box, kTimeoutMs);
    ASSERT_FALSE(IsWindow(box));

    // 保存历史…: one row a second from the first report; the -77 dB report
    // had its second to itself.
    gui::ClickAsync(window, kFollowSave);
    HWND save = nullptr;
    gui::WaitUntil([&] { return (save = save_as::WaitBox(pid, nullptr, 0)) && save_as::FileNameField(save); },
                   kSaveWaitMs);
    ASSERT_TRUE(save != nullptr && save_as::FileNameField(save) != nullptr);
    EXPECT_TRUE(std::regex_match(save_as::FileName(save), std::regex("tarnwick-tag20600-20[0-9]{6}-[0-9]{6}\\.csv")))
        << save_as::FileName(save);
    const std::string path = save_as::MakeEmptyFolder("tarnwick-follow") + "\\tag.csv";
    save_as::SaveTo(save, path);
    ASSERT_TRUE(save_as::WaitDialogsGone(pid, kSaveWaitMs)) << save_as::OpenDialogs(pid);
    const std::string csv = save_as::WaitFileBytes(path, kSaveWaitMs);
    EXPECT_EQ(0u, csv.find(u8"\xEF\xBB\xBF卡号,时间,报告次数,最强信号 dB,距离 cm,欠压,掉线\r\n")) << csv.substr(0, 80);
    EXPECT_TRUE(std::regex_search(csv, std::regex("\r\n20600,20[-0-9]{8} [:0-9]{8},1,-77,2511,")));
    int seconds_reported = 0;
    for (size_t at = csv.find("\r\n20600,"); at != std::string::npos; at = csv.find("\r\n20600,", at + 1))
        ++seconds_reported;
    EXPECT_GE(seconds_reported, 3);

    // Sixteen windows at most: fifteen more from the grid, then a refusal.
    std::vector<HWND> more;
    for (int page = 0; page < 2; ++page) {
        if (page == 1)
            gui::Click(t.dialog, kNextPage);
        for (int row = 0; row < kRows && FollowWindows(pid).size() < kMaxWindows; ++row) {
            const std::string id = t.Cell(row, 1);
            if (id == std::to_string(kMovingId))
                continue;
            follow::PostDoubleClick(gui::Control(t.dialog, CellId(row, 0)));
            HWND w = WaitFollowWindow(pid, static_cast<uint32_t>(std::stoul(id)));
            ASSERT_NE(nullptr, w) << id;
            more.push_back(w);
        }
    }
    ASSERT_EQ(static_cast<size_t>(kMaxWindows), FollowWindows(pid).size());
    follow::PostDoubleClick(gui::Control(t.dialog, CellId(kRows - 1, 0)));
    HWND refusal = save_as::WaitBox(pid, nullptr, kTimeoutMs);
    ASSERT_NE(nullptr, refusal);
    EXPECT_NE(std::string::npos, save_as::BoxText(refusal).find(u8"最多同时跟踪 16 个标签"));
    save_as::Press(refusal, IDOK);
    for (HWND w : more)
        PostMessageA(w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gui::WaitUntil([&] { return FollowWindows(pid).size() == 1; }, kTimeoutMs));

    // Closing the port freezes the window; reopening resets the table, and
    // the window says the tag has gone.
    t.PressPortButton();
    EXPECT_TRUE(gui::WaitUntil([&] { return text(kFollowState) == "串口已关闭"; }, kTimeoutMs));
    t.PressPortButton();
    EXPECT_TRUE(gui::WaitUntil([&] { return text(kFollowState) == "标签 20600 已不在标签表中"; }, kTimeoutMs))
        << text(kFollowState);
    EXPECT_EQ(std::to_string(reader.moving_reports), text(kFollowTotal)) << "the last picture stays";

    // The main window goes first, taking the follow window and the find box.
    EXPECT_TRUE(t.Quit());
}

} // namespace
