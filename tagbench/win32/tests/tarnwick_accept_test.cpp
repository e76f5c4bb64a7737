// Checking a batch in Tarnwick's 批量验收… window, driven as a user does
// it, with the test playing the reader on the far end of the COM3-COM300
// cable: a range of twenty tags with a silent one, one short of reports, a
// weak one, two under-voltage and two strangers gives the exact counts,
// verdict, list of failures (a double-click follows a tag) and export; the
// criteria change the judgement at once and are remembered across the
// window's closing; Pellfray's batch journal serves as the expected list
// (its bad line reported); and a table filled past 3000 says so in the main
// dialog and in the window. Going offline needs ten seconds of ageing and is
// judged in the host tests instead.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tools/driver/save_as_driver.h"
#include "tools/driver/tarnwick_accept_driver.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/driver/tarnwick_follow_driver.h"

namespace {

using namespace tarnwick;

constexpr uint32_t kBenchPort = 3;
constexpr uint32_t kReaderPort = 300;
constexpr int kRefusedLabel = 1203;
constexpr DWORD kSaveWaitMs = 20000; // file dialogs are slow to come and go under Wine
const wchar_t kSettingsKey[] = L"Software\\RfidBench\\Tarnwick";

using Counts = std::vector<std::string>;

// The batch: 100 to 119, three reports each at -50 dB, except 112 (silent),
// 113 (two reports), 114 (weak, -90 dB), 115 (under-voltage), 116
// (under-voltage and weak); 500 and 501 report once and are not of it.
bool SendBatch(TestComPort &port)
{
    std::vector<uint8_t> bytes;
    auto add = [&](uint32_t id, bool uv, int8_t signal) {
        const std::vector<uint8_t> f = TagReport(id % 2 ? Header::kFF : Header::k55AA, id, uv, signal);
        bytes.insert(bytes.end(), f.begin(), f.end());
    };
    for (int round = 0; round < 3; ++round) {
        for (uint32_t id = 100; id <= 119; ++id) {
            if (id == 112 || (id == 113 && round == 2))
                continue;
            add(id, id == 115 || id == 116, id == 114 || id == 116 ? -90 : -50);
        }
    }
    add(500, false, -50);
    add(501, false, -50);
    return port.Write(bytes, 5000);
}

bool CountsAre(HWND window, const Counts &want)
{
    return gui::WaitUntil([&] { return accept::Counts(window) == want; }, kTimeoutMs);
}

std::string TempFile(const char *name)
{
    char dir[MAX_PATH] = {};
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

// The Open dialog of 从文件… is a file dialog like Save As: its name field
// takes the path and OK opens it.
void ChooseListFile(DWORD pid, HWND window, const std::string &path)
{
    gui::ClickAsync(window, accept::kFile);
    HWND open = nullptr;
    gui::WaitUntil([&] { return (open = save_as::WaitBox(pid, window, 0)) && save_as::FileNameField(open); },
                   kSaveWaitMs);
    ASSERT_TRUE(open != nullptr && save_as::FileNameField(open) != nullptr);
    save_as::SaveTo(open, path);
    gui::WaitUntil([&] { return !IsWindow(open); }, kSaveWaitMs);
}

TEST(TarnwickAccept, ABatchWithFaultsFromARangeAndFromAJournal)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); // the defaults, whatever ran before
    RemoveForeignComPorts();
    TestComPort reader(kReaderPort);
    ASSERT_TRUE(reader.IsOpen());
    Tarnwick t;
    ASSERT_TRUE(t.Start());
    const DWORD pid = t.program.pid();
    ASSERT_TRUE(t.ChoosePort(kBenchPort));
    t.PressPortButton();
    ASSERT_TRUE(SendBatch(reader));
    ASSERT_TRUE(gui::WaitUntil([&] { return t.Labels()[1] == "21"; }, kTimeoutMs)) << t.Labels()[1];

    // The window, with the default criteria and nothing expected yet.
    HWND w = accept::Open(t.main, pid, kTimeoutMs);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ("-80", accept::Text(w, accept::kMinSignal));
    EXPECT_EQ("3", accept::Text(w, accept::kMinReports));
    EXPECT_TRUE(gui::Checked(w, accept::kUnderVoltage));
    EXPECT_TRUE(gui::Checked(w, accept::kOffline));
    EXPECT_EQ(u8"未设定应到标签", accept::Text(w, accept::kVerdict));
    EXPECT_EQ(w, accept::Open(t.main, pid, kTimeoutMs)) << "one window at a time";
    // Tags go offline ten seconds after their last report, which would tie
    // the counts below to the test's pace: 掉线 is judged on the host.
    gui::Click(w, accept::kOffline);

    // A range the other way round is refused; 100 to 119 is judged.
    accept::UseRange(w, 119, 100);
    EXPECT_NE(std::string::npos, save_as::BoxText(save_as::WaitBox(pid, w, kTimeoutMs)).find(u8"起始ID号不能大于结束ID号"));
    save_as::Press(save_as::WaitBox(pid, w, kTimeoutMs), IDOK);
    accept::UseRange(w, 100, 119);
    // 应到 已到 合格 缺失 欠压 信号弱 掉线 多余
    EXPECT_TRUE(CountsAre(w, {"20", "18", "15", "2", "2", "1", "0", "2"})) << accept::CountsLine(w);
    EXPECT_EQ(u8"范围 100 - 119，共 20 个", accept::Text(w, accept::kSource));
    EXPECT_EQ(u8"不合格：缺失 2，欠压 2，信号弱 1；多余 2", accept::Text(w, accept::kVerdict));
    EXPECT_EQ("", accept::Text(w, accept::kNote));
    EXPECT_GE(accept::LastJudgeMs(w), 0.0) << accept::Text(w, accept::kTiming);

    // The failures, missing ones first, each with its reason.
    const std::vector<std::vector<std::string>> rows = accept::ListRows(w, pid);
    const std::vector<std::vector<std::string>> want = {
        {"112", u8"缺失", u8"未出现", "0", ""},
        {"113", u8"缺失", u8"仅 2 次报告（至少 3 次）", "2", "-50"},
        {"115", u8"欠压", u8"欠压", "3", "-50"},
        {"116", u8"欠压", u8"欠压；信号 -90 dB（低于 -80 dB）", "3", "-90"},
        {"114", u8"信号弱", u8"信号 -90 dB（低于 -80 dB）", "3", "-90"},
        {"500", u8"多余", u8"不在应到名单中", "1", "-50"},
        {"501", u8"多余", u8"不在应到名单中", "1", "-50"},
    };
    ASSERT_EQ(want.size(), rows.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(want[i], std::vector<std::string>(rows[i].begin(), rows[i].begin() + 5)) << i;
        EXPECT_EQ(i == 0 ? 0u : 8u, rows[i][5].size()) << rows[i][5]; // HH:MM:SS of the last report
    }

    // Rows are coloured by result: 缺失 grey, 欠压 yellow, 信号弱 orange, 多余
    // blue (a point of the reason column right of its text).
    gui::Capture shot;
    ASSERT_TRUE(gui::CaptureWindow(w, &shot));
    const RECT list = gui::ControlRectIn(w, gui::Control(w, accept::kList));
    const struct {
        int row;
        uint32_t colour;
    } colours[] = {{0, 0xC8C8C8}, {1, 0xC8C8C8}, {2, 0xFFE16E}, {4, 0xFFBE8C}, {6, 0xC8DCFF}};
    for (const auto &c : colours) {
        const RECT r = accept::RowRect(w, pid, c.row);
        EXPECT_EQ(c.colour, shot.At(list.left + 2 + 320, list.top + 2 + (r.top + r.bottom) / 2) & 0xFFFFFF)
            << "row " << c.row;
    }

    // A double-click on a row follows the tag.
    accept::DoubleClickRow(w, pid, 4);
    HWND followed = follow::WaitFollowWindow(pid, 114, kTimeoutMs);
    ASSERT_NE(nullptr, followed);
    EXPECT_EQ("3", gui::Text(followed, kFollowTotal));
    PostMessageA(followed, WM_CLOSE, 0, 0);

    // The criteria apply as they are changed; one that does not read keeps
    // the last and says so.
    gui::Click(w, accept::kUnderVoltage);
    EXPECT_TRUE(CountsAre(w, {"20", "18", "16", "2", "0", "2", "0", "2"})) << accept::CountsLine(w);
    accept::SetText(w, accept::kMinSignal, "-95");
    EXPECT_TRUE(CountsAre(w, {"20", "18", "18", "2", "0", "0", "0", "2"})) << accept::CountsLine(w);
    accept::SetText(w, accept::kMinReports, "2");
    EXPECT_TRUE(CountsAre(w, {"20", "19", "19", "1", "0", "0", "0", "2"})) << accept::CountsLine(w);
    accept::SetText(w, accept::kMinSignal, "-95x");
    EXPECT_EQ(u8"最低信号应为 -128 到 127 的整数，仍按 -95 dB 判断", accept::Text(w, accept::kNote));
    EXPECT_EQ(Counts({"20", "19", "19", "1", "0", "0", "0", "2"}), accept::Counts(w));
    accept::SetText(w, accept::kMinSignal, "-80");
    accept::SetText(w, accept::kMinReports, "0");
    EXPECT_EQ(u8"至少报告次数应为 1 到 1000000 的整数，仍按 2 次判断", accept::Text(w, accept::kNote));
    accept::SetText(w, accept::kMinReports, "2");
    EXPECT_EQ("", accept::Text(w, accept::kNote));

    // Remembered: closed and opened again, the window has them (and the range).
    PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(w); }, kTimeoutMs));
    w = accept::Open(t.main, pid, kTimeoutMs);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ("-80", accept::Text(w, accept::kMinSignal));
    EXPECT_EQ("2", accept::Text(w, accept::kMinReports));
    EXPECT_EQ("100", accept::Text(w, accept::kFirst));
    EXPECT_EQ("119", accept::Text(w, accept::kLast));
    EXPECT_FALSE(gui::Checked(w, accept::kUnderVoltage));
    EXPECT_FALSE(gui::Checked(w, accept::kOffline));
    EXPECT_TRUE(CountsAre(w, {"20", "19", "17", "1", "0", "2", "0", "2"})) << accept::CountsLine(w);
    gui::Click(w, accept::kUnderVoltage);
    accept::SetText(w, accept::kMinReports, "3");
    EXPECT_TRUE(CountsAre(w, {"20", "18", "15", "2", "2", "1", "0", "2"})) << accept::CountsLine(w);

    // 导出验收结果…: one row per expected tag and stranger, then the summary.
    gui::ClickAsync(w, accept::kExport);
    HWND save = nullptr;
    gui::WaitUntil([&] { return (save = save_as::WaitBox(pid, w, 0)) && save_as::FileNameField(save); }, kSaveWaitMs);
    ASSERT_TRUE(save != nullptr && save_as::FileNameField(save) != nullptr);
    EXPECT_TRUE(std::regex_match(save_as::FileName(save), std::regex("tarnwick-acceptance-20[0-9]{6}-[0-9]{6}\\.csv")))
        << save_as::FileName(save);
    const std::string path = save_as::MakeEmptyFolder("tarnwick-accept") + "\\batch.csv";
    save_as::SaveTo(save, path);
    const std::string csv = save_as::WaitFileBytes(path, kSaveWaitMs);
    const std::string header = u8"\xEF\xBB\xBFID,结果,报告次数,最强信号 dB,首次出现,最后出现\r\n";
    EXPECT_EQ(header, csv.substr(0, header.size()));
    const std::string first = u8"100,合格,3,-50,";
    ASSERT_EQ(first, csv.substr(header.size(), first.size())) << csv.substr(0, 200);
    const std::string stamp = "20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";
    EXPECT_TRUE(std::regex_match(csv.substr(header.size() + first.size(), 41), std::regex(stamp + "," + stamp + "\r\n")))
        << csv.substr(0, 200);
    for (const char *row : {u8"\r\n112,缺失,0,,,\r\n", u8"\r\n113,缺失,2,-50,", u8"\r\n114,信号弱,3,-90,",
                            u8"\r\n116,欠压,3,-90,", u8"\r\n119,合格,3,-50,", u8"\r\n501,多余,1,-50,"})
        EXPECT_NE(std::string::npos, csv.find(row)) << row;
    EXPECT_NE(std::string::npos,
              csv.find(u8"\r\n\r\n应到,20\r\n已到,18\r\n合格,15\r\n缺失,2\r\n欠压,2\r\n信号弱,1\r\n掉线,0\r\n多余,2\r\n"
                       u8"结论,不合格：缺失 2，欠压 2，信号弱 1；多余 2\r\n"
                       u8"判定条件,最低信号 -80 dB；至少报告 3 次；欠压不合格；掉线不计\r\n"))
        << csv;
    EXPECT_EQ(23u + 11u, static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')));

    // Pellfray's journal as the list: its configured IDs, a bad line
    // reported once by number, the failed row and the stop line passed over.
    const std::string journal = TempFile("tarnwick-accept-journal.csv");
    {
        std::ofstream f(journal, std::ios::binary);
        f << u8"\xEF\xBB\xBF时间,ID号,发送周期,电量测量周期,结果\r\n"
             u8"2026-12-07 10:00:01.120,100,5,60,已配置\r\n"
             u8"2026-12-07 10:00:03.400,101,5,60,未能发出：1 秒内未能写完（已发出 3 / 12 字节）\r\n"
             u8"2026-12-07 10:00:05.010,101,5,60,已配置\r\n"
             u8"2026-12-07 10:00:07.500,1x2,5,60,已配置\r\n"
             u8"2026-12-07 10:00:09.700,130,5,60,已配置\r\n"
             u8"停止 2026-12-07 10:00:12\r\n";
    }
    ChooseListFile(pid, w, journal);
    HWND note = save_as::WaitBox(pid, w, kTimeoutMs);
    ASSERT_NE(nullptr, note);
    EXPECT_NE(std::string::npos, save_as::BoxText(note).find(u8"第 5 行无法读取，已略过。应到标签 3 个。"))
        << save_as::BoxText(note);
    save_as::Press(note, IDOK);
    EXPECT_TRUE(CountsAre(w, {"3", "2", "2", "1", "0", "0", "0", "19"})) << accept::CountsLine(w);
    EXPECT_EQ(u8"文件 tarnwick-accept-journal.csv，共 3 个（批量配置记录中已配置的）", accept::Text(w, accept::kSource));
    EXPECT_EQ(u8"不合格：缺失 1；多余 19", accept::Text(w, accept::kVerdict));
    DeleteFileA(journal.c_str());

    // 3000 more tags: the table takes 2979 of them, the main dialog counts
    // the rest and the window says its judgement may be incomplete.
    std::vector<uint8_t> flood;
    for (uint32_t id = 10000; id < 13000; ++id) {
        const std::vector<uint8_t> f = TagReport(Header::kFF, id, false, -50);
        flood.insert(flood.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(reader.Write(flood, 10000));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(t.dialog, kRefusedLabel) == "表满，21 个未记入"; }, kTimeoutMs))
        << gui::Text(t.dialog, kRefusedLabel);
    EXPECT_EQ("3000", t.Labels()[1]);
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            return accept::Text(w, accept::kNote) ==
                   u8"标签表已满（3000 个），另有 21 个标签未能记入：判断可能不完整";
        },
        kTimeoutMs))
        << accept::Text(w, accept::kNote);

    // Closed, the port leaves the last table to judge; reopened, it empties
    // the table and the count.
    t.PressPortButton();
    EXPECT_TRUE(gui::WaitUntil(
        [&] {
            return accept::Text(w, accept::kNote) ==
                   u8"标签表已满（3000 个），另有 21 个标签未能记入：判断可能不完整；串口未打开，按标签表最后的内容判断";
        },
        kTimeoutMs))
        << accept::Text(w, accept::kNote);
    t.PressPortButton();
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(t.dialog, kRefusedLabel).empty(); }, kTimeoutMs));
    EXPECT_TRUE(CountsAre(w, {"3", "0", "0", "3", "0", "0", "0", "0"})) << accept::CountsLine(w);

    EXPECT_TRUE(t.Quit());
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
}

} // namespace
