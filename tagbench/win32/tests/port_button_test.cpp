// Tarnwick's port button and grid over a null-modem pair (COM3 <-> COM13):
// the test opens the port in the dialog, plays the reader on the other end,
// and reads the grid and labels back after the next tick of timer 1.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/com_ports/com_test_support.h"
#include "tests/wine/gui/gui_driver.h"

namespace {

constexpr DWORD kTimeoutMs = 5000;

// Selects the port list entry "COMn". The entries are compared in the wide
// form: Wine returns CB_GETLBTEXT across processes in UTF-16 either way.
bool SelectPort(HWND dialog, uint32_t n)
{
    HWND combo = GetDlgItem(dialog, 1002);
    const std::wstring wanted = L"COM" + std::to_wstring(n);
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[32] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= 32)
            continue;
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        if (wanted == text) {
            SendMessageW(combo, CB_SETCURSEL, i, 0);
            return true;
        }
    }
    return false;
}

std::vector<std::string> Row(HWND dialog, int r)
{
    std::vector<std::string> cells;
    for (int c = 0; c < 6; ++c)
        cells.push_back(gui::Text(dialog, (r == 0 && c == 0) ? 1088 : 1106 + 6 * r + c));
    return cells;
}

TEST(TarnwickPort, OpenShowCloseReopen)
{
    RemoveForeignComPorts();
    TestComPort reader(13);
    ASSERT_TRUE(reader.IsOpen());

    gui::Program program;
    ASSERT_TRUE(program.Start(BENCH_TARGET_FILE_Tarnwick));
    HWND main = gui::WaitForWindow("QUORVEL", program.pid(), 15000);
    ASSERT_NE(nullptr, main);
    HWND d = gui::WaitForChildDialog(main, kTimeoutMs);
    ASSERT_NE(nullptr, d);

    ASSERT_TRUE(SelectPort(d, 3));
    gui::Click(d, 1016);
    EXPECT_EQ("关闭串口", gui::Text(d, 1016));
    EXPECT_FALSE(gui::Enabled(d, 1002));
    EXPECT_FALSE(gui::Enabled(d, 1003));
    EXPECT_TRUE(gui::Enabled(d, 1179));

    // The two example reports of one tag, in both header kinds.
    ASSERT_TRUE(reader.Write(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0xE8, 0x00, 0xCE, 0xEF, 0x41}));
    ASSERT_TRUE(reader.Write(
        std::vector<uint8_t>{0x55, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 0x41, 0x12, 0x34, 0xCE, 0x4E, 0x33}));
    const std::vector<std::string> expected = {"1", "1000", "欠压", "12 34", "-50 / 208", "2"};
    ASSERT_TRUE(gui::WaitUntil([&] { return Row(d, 0) == expected; }, kTimeoutMs));
    EXPECT_EQ("已连接", gui::Text(d, 1041));
    EXPECT_EQ("1", gui::Text(d, 1043));
    EXPECT_EQ("0", gui::Text(d, 1044));
    EXPECT_EQ((std::vector<std::string>(6, "")), Row(d, 1));
    // A single page: neither paging button moves.
    gui::Click(d, 1004);
    gui::Click(d, 1042);
    EXPECT_EQ(expected, Row(d, 0));

    // Closing: "未连接" at once, the table stays.
    gui::Click(d, 1016);
    EXPECT_EQ("打开串口", gui::Text(d, 1016));
    EXPECT_EQ("未连接", gui::Text(d, 1041));
    EXPECT_EQ(expected, Row(d, 0));
    EXPECT_TRUE(gui::Enabled(d, 1002));
    EXPECT_FALSE(gui::Enabled(d, 1179));

    // Reopening empties table and display.
    gui::Click(d, 1016);
    EXPECT_EQ("关闭串口", gui::Text(d, 1016));
    EXPECT_EQ((std::vector<std::string>(6, "")), Row(d, 0));
    EXPECT_EQ("0", gui::Text(d, 1043));
    gui::Click(d, 1016);

    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.WaitExit(kTimeoutMs));
}

} // namespace
