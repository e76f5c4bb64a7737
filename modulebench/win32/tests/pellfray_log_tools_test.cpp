// Pellfray's log tools end to end under Wine, on the test build that keeps
// 60 log lines (PellfraySmallLog): the find box (hex and text, both ways,
// the wrap, "未找到", the frame on the line found, the line found going past
// the bound), copying (Ctrl+C, the context menu, read back from the
// clipboard), 加CRC and the hex history, and the settings surviving a
// restart. The test plays the module on COM305 (Pellfray's COM5).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modulebench/win32/log_tools_resources.h"
#include "serial/crc16.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"
#include "tools/driver/pellfray_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 5;
constexpr uint32_t kDevicePort = 305;
constexpr DWORD kWaitMs = 5000;
constexpr int kKeptLines = 60; // PellfraySmallLog

const Bytes kWake = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x12, 0x34, 0x00, 0x00};

class PellfrayLogToolsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override
    {
        ASSERT_TRUE(device.Open(kDevicePort));
        Start(false);
    }

    void TearDown() override
    {
        EXPECT_TRUE(session.Close());
        pellfray::ForgetSettings();
    }

    void Start(bool keep_settings)
    {
        session.keep_settings = keep_settings;
        std::string why;
        ASSERT_TRUE(session.Start(BENCH_TARGET_FILE_PellfraySmallLog, &why)) << why;
        d = session.dialog;
        pid = session.program.pid();
        list = gui::Control(d, IDC_LOG_LIST);
    }

    void Open()
    {
        ASSERT_TRUE(pellfray::SelectPort(d, kProductPort));
        gui::Click(d, IDC_PORT_BUTTON);
        ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
    }

    // One chunk from the module, seen as the newest log line (chunks that
    // follow each other differ).
    void Receive(const Bytes &chunk)
    {
        std::string hex;
        for (uint8_t byte : chunk) {
            char text[4];
            std::snprintf(text, sizeof text, " %02x", byte);
            hex += text;
        }
        const std::string tail = "]" + hex + "\r\n";
        ASSERT_TRUE(device.Write(chunk));
        ASSERT_TRUE(gui::WaitUntil(
            [&] {
                const int count = gui::ListCount(d, IDC_LOG_LIST);
                const std::string last = count > 0 ? gui::ListItem(d, IDC_LOG_LIST, count - 1) : std::string();
                return last.size() >= tail.size() && last.compare(last.size() - tail.size(), tail.size(), tail) == 0;
            },
            kWaitMs))
            << tail;
    }

    // The find box's answer to a search for text, forward or backward.
    std::string Find(const std::string &text, int button = IDOK)
    {
        gui::SetText(box, IDC_LOG_FIND_TEXT, text);
        gui::Click(box, button);
        return gui::Text(box, IDC_LOG_FIND_STATUS);
    }

    // Ctrl and key typed on the keyboard, with the program in front.
    // The main window active, as a user's click makes it. Activation is
    // handled by the program after this returns, and it gives the keyboard
    // focus back to the control that had it: so it is waited for, and
    // asked for only when needed, lest it take the focus from the list.
    bool Activate()
    {
        if (GetForegroundWindow() != session.main)
            SetForegroundWindow(session.main);
        const DWORD thread = GetWindowThreadProcessId(session.main, nullptr);
        return gui::WaitUntil(
            [&] {
                GUITHREADINFO info = {};
                info.cbSize = sizeof info;
                return GetGUIThreadInfo(thread, &info) && info.hwndActive == session.main;
            },
            kWaitMs);
    }

    void CtrlKey(BYTE key)
    {
        Activate();
        keybd_event(VK_CONTROL, 0, 0, 0);
        keybd_event(key, 0, 0, 0);
        keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
        keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
    }

    // F3 (or Shift+F3) typed, with the program in front.
    void Key(BYTE key, bool shift)
    {
        Activate();
        if (shift)
            keybd_event(VK_SHIFT, 0, 0, 0);
        keybd_event(key, 0, 0, 0);
        keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
        if (shift)
            keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    }

    // A click into the log list, which takes the keyboard focus.
    bool FocusList()
    {
        if (!Activate())
            return false;
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        const DWORD thread = GetWindowThreadProcessId(list, nullptr);
        return gui::WaitUntil(
            [&] {
                GUITHREADINFO info = {};
                info.cbSize = sizeof info;
                return GetGUIThreadInfo(thread, &info) && info.hwndFocus == list;
            },
            kWaitMs);
    }

    // The program's popup menu ("#32768"), once it shows.
    HWND WaitMenu()
    {
        HWND found = nullptr;
        gui::WaitUntil(
            [&] {
                for (HWND w = FindWindowExA(nullptr, nullptr, "#32768", nullptr); w != nullptr;
                     w = FindWindowExA(nullptr, w, "#32768", nullptr)) {
                    DWORD owner = 0;
                    GetWindowThreadProcessId(w, &owner);
                    if (owner == pid && IsWindowVisible(w)) {
                        found = w;
                        return true;
                    }
                }
                return false;
            },
            kWaitMs);
        return found;
    }

    // Picks an item of the popup menu that window is about to open: with its
    // mnemonic, or count times down and Enter.
    bool ChooseInMenu(char mnemonic, int downs = 0)
    {
        HWND menu = WaitMenu();
        if (menu == nullptr)
            return false;
        if (mnemonic != 0) {
            PostMessageA(menu, WM_CHAR, static_cast<WPARAM>(mnemonic), 1);
        } else {
            for (int i = 0; i < downs; ++i)
                PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 1);
            PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 1);
        }
        return gui::WaitUntil([&] { return !IsWindowVisible(menu); }, kWaitMs);
    }

    // The clipboard's text in this process's code page (as ListItem gives
    // the list's lines), once it differs from before.
    static std::string ClipboardText()
    {
        std::string text;
        if (!OpenClipboard(nullptr))
            return "(clipboard busy)";
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const wchar_t *wide = data != nullptr ? static_cast<const wchar_t *>(GlobalLock(data)) : nullptr;
        if (wide != nullptr) {
            const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
            text.resize(n > 0 ? static_cast<size_t>(n) : 1);
            WideCharToMultiByte(CP_ACP, 0, wide, -1, &text[0], n, nullptr, nullptr);
            text.resize(text.size() - 1);
            GlobalUnlock(data);
        }
        CloseClipboard();
        return text;
    }

    static void EmptyTheClipboard()
    {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
    }

    std::string WaitClipboard()
    {
        std::string text;
        // Busy while the program is still putting the copy there.
        gui::WaitUntil(
            [&] {
                text = ClipboardText();
                return !text.empty() && text != "(clipboard busy)";
            },
            kWaitMs);
        return text;
    }

    std::string Lines(int first, int end) const
    {
        std::string text;
        for (int i = first; i < end; ++i)
            text += gui::ListItem(d, IDC_LOG_LIST, i);
        return text;
    }

    // Whether the frame colour shows on the line's top edge.
    bool Framed(int index)
    {
        RECT item;
        if (SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) ==
            LB_ERR)
            return false;
        gui::Capture shot;
        if (!gui::CaptureWindow(list, &shot))
            return false;
        // Client to window offset: the list's border.
        POINT origin = {0, 0};
        ClientToScreen(list, &origin);
        RECT window;
        GetWindowRect(list, &window);
        const int x = origin.x - window.left + (item.left + item.right) / 2;
        const int y = origin.y - window.top + item.top;
        return x < shot.width && y < shot.height && shot.At(x, y) == 0x0000FF;
    }

    TestComPort device;
    pellfray::Session session;
    HWND d = nullptr;
    HWND list = nullptr;
    HWND box = nullptr;
    DWORD pid = 0;
};

TEST_F(PellfrayLogToolsTest, FindCopyCrcHistoryAndSettingsAcrossARestart)
{
    Open();
    gui::Click(d, IDC_CLEAR_LOG); // a note of the console's start, if any
    for (const Bytes &chunk : {Bytes{0x01, 0x02}, kWake, Bytes{0x03}, kWake, Bytes{0x0A}})
        Receive(chunk);
    ASSERT_EQ(5, gui::ListCount(d, IDC_LOG_LIST)) << Lines(0, gui::ListCount(d, IDC_LOG_LIST));

    // Ctrl+F opens the find box; hex as the log shows it, or run together.
    CtrlKey('F');
    box = gui::WaitForPopup(pid, "查找", kWaitMs);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("第 2 行", Find("FFFFFFFF00"));
    EXPECT_TRUE(gui::WaitUntil([&] { return Framed(1); }, kWaitMs));
    EXPECT_FALSE(Framed(0));
    EXPECT_EQ("第 4 行", Find("ff ff ff ff 00"));
    EXPECT_EQ("第 2 行，已从另一端继续查找", Find("ff ff ff ff 00"));
    EXPECT_EQ("第 4 行，已从另一端继续查找", Find("ff ff ff ff 00", IDC_LOG_FIND_PREV));
    // F3 goes on with the same text, down; Shift+F3 up.
    Key(VK_F3, false);
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(box, IDC_LOG_FIND_STATUS) == "第 2 行，已从另一端继续查找"; },
                               kWaitMs));
    Key(VK_F3, true);
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(box, IDC_LOG_FIND_STATUS) == "第 4 行，已从另一端继续查找"; },
                               kWaitMs));
    EXPECT_EQ("第 3 行，已从另一端继续查找", Find("] 03"));
    EXPECT_EQ("未找到", Find("0b"));
    EXPECT_TRUE(gui::WaitUntil([&] { return !Framed(2); }, kWaitMs));

    // Ctrl+C in the log: the line found.
    EXPECT_EQ("第 5 行", Find("0A"));
    EmptyTheClipboard();
    ASSERT_TRUE(FocusList());
    CtrlKey('C');
    EXPECT_EQ(gui::ListItem(d, IDC_LOG_LIST, 4), WaitClipboard());

    // 加CRC: the CRC goes out after the typed bytes and the S line shows it;
    // unticked, the bytes alone. Both texts go to the history.
    gui::Click(d, IDC_HEX_ADD_CRC);
    ASSERT_TRUE(gui::Checked(d, IDC_HEX_ADD_CRC));
    gui::SetText(d, IDC_HEX_TEXT, "01 03 00 00 00 01");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ((Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x0A, 0x84}), device.Read(8, kWaitMs));
    ASSERT_EQ(6, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_NE(std::string::npos, gui::ListItem(d, IDC_LOG_LIST, 5).find("] 01 03 00 00 00 01 0a 84\r\n"));
    EXPECT_EQ("8", gui::Text(d, IDC_TX_COUNT));
    gui::Click(d, IDC_HEX_ADD_CRC);
    gui::SetText(d, IDC_HEX_TEXT, "05");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ((Bytes{0x05}), device.Read(1, kWaitMs));
    EXPECT_EQ("9", gui::Text(d, IDC_TX_COUNT));
    // ▼, the second text sent back (newest first) fills the field.
    gui::SetText(d, IDC_HEX_TEXT, "");
    gui::ClickAsync(d, IDC_HEX_HISTORY);
    ASSERT_TRUE(ChooseInMenu(0, 2));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_HEX_TEXT) == "01 03 00 00 00 01"; }, kWaitMs))
        << gui::Text(d, IDC_HEX_TEXT);

    // The line found (still 0a) goes past the bound: the box says so.
    for (int i = 0; i < kKeptLines; ++i)
        Receive(Bytes{0x20, static_cast<uint8_t>(i)});
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(box, IDC_LOG_FIND_STATUS) == "找到的行已移出列表"; },
                               kWaitMs))
        << gui::Text(box, IDC_LOG_FIND_STATUS);

    // Ctrl+C with no line found: the lines in view (the newest, at the end).
    const int count = gui::ListCount(d, IDC_LOG_LIST);
    ASSERT_EQ(kKeptLines + 1, count);
    EmptyTheClipboard();
    ASSERT_TRUE(FocusList());
    CtrlKey('C');
    const int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    EXPECT_GT(top, 10);
    EXPECT_EQ(Lines(top, count), WaitClipboard());

    // An old line found is scrolled into view.
    EXPECT_EQ("第 2 行", Find("20 00"));
    EXPECT_LE(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 1);

    // Copy all from the context menu: the head line and every kept line.
    EmptyTheClipboard();
    PostMessageA(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
    ASSERT_TRUE(ChooseInMenu('a'));
    const std::string all = WaitClipboard();
    EXPECT_EQ(Lines(0, count), all);
    EXPECT_EQ(0u, all.find("[ - ] ")) << all.substr(0, 40);
    EXPECT_EQ("已复制 " + std::to_string(count) + " 行", gui::Text(box, IDC_LOG_FIND_STATUS));
    gui::Click(d, IDC_CLEAR_LOG); // the line found (20 00) with the rest
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(box, IDC_LOG_FIND_STATUS) == "日志已清空"; }, kWaitMs));

    // A line longer than any read of the port (300 bytes typed) is copied
    // whole, not cut where the code page's round trip once cut it.
    std::string typed;
    for (int i = 0; i < 300; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", i & 0xFF);
        typed += byte;
    }
    gui::SetText(d, IDC_HEX_TEXT, typed.c_str());
    gui::Click(d, IDC_HEX_SEND);
    ASSERT_EQ(300u, device.Read(300, kWaitMs).size());
    EmptyTheClipboard();
    PostMessageA(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
    ASSERT_TRUE(ChooseInMenu('a'));
    const std::string whole = WaitClipboard();
    ASSERT_NE(std::string::npos, whole.find("] ")) << whole;
    EXPECT_EQ(typed + "\r\n", whole.substr(whole.find("] ") + 2));

    // Settings: the speed of the last open, the mode, the fields; a value of
    // the wrong type (the channel as a text) is not taken.
    gui::Click(d, IDC_PORT_BUTTON);
    ASSERT_TRUE(gui::ComboSelect(d, IDC_BAUD_LIST, "38400"));
    Open();
    gui::Click(d, IDC_TAG_MODE);
    gui::SetText(d, IDC_TAG_ID, "123");
    gui::SetText(d, IDC_SEND_PERIOD, "5");
    gui::SetText(d, IDC_BATTERY_PERIOD, "0");
    gui::SetText(d, IDC_READER_ID, "77");
    ASSERT_TRUE(gui::ComboSelect(d, IDC_CHANNEL_LIST, "6"));
    ASSERT_TRUE(session.Close());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\RfidBench\\Pellfray", 0,
                                           KEY_QUERY_VALUE, &key));
    DWORD channel = 0;
    DWORD size = sizeof channel;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key, nullptr, L"Channel", RRF_RT_REG_DWORD, nullptr, &channel, &size));
    EXPECT_EQ(6u, channel);
    RegCloseKey(key);

    Start(true);
    EXPECT_EQ("COM5", gui::Text(pellfray::PortField(d))); // not the list's first entry, COM12
    EXPECT_EQ("38400", gui::Text(d, IDC_BAUD_LIST));
    EXPECT_EQ("打开串口", gui::Text(d, IDC_PORT_BUTTON));
    EXPECT_TRUE(gui::Checked(d, IDC_TAG_MODE));
    EXPECT_FALSE(gui::Checked(d, IDC_READER_MODE));
    EXPECT_EQ("123", gui::Text(d, IDC_TAG_ID));
    EXPECT_EQ("5", gui::Text(d, IDC_SEND_PERIOD));
    EXPECT_EQ("0", gui::Text(d, IDC_BATTERY_PERIOD));
    EXPECT_EQ("77", gui::Text(d, IDC_READER_ID));
    EXPECT_EQ("6", gui::Text(d, IDC_CHANNEL_LIST));
    gui::ClickAsync(d, IDC_HEX_HISTORY);
    ASSERT_TRUE(ChooseInMenu(0, 2));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_HEX_TEXT) == "05"; }, kWaitMs));

    // Damaged: the channel stored as a text falls back to "0", silently.
    ASSERT_TRUE(session.Close());
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\RfidBench\\Pellfray", L"Channel",
                                             REG_SZ, L"6", 4));
    Start(true);
    EXPECT_EQ("0", gui::Text(d, IDC_CHANNEL_LIST));
    EXPECT_EQ("123", gui::Text(d, IDC_TAG_ID));
    EXPECT_FALSE(pellfray::MessageBoxShown(pid));
}

} // namespace
