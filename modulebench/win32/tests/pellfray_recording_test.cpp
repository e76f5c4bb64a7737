// Pellfray's log over a long session, end to end under Wine: the list that
// follows the newest line, keeps a reader who scrolled up in place and lets
// old lines go (in the test build that keeps 60 lines); millisecond times
// chosen in the system menu and remembered; and a recording made beside a
// reader, which survives the program being killed and, replayed by
// SimReader into a fresh Tarnwick, fills the table that the live traffic
// filled; and a tag module's saved log that SimModule replays into Pellfray.
//
// Cables: Pellfray's COM5 - the test's COM305 (the test plays the reader or
// module), Tarnwick's COM3 - COM303 (the test, then SimReader, plays the
// reader there).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "modulebench/win32/pellfray_resources.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"
#include "tools/driver/pellfray_session.h"
#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/common/sim_frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPellfrayPort = 5;
constexpr uint32_t kModulePort = 305;
constexpr uint32_t kTarnwickPort = 3;
constexpr uint32_t kReaderPort = 303;
constexpr DWORD kWaitMs = 5000;
constexpr DWORD kSaveWaitMs = 20000; // Save As dialogs are slow to come and go under Wine
constexpr int kKeptLines = 60;       // PellfraySmallLog's bound

// "[ R hh:mm:ss ] 01 ab\r\n", or with ".mmm" after the seconds.
bool IsLogLine(const std::string &line, char kind, const std::string &hex, bool milliseconds)
{
    const std::string time = "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]" + std::string(milliseconds ? "\\.[0-9]{3}" : "");
    return std::regex_match(line, std::regex(std::string("\\[ ") + kind + " " + time + " \\]" + hex + "\r\n"));
}

// Whole lines the list shows, as the program counts them.
size_t Page(HWND list)
{
    RECT client;
    GetClientRect(list, &client);
    const LRESULT height = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
    return height > 0 ? static_cast<size_t>(client.bottom / height) : 0;
}

size_t Top(HWND list)
{
    return static_cast<size_t>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
}

// The file's lines without their CR LF.
std::vector<std::string> FileLines(const std::string &path)
{
    std::string bytes;
    std::vector<std::string> lines;
    if (!save_as::ReadFileBytes(path, &bytes))
        return lines;
    size_t at = 0;
    for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at, end - at));
    return lines;
}

// A recorded line as a list in whole seconds shows it.
std::string WithoutMilliseconds(std::string line)
{
    if (line.size() > 16 && line[12] == '.')
        line.erase(12, 4);
    return line + "\r\n";
}

bool Dark(uint32_t pixel)
{
    return ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF) < 300;
}

// The bounds of the pixels where two pictures of the same menu differ
// (empty when they do not); whether they are all dark in the second and
// light in the first.
RECT Compare(const gui::Capture &first, const gui::Capture &second, bool *dark_in_second)
{
    RECT bounds = {first.width, first.height, 0, 0};
    *dark_in_second = first.width == second.width && first.height == second.height;
    if (!*dark_in_second)
        return bounds;
    for (int y = 0; y < first.height; ++y)
        for (int x = 0; x < first.width; ++x) {
            if (first.At(x, y) == second.At(x, y))
                continue;
            bounds = {std::min<LONG>(bounds.left, x), std::min<LONG>(bounds.top, y),
                      std::max<LONG>(bounds.right, x + 1), std::max<LONG>(bounds.bottom, y + 1)};
            *dark_in_second = *dark_in_second && !Dark(first.At(x, y)) && Dark(second.At(x, y));
        }
    return bounds;
}

// Waits until the window shows on the screen as drawn: two pictures in a
// row agree and hold text; the last one in shot.
bool WaitDrawn(HWND window, gui::Capture *shot)
{
    gui::Capture previous;
    return gui::WaitUntil(
        [&] {
            previous = *shot;
            if (!gui::CaptureWindow(window, shot))
                return false;
            bool text = false;
            for (uint32_t pixel : shot->pixels)
                text = text || Dark(pixel);
            return text && previous.pixels == shot->pixels;
        },
        kWaitMs);
}

// The rows of the item the menu's highlight is on, [top, bottom); empty
// when no item is highlighted.
std::pair<int, int> HighlightedRows(const gui::Capture &menu)
{
    BOOL flat = FALSE;
    SystemParametersInfoA(SPI_GETFLATMENU, 0, &flat, 0);
    const COLORREF colour = GetSysColor(flat ? COLOR_MENUHILIGHT : COLOR_HIGHLIGHT);
    const uint32_t highlight = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    std::pair<int, int> rows = {menu.height, 0};
    for (int y = 0; y < menu.height && menu.width > 8; ++y)
        if (menu.At(menu.width - 8, y) == highlight)
            rows = {std::min(rows.first, y), std::max(rows.second, y + 1)};
    return rows;
}

// The table's rows over its two pages, from the first.
std::vector<std::vector<std::string>> TableRows(tarnwick::Tarnwick &t)
{
    gui::Click(t.dialog, tarnwick::kPrevPage); // a read before this one ended on the second page
    std::vector<std::vector<std::string>> rows;
    for (int page = 0; page < 2; ++page, gui::Click(t.dialog, tarnwick::kNextPage))
        for (int r = 0; r < tarnwick::kRows && !t.Cell(r, 0).empty(); ++r)
            rows.push_back(t.Row(r));
    return rows;
}

// The table's rows once it holds tags tags that each show count reports.
// The grid is written once a second while the test reads it cell by cell,
// so a read may see an older write, or rows of two writes: the table is
// read until the last write shows, then once more whole.
std::vector<std::vector<std::string>> CountedRows(tarnwick::Tarnwick &t, size_t tags, const std::string &count)
{
    std::vector<std::vector<std::string>> rows;
    const bool counted = gui::WaitUntil(
        [&] {
            rows = TableRows(t);
            return rows.size() == tags &&
                   std::all_of(rows.begin(), rows.end(), [&](const std::vector<std::string> &row) { return row[5] == count; });
        },
        kWaitMs);
    return counted ? TableRows(t) : rows;
}

// Runs a simulator's --replay of path on COM port to its end; its output.
std::string Replay(const char *simulator, uint32_t port, const std::string &path, const std::string &more)
{
    tarnwick::Simulator sim;
    const std::string log = path + ".replay.txt";
    std::string output;
    if (!sim.Start(simulator, "--port COM" + std::to_string(port) + " --replay \"" + path + "\"" + more, log))
        return "(not started)";
    if (!sim.Wait(20000))
        return "(still running)";
    save_as::ReadFileBytes(log, &output);
    return output;
}

class PellfrayLogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override { ASSERT_TRUE(module.Open(kModulePort)); }

    void TearDown() override
    {
        if (session.main != nullptr) {
            EXPECT_TRUE(session.Close());
        }
    }

    void StartOpen(const char *exe)
    {
        std::string why;
        ASSERT_TRUE(session.Start(exe, &why)) << why;
        d = session.dialog;
        ASSERT_TRUE(pellfray::SelectPort(d, kPellfrayPort));
        gui::Click(d, IDC_PORT_BUTTON);
        ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
        received = 0;
    }

    // The module sends bytes as one chunk; returns once Pellfray counted it,
    // so that every chunk is a line of its own.
    void Receive(const Bytes &bytes)
    {
        ASSERT_TRUE(module.Write(bytes));
        received += bytes.size();
        ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_RX_COUNT) == std::to_string(received); }, kWaitMs))
            << "R counter " << gui::Text(d, IDC_RX_COUNT) << ", expected " << received;
    }

    void ReceiveNumbered(int count)
    {
        for (int i = 0; i < count; ++i)
            Receive(Bytes{static_cast<uint8_t>(numbered++)});
    }

    // The system menu as the screen shows it: opened as Alt+Space opens it,
    // with the highlight moved up ups items from the first (up from the
    // first wraps to the last), pictured once it is drawn, closed with Esc.
    gui::Capture SystemMenuShot(int ups = 0)
    {
        gui::Capture shot;
        // A window still being put on the screen would cover the menu.
        EXPECT_TRUE(WaitDrawn(session.main, &shot));
        PostMessageA(session.main, WM_SYSCOMMAND, SC_KEYMENU, ' ');
        HWND popup = nullptr;
        EXPECT_TRUE(gui::WaitUntil(
            [&] {
                popup = FindWindowA("#32768", nullptr);
                return popup != nullptr && IsWindowVisible(popup);
            },
            kWaitMs));
        // Opened from the keyboard, it highlights its first item, and may
        // draw the highlight after the items: pictures to compare must all
        // show it.
        EXPECT_TRUE(gui::WaitUntil(
            [&] {
                if (!gui::CaptureWindow(popup, &shot))
                    return false;
                const std::pair<int, int> highlight = HighlightedRows(shot);
                return highlight.first < highlight.second;
            },
            kWaitMs));
        EXPECT_TRUE(WaitDrawn(popup, &shot));
        for (int i = 0; i < ups; ++i) {
            const gui::Capture before = shot;
            PostMessageA(popup, WM_KEYDOWN, VK_UP, 0);
            EXPECT_TRUE(gui::WaitUntil(
                [&] { return gui::CaptureWindow(popup, &shot) && shot.pixels != before.pixels; }, kWaitMs));
            EXPECT_TRUE(WaitDrawn(popup, &shot));
        }
        PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindowVisible(popup); }, kWaitMs));
        return shot;
    }

    // Chooses 开始记录… and records into path.
    void StartRecording(const std::string &path)
    {
        const DWORD pid = session.program.pid();
        HWND save = save_as::OpenFromSystemMenu(session.main, pid, kSaveWaitMs, IDM_LOG_RECORD);
        ASSERT_NE(nullptr, save);
        EXPECT_TRUE(
            std::regex_match(save_as::FileName(save), std::regex("pellfray-record-20[0-9]{6}-[0-9]{6}\\.log")))
            << save_as::FileName(save);
        save_as::SaveTo(save, path);
        ASSERT_TRUE(save_as::WaitDialogsGone(pid, kSaveWaitMs)) << save_as::OpenDialogs(pid);
        // The title says when the recording runs.
        const std::string name = path.substr(path.find_last_of('\\') + 1);
        ASSERT_TRUE(gui::WaitUntil(
            [&] { return gui::Text(session.main).find("正在记录 " + name) != std::string::npos; }, kWaitMs))
            << gui::Text(session.main);
    }

    int Count() const { return gui::ListCount(d, IDC_LOG_LIST); }
    std::string Item(int i) const { return gui::ListItem(d, IDC_LOG_LIST, i); }
    std::string Last() const { return Item(Count() - 1); }
    bool NewestShows(HWND list) const { return Top(list) + Page(list) >= static_cast<size_t>(Count()); }

    TestComPort module;
    pellfray::Session session;
    HWND d = nullptr;
    size_t received = 0;
    int numbered = 0;
};

TEST_F(PellfrayLogTest, ListFollowsTheNewestLineKeepsAReaderInPlaceAndLetsOldLinesGo)
{
    StartOpen(BENCH_TARGET_FILE_PellfraySmallLog);
    HWND list = gui::Control(d, IDC_LOG_LIST);
    const size_t page = Page(list);
    ASSERT_GT(page, 5u);
    ASSERT_LT(page, 35u) << "the scenario needs lines out of view";

    ReceiveNumbered(45);
    EXPECT_TRUE(NewestShows(list)) << "top " << Top(list) << " of " << Count();

    // The user scrolls up five lines to read: new lines leave him there,
    // and so do old lines let go above him.
    for (int i = 0; i < 5; ++i)
        SendMessageA(list, WM_VSCROLL, SB_LINEUP, 0);
    const std::string reading = Item(static_cast<int>(Top(list)));
    ReceiveNumbered(20); // 65 lines: the oldest 5 go
    ASSERT_EQ(kKeptLines + 1, Count());
    EXPECT_EQ("[ - ] 较早的 5 行已移出列表（计数器仍计入）\r\n", Item(0));
    EXPECT_TRUE(IsLogLine(Item(1), 'R', " 05", false)) << Item(1);
    EXPECT_TRUE(IsLogLine(Last(), 'R', " 40", false)) << Last();
    EXPECT_EQ(reading, Item(static_cast<int>(Top(list)))) << "the line he reads stays at the top";
    EXPECT_FALSE(NewestShows(list));
    EXPECT_EQ("65", gui::Text(d, IDC_RX_COUNT)) << "the counter counts every chunk";

    // Back at the bottom, the list follows again.
    SendMessageA(list, WM_VSCROLL, SB_BOTTOM, 0);
    ReceiveNumbered(3);
    EXPECT_TRUE(NewestShows(list));
    EXPECT_EQ("[ - ] 较早的 8 行已移出列表（计数器仍计入）\r\n", Item(0));

    // 清空窗口 empties the list and its count of lines let go.
    gui::Click(d, IDC_CLEAR_LOG);
    received = 0;
    ReceiveNumbered(1);
    ASSERT_EQ(1, Count());
    EXPECT_TRUE(IsLogLine(Item(0), 'R', " 44", false)) << Item(0);

    // 毫秒时间 in the system menu: checked from then on, lines carry
    // milliseconds, and the choice is there at the next start.
    const gui::Capture unchecked = SystemMenuShot();
    SendMessageA(session.main, WM_SYSCOMMAND, IDM_LOG_MILLISECONDS, 0);
    const gui::Capture checked = SystemMenuShot();
    bool dark = false;
    const RECT mark = Compare(unchecked, checked, &dark);
    EXPECT_LT(mark.left, mark.right) << "no check mark";
    EXPECT_TRUE(dark) << "the mark shows while milliseconds are on";
    EXPECT_LT(mark.right, 20) << "in the margin";
    // 毫秒时间 is the program's fourth item from the bottom, where the
    // keyboard lands four items up from the first.
    const std::pair<int, int> item = HighlightedRows(SystemMenuShot(4));
    EXPECT_LT(item.first, item.second) << "no item highlighted";
    EXPECT_GE(mark.top, item.first) << "the mark beside 毫秒时间, rows " << item.first << "-" << item.second;
    EXPECT_LE(mark.bottom, item.second) << "the mark beside 毫秒时间, rows " << item.first << "-" << item.second;
    ReceiveNumbered(1);
    EXPECT_TRUE(IsLogLine(Item(0), 'R', " 44", false)) << "lines already logged keep their time";
    EXPECT_TRUE(IsLogLine(Last(), 'R', " 45", true)) << Last();
    ASSERT_TRUE(session.Close());
    session.keep_settings = true;
    StartOpen(BENCH_TARGET_FILE_PellfraySmallLog);
    ReceiveNumbered(1);
    EXPECT_TRUE(IsLogLine(Last(), 'R', " 46", true)) << Last();
    SendMessageA(session.main, WM_SYSCOMMAND, IDM_LOG_MILLISECONDS, 0);
    ReceiveNumbered(1);
    EXPECT_TRUE(IsLogLine(Last(), 'R', " 47", false)) << Last();
}

// A short field session: the test plays a reader beside Pellfray (reader
// mode, recording) and Tarnwick at once. Pellfray is killed; the recording
// holds every line it showed. SimReader then replays the recording into a
// fresh Tarnwick, whose table must match the first, tag by tag.
TEST_F(PellfrayLogTest, ARecordingSurvivesAKillAndReplaysIntoTarnwickTagByTag)
{
    TestComPort reader(kReaderPort);
    ASSERT_TRUE(reader.IsOpen());
    tarnwick::Tarnwick live;
    ASSERT_TRUE(live.Start());
    ASSERT_TRUE(live.ChoosePort(kTarnwickPort));
    live.PressPortButton();

    StartOpen(BENCH_TARGET_FILE_Pellfray);
    const std::string folder = save_as::MakeEmptyFolder("pellfray-record");
    const std::string path = folder + "\\field.log";
    StartRecording(path);

    // Fourteen tags (two pages), three rounds, both header kinds, extra
    // bytes and under-voltage flags, signals that move.
    for (int round = 0; round < 3; ++round) {
        for (uint32_t t = 0; t < 14; ++t) {
            const Bytes extra = t % 3 == 0 ? Bytes{static_cast<uint8_t>(round), static_cast<uint8_t>(t)} : Bytes{};
            const Bytes report =
                tarnwick::TagReport(t % 2 ? tarnwick::Header::k55AA : tarnwick::Header::kFF, 4000 + t * 7,
                                    t % 5 == 0, static_cast<int8_t>(-40 - static_cast<int>(t) - 4 * round), extra);
            ASSERT_TRUE(reader.Write(report));
            Receive(report);
        }
        if (round == 1) {
            gui::SetText(d, IDC_HEX_TEXT, "A5 5A");
            gui::Click(d, IDC_HEX_SEND); // a sent line among the received ones
        }
    }
    const std::vector<std::vector<std::string>> live_rows = CountedRows(live, 14, "3");
    ASSERT_EQ(14u, live_rows.size()) << live.Labels()[1];
    for (const std::vector<std::string> &row : live_rows)
        EXPECT_EQ("3", row[5]) << "three reports of tag " << row[0];
    ASSERT_TRUE(live.Quit());

    std::vector<std::string> shown;
    for (int i = 0; i < Count(); ++i)
        shown.push_back(Item(i));
    // A line waits at most a second for the disk: within twice that the
    // file holds the date and every line shown; then the plug.
    EXPECT_TRUE(gui::WaitUntil([&] { return FileLines(path).size() >= shown.size() + 1; }, 2000))
        << FileLines(path).size() << " lines on disk, " << shown.size() << " shown";
    session.program.Kill();
    session.main = nullptr;

    // Every line the list showed is in the file, in order, with its
    // milliseconds, after the day the recording began.
    const std::vector<std::string> lines = FileLines(path);
    ASSERT_GT(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("\xEF\xBB\xBF\\[ = 20[0-9]{2}-[01][0-9]-[0-3][0-9] \\]")))
        << lines[0];
    std::vector<std::string> recorded;
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ('.', lines[i].size() > 12 ? lines[i][12] : ' ') << lines[i];
        recorded.push_back(WithoutMilliseconds(lines[i]));
    }
    for (std::string &line : shown)
        line = save_as::AnsiToUtf8(line);
    EXPECT_EQ(shown, recorded);

    // The replay at four times the speed, into a Tarnwick that never saw
    // the live traffic.
    tarnwick::Tarnwick desk;
    ASSERT_TRUE(desk.Start());
    ASSERT_TRUE(desk.ChoosePort(kTarnwickPort));
    desk.PressPortButton();
    reader.Close();
    const std::string sim_output = Replay(BENCH_TARGET_FILE_SimReader, kReaderPort, path, " --speed 4");
    EXPECT_NE(std::string::npos, sim_output.find("replayed 42 chunks")) << sim_output;
    EXPECT_NE(std::string::npos, sim_output.find("skipped 1 sent lines, 1 notes, 1 date lines")) << sim_output;
    EXPECT_EQ(std::string::npos, sim_output.find("skipped:")) << sim_output;
    EXPECT_EQ(live_rows, CountedRows(desk, 14, "3"));
    EXPECT_TRUE(desk.Quit());
}

} // namespace

// The recording's item says what it does; 停止记录 ends the file with a
// note and gives the title back; closing the program ends it the same way.
TEST_F(PellfrayLogTest, RecordingStopsFromTheMenuAndWithTheProgram)
{
    StartOpen(BENCH_TARGET_FILE_Pellfray);
    const std::string title = gui::Text(session.main);
    const std::string folder = save_as::MakeEmptyFolder("pellfray-record");
    const gui::Capture idle = SystemMenuShot();
    StartRecording(folder + "\\a.log");
    bool dark = false;
    const RECT item = Compare(idle, SystemMenuShot(), &dark);
    EXPECT_LT(item.left, item.right) << "the item reads 停止记录 while recording";
    EXPECT_GT(item.left, 15);
    // The program's third item from the bottom, three up from the first.
    const std::pair<int, int> rows = HighlightedRows(SystemMenuShot(3));
    EXPECT_LT(rows.first, rows.second) << "no item highlighted";
    EXPECT_GE(item.top, rows.first) << "on 开始记录…'s row, " << rows.first << "-" << rows.second;
    EXPECT_LE(item.bottom, rows.second) << "on 开始记录…'s row, " << rows.first << "-" << rows.second;
    ReceiveNumbered(2);
    SendMessageA(session.main, WM_SYSCOMMAND, IDM_LOG_RECORD, 0);
    EXPECT_EQ(title, gui::Text(session.main));
    ReceiveNumbered(1); // after the stop: not recorded

    const std::regex stop_note(u8"\\[ ! [0-9:]{8}\\.[0-9]{3} \\] 停止记录");
    std::vector<std::string> lines;
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            lines = FileLines(folder + "\\a.log");
            return !lines.empty() && std::regex_match(lines.back(), stop_note);
        },
        kWaitMs));
    ASSERT_EQ(5u, lines.size()) << "date, start note, two received lines, stop note";
    EXPECT_TRUE(IsLogLine(lines[2] + "\r\n", 'R', " 00", true)) << lines[2];
    EXPECT_TRUE(IsLogLine(lines[3] + "\r\n", 'R', " 01", true)) << lines[3];

    StartRecording(folder + "\\b.log");
    ReceiveNumbered(1);
    ASSERT_TRUE(session.Close());
    lines = FileLines(folder + "\\b.log");
    ASSERT_EQ(4u, lines.size()) << "date, start note, the received line, stop note";
    EXPECT_TRUE(IsLogLine(lines[2] + "\r\n", 'R', " 03", true)) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], stop_note)) << lines[3];
}

// A tag module's session saved at the bench (保存日志…, whole seconds) and
// replayed by SimModule into a Pellfray armed anew: the wake-up arrives as
// the same chunk and is answered with the new configuration.
TEST_F(PellfrayLogTest, AModulesSavedLogReplaysIntoPellfrayAndIsAnsweredAgain)
{
    Bytes wake_up(sim::kWakeupLength);
    sim::BuildWakeupFrame(0x1234, wake_up.data());
    auto arm = [&](const char *id) {
        gui::Click(d, IDC_TAG_MODE);
        gui::SetText(d, IDC_TAG_ID, id);
        gui::SetText(d, IDC_SEND_PERIOD, "5");
        gui::SetText(d, IDC_BATTERY_PERIOD, "10");
        gui::Click(d, IDC_MODIFY);
    };
    StartOpen(BENCH_TARGET_FILE_Pellfray);
    arm("7");
    Receive(wake_up);
    EXPECT_EQ(12u, module.Read(12, kWaitMs).size()) << "answered at the bench";
    const DWORD pid = session.program.pid();
    const std::string path = save_as::MakeEmptyFolder("pellfray-saved") + "\\module.log";
    HWND save = save_as::OpenFromSystemMenu(session.main, pid, kSaveWaitMs);
    ASSERT_NE(nullptr, save);
    save_as::SaveTo(save, path);
    ASSERT_TRUE(save_as::WaitDialogsGone(pid, kSaveWaitMs)) << save_as::OpenDialogs(pid);
    ASSERT_NE("(no file)", save_as::WaitFileBytes(path, kSaveWaitMs));
    ASSERT_TRUE(session.Close());

    // SimModule's port was left with XON/XOFF on; the answer for ID 17
    // holds 0x11, which the simulator must still receive.
    StartOpen(BENCH_TARGET_FILE_Pellfray);
    arm("17");
    module.Close();
    ASSERT_TRUE(LeaveComPortInAnotherProgramsState(kModulePort)) << "XON/XOFF not taken: the test proves nothing";
    const std::string output = Replay(BENCH_TARGET_FILE_SimModule, kModulePort, path, "");
    EXPECT_EQ("完成配置", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_NE(std::string::npos, output.find("config taken: ID 17,")) << output;
    EXPECT_NE(std::string::npos, output.find("replayed 1 chunks (9 bytes")) << output;
    EXPECT_NE(std::string::npos, output.find("skipped 1 sent lines, 0 notes, 0 date lines, 1 counter lines")) << output;
}
