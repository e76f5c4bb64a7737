// Pellfray end to end under Wine: the real Pellfray.exe, driven from this
// process through its dialog's controls, with the test playing the module on
// the far end of a null-modem pair (Pellfray's COM5 <-> the test's COM305;
// a second pair COM12 <-> COM306 is there for the port list and a typed port
// name) and a Winsock client on the debug console.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tools/driver/pellfray_session.h"
#include "serial/crc16.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 5;
constexpr uint32_t kDevicePort = 305;
constexpr uint32_t kSecondProductPort = 12;
constexpr uint32_t kSecondDevicePort = 306;
constexpr DWORD kWaitMs = 5000;
// How long the device listens to be sure that nothing was sent.
constexpr DWORD kQuietMs = 400;

Bytes WakeUpFrame(uint8_t x, uint8_t y)
{
    Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, x, y, 0, 0};
    PutCrc16(&frame[7], Crc16Modbus(frame.data(), 7));
    return frame;
}

const Bytes kTagConfigId1 = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x05, 0x0A, 0x9C, 0x92};

enum class State { Closed, Reader, TagEditing, TagLocked };

// Which controls each state leaves enabled.
void ExpectState(HWND d, State s)
{
    const bool open = s != State::Closed;
    const bool reader = s == State::Reader;
    const bool editing = s == State::TagEditing;
    const bool tag = s == State::TagEditing || s == State::TagLocked;
    for (int id : {IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PORT_BUTTON, IDC_HEX_TEXT, IDC_CLEAR_LOG, IDC_LOG_LIST})
        EXPECT_TRUE(gui::Enabled(d, id)) << id;
    for (int id : {IDC_READER_MODE, IDC_TAG_MODE, IDC_HEX_SEND})
        EXPECT_EQ(open, gui::Enabled(d, id)) << id;
    for (int id : {IDC_READER_ID, IDC_CHANNEL_LIST, IDC_TRANSPARENT})
        EXPECT_EQ(reader, gui::Enabled(d, id)) << id;
    for (int id : {IDC_CREATE_TIMEOUT, IDC_EXIT_TIMEOUT})
        EXPECT_FALSE(gui::Enabled(d, id)) << id;
    for (int id : {IDC_TAG_ID, IDC_SEND_PERIOD, IDC_BATTERY_PERIOD})
        EXPECT_EQ(editing, gui::Enabled(d, id)) << id;
    EXPECT_EQ(tag, gui::Enabled(d, IDC_MODIFY));
    EXPECT_EQ(open ? "关闭串口" : "打开串口", gui::Text(d, IDC_PORT_BUTTON));
}

std::vector<std::string> LogLines(HWND d)
{
    std::vector<std::string> lines;
    const int n = gui::ListCount(d, IDC_LOG_LIST);
    for (int i = 0; i < n; ++i)
        lines.push_back(gui::ListItem(d, IDC_LOG_LIST, i));
    return lines;
}

// "[ R hh:mm:ss ] 01 ab\r\n" with any valid time.
bool IsLogLine(const std::string &line, char direction, const std::string &hex)
{
    const std::regex pattern(std::string("\\[ ") + direction +
                             " ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] \\]" + hex + "\r\n");
    return std::regex_match(line, pattern);
}

class PellfrayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override
    {
        ASSERT_TRUE(device.Open(kDevicePort));
        std::string why;
        ASSERT_TRUE(session.Start(BENCH_TARGET_FILE_Pellfray, &why)) << why;
        d = session.dialog;
        pid = session.program.pid();
    }

    void TearDown() override { EXPECT_TRUE(session.Close()); }

    void Open(uint32_t port = kProductPort)
    {
        ASSERT_TRUE(pellfray::SelectPort(d, port));
        gui::Click(d, IDC_PORT_BUTTON);
        ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
    }

    // Presses a button whose handler shows a message box; returns the text
    // of the box and closes it.
    std::string ClickExpectingBox(int id)
    {
        gui::ClickAsync(d, id);
        HWND box = pellfray::WaitMessageBox(pid, kWaitMs);
        if (box == nullptr)
            return "(no message box)";
        const std::string text = pellfray::MessageBoxText(box);
        pellfray::PressOk(box);
        EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(box); }, kWaitMs));
        return text;
    }

    void FillTagFields(const std::string &id, const std::string &send, const std::string &battery)
    {
        gui::SetText(d, IDC_TAG_ID, id);
        gui::SetText(d, IDC_SEND_PERIOD, send);
        gui::SetText(d, IDC_BATTERY_PERIOD, battery);
    }

    // Sets a field's text, puts the caret at its end as a user would find
    // it, and types.
    void TypeAtEnd(int id, const std::string &start, const std::string &typed)
    {
        gui::SetText(d, id, start);
        SendMessageA(gui::Control(d, id), EM_SETSEL, start.size(), start.size());
        gui::Type(d, id, typed);
    }

    bool WaitStatus(const std::string &text)
    {
        return gui::WaitUntil([&] { return gui::Text(d, IDC_CONFIG_STATUS) == text; }, kWaitMs);
    }

    bool WaitLogCount(int n)
    {
        return gui::WaitUntil([&] { return gui::ListCount(d, IDC_LOG_LIST) == n; }, kWaitMs);
    }

    TestComPort device;
    pellfray::Session session;
    HWND d = nullptr;
    DWORD pid = 0;
};

// --- the dialog as it first appears ------------------------------------------

struct TemplateControl {
    int id; // -1: a static without its own identifier
    const char *cls;
    const char *caption; // null: not compared (lists, and texts the start-up replaces)
    int x, y, w, h;
    DWORD style; // WS_CHILD | WS_VISIBLE implied
};

constexpr DWORD kLabel = WS_GROUP | SS_LEFT;
constexpr DWORD kPush = WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

const TemplateControl kTemplate[42] = {
    {-1, "Static", "串口号：", 334, 15, 37, 14, kLabel},
    {1003, "ComboBox", nullptr, 376, 13, 48, 78, WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT},
    {-1, "Static", "波特率：", 334, 31, 37, 14, kLabel},
    {1004, "ComboBox", nullptr, 376, 29, 48, 72, WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN},
    {1005, "Button", "打开串口", 435, 17, 49, 21, kPush},
    {1006, "Button", " 读卡器", 337, 57, 59, 14, WS_GROUP | BS_AUTORADIOBUTTON},
    {1007, "Button", " 电子标签", 410, 57, 53, 14, BS_AUTORADIOBUTTON},
    {-1, "Button", "模式选择", 322, 48, 176, 26, BS_GROUPBOX},
    {-1, "Static", "ID号：", 334, 90, 33, 13, kLabel},
    {1008, "Edit", "", 378, 87, 48, 12, kEdit},
    {-1, "Static", "信道：", 334, 106, 34, 12, kLabel},
    {1009, "ComboBox", nullptr, 378, 104, 48, 93, WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT},
    {-1, "Static", "创建超时：", 334, 122, 45, 13, kLabel},
    {1010, "Edit", "10", 378, 120, 48, 12, kEdit | WS_DISABLED},
    {-1, "Static", "退出超时：", 334, 139, 41, 15, kLabel},
    {1011, "Edit", "30", 378, 137, 48, 12, kEdit | WS_DISABLED},
    {1012, "Button", "切换透传", 435, 91, 49, 21, kPush},
    {-1, "Static", "ID号：", 334, 171, 33, 13, kLabel},
    {1013, "Edit", "", 378, 168, 48, 12, kEdit | WS_DISABLED},
    {-1, "Static", "发送周期：", 334, 187, 44, 11, kLabel},
    {-1, "Static", "秒", 432, 123, 13, 12, kLabel},
    {-1, "Static", "秒", 432, 138, 13, 12, kLabel},
    {1014, "Edit", "", 378, 185, 48, 12, kEdit | WS_DISABLED},
    {-1, "Static", "电量测量周期：", 334, 203, 60, 14, kLabel},
    {1015, "Edit", "", 392, 202, 34, 12, kEdit | WS_DISABLED},
    {-1, "Static", "秒（1 - 255）", 432, 187, 50, 12, kLabel},
    {-1, "Static", "分钟（0 - 255）", 432, 204, 57, 12, kLabel},
    {1016, "Edit", "", 7, 274, 415, 13, WS_BORDER | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN},
    {-1, "Static", "S : ", 325, 252, 11, 10, kLabel},
    {1020, "Static", "0", 337, 252, 27, 10, kLabel},
    {-1, "Static", "R：", 378, 252, 13, 11, kLabel},
    {1021, "Static", "0", 390, 252, 32, 10, kLabel},
    {1017, "Button", "清空窗口", 435, 244, 49, 21, kPush},
    {1018, "Button", "HEX发送", 435, 267, 49, 21, kPush},
    {-1, "Button", "串口配置", 322, 3, 176, 44, BS_GROUPBOX},
    {-1, "Button", "读卡器参数配置", 321, 75, 176, 80, BS_GROUPBOX},
    {-1, "Button", "标签配置参数", 321, 157, 176, 86, BS_GROUPBOX},
    {-1, "Static", "（1 - 1000000）", 428, 170, 64, 13, kLabel},
    {1019, "Button", "修改", 435, 217, 49, 21, kPush | WS_DISABLED},
    {1000, "ListBox", nullptr, 7, 7, 304, 254, WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT},
    {-1, "Static", "状态：", 334, 229, 29, 12, kLabel},
    {1023, "Static", "未配置", 356, 229, 36, 10, kLabel},
};

TEST_F(PellfrayTest, DialogAsItFirstAppears)
{
    // The dialog: a visible child without caption in the main window's
    // top-left corner.
    const LONG dialog_style = GetWindowLongA(d, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_CHILD | WS_VISIBLE | WS_SYSMENU),
              dialog_style & (WS_CHILD | WS_VISIBLE | WS_SYSMENU | WS_CAPTION | WS_POPUP));
    RECT client;
    GetClientRect(d, &client);
    POINT origin = {0, 0};
    ClientToScreen(d, &origin);
    POINT main_origin = {0, 0};
    ClientToScreen(session.main, &main_origin);
    EXPECT_EQ(main_origin.x, origin.x);
    EXPECT_EQ(main_origin.y, origin.y);

    // Dialog units to pixels, from the dialog's own 509 x 294.
    const double sx = client.right / 509.0;
    const double sy = client.bottom / 294.0;
    ASSERT_GT(sx, 1.0);

    // Every control in creation order (the z-order of the children).
    int index = 0;
    for (HWND c = GetWindow(d, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT), ++index) {
        ASSERT_LT(index, 42) << "more than 42 controls";
        const TemplateControl &t = kTemplate[index];
        SCOPED_TRACE("control #" + std::to_string(index + 1) + " id " + std::to_string(t.id));
        EXPECT_EQ(t.id == -1 ? 0xFFFF : t.id, GetDlgCtrlID(c) & 0xFFFF);
        char cls[32] = {};
        GetClassNameA(c, cls, sizeof cls);
        EXPECT_STRCASEEQ(t.cls, cls);
        if (t.caption != nullptr) {
            EXPECT_EQ(t.caption, gui::Text(c));
        }
        // The exact styles are checked in the template itself (below); combo
        // and list boxes drop scroll and border bits from their own window.
        const DWORD style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
        EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_VISIBLE), style & (WS_CHILD | WS_VISIBLE));
        // Disabled by the template, or by the start-up (Closed state).
        const bool disabled_at_start = (t.style & WS_DISABLED) != 0 || t.id == 1006 || t.id == 1007 ||
                                       t.id == 1008 || t.id == 1009 || t.id == 1012 || t.id == 1018;
        EXPECT_EQ(disabled_at_start, (style & WS_DISABLED) != 0) << "enabled state";
        const std::string cls_name = t.cls;
        if (cls_name == "Button") {
            EXPECT_EQ(t.style & 0x0F, style & 0x0F) << "button kind";
        }
        if (cls_name == "Static") {
            EXPECT_EQ(t.style & 0x1F, style & 0x1F) << "static kind";
        }

        RECT r;
        GetWindowRect(c, &r);
        POINT tl = {r.left, r.top};
        ScreenToClient(d, &tl);
        EXPECT_NEAR(t.x * sx, tl.x, 2.0);
        EXPECT_NEAR(t.y * sy, tl.y, 2.0);
        EXPECT_NEAR(t.w * sx, r.right - r.left, 2.0);
        if (cls_name != "ComboBox") { // a combo's window is its closed height
            EXPECT_NEAR(t.h * sy, r.bottom - r.top, 2.0);
        }
    }
    EXPECT_EQ(42, index);

    // Start-up values of the lists and fields.
    EXPECT_EQ((std::vector<std::string>{"COM12", "COM5"}), gui::ComboItems(d, IDC_PORT_LIST));
    EXPECT_EQ(0, gui::ComboSelection(d, IDC_PORT_LIST));
    EXPECT_EQ("COM12", gui::Text(d, IDC_PORT_LIST));
    EXPECT_EQ((std::vector<std::string>{"9600", "19200", "38400", "115200"}), gui::ComboItems(d, IDC_BAUD_LIST));
    EXPECT_EQ("115200", gui::Text(d, IDC_BAUD_LIST));
    EXPECT_EQ((std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7"}), gui::ComboItems(d, IDC_CHANNEL_LIST));
    EXPECT_EQ("0", gui::Text(d, IDC_CHANNEL_LIST));
    EXPECT_TRUE(gui::Checked(d, IDC_READER_MODE));
    EXPECT_FALSE(gui::Checked(d, IDC_TAG_MODE));
    EXPECT_EQ(0, gui::ListCount(d, IDC_LOG_LIST));
    ExpectState(d, State::Closed);
}

// The template as built into Pellfray.exe, read from its resources: the
// dialog's header and font, and every control's class, identifier, caption,
// style and rectangle, exactly.
std::string Narrow(const wchar_t *text)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Reads a sz_Or_Ord field; ordinal classes come back as their names.
std::string ReadNameOrOrdinal(const WORD *&p)
{
    if (*p == 0xFFFF) {
        const WORD ordinal = p[1];
        p += 2;
        switch (ordinal) {
        case 0x80: return "Button";
        case 0x81: return "Edit";
        case 0x82: return "Static";
        case 0x83: return "ListBox";
        case 0x85: return "ComboBox";
        default: return "#" + std::to_string(ordinal);
        }
    }
    const wchar_t *text = reinterpret_cast<const wchar_t *>(p);
    const std::string out = Narrow(text);
    p += wcslen(text) + 1;
    return out;
}

TEST(PellfrayTemplate, Dialog129AsBuilt)
{
    HMODULE exe = LoadLibraryExA(BENCH_TARGET_FILE_Pellfray, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, exe);
    HRSRC found = FindResourceA(exe, MAKEINTRESOURCEA(129), MAKEINTRESOURCEA(5)); // RT_DIALOG
    ASSERT_NE(nullptr, found);
    const auto *p = static_cast<const WORD *>(LockResource(LoadResource(exe, found)));
    ASSERT_NE(nullptr, p);

    ASSERT_EQ(1, p[0]);      // DIALOGEX
    ASSERT_EQ(0xFFFF, p[1]);
    const DWORD *header = reinterpret_cast<const DWORD *>(p + 2);
    const DWORD style = header[2];
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_SYSMENU | DS_SETFONT), style);
    p = reinterpret_cast<const WORD *>(header + 3);
    const WORD count = p[0];
    EXPECT_EQ(42, count);
    const short *frame = reinterpret_cast<const short *>(p + 1);
    EXPECT_EQ(0, frame[0]);
    EXPECT_EQ(0, frame[1]);
    EXPECT_EQ(509, frame[2]);
    EXPECT_EQ(294, frame[3]);
    p += 5;
    EXPECT_EQ("", ReadNameOrOrdinal(p)); // menu
    EXPECT_EQ("", ReadNameOrOrdinal(p)); // class
    EXPECT_EQ("", ReadNameOrOrdinal(p)); // caption
    EXPECT_EQ(10, p[0]);                 // points
    p += 3;                              // size, weight, italic + charset
    EXPECT_EQ("微软雅黑", ReadNameOrOrdinal(p));

    for (int i = 0; i < count && i < 42; ++i) {
        const TemplateControl &t = kTemplate[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " id " + std::to_string(t.id));
        p = reinterpret_cast<const WORD *>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t{3});
        const DWORD *item = reinterpret_cast<const DWORD *>(p);
        EXPECT_EQ(0u, item[1]) << "extended style";
        EXPECT_EQ(t.style | WS_CHILD | WS_VISIBLE, item[2]);
        const short *rect = reinterpret_cast<const short *>(item + 3);
        EXPECT_EQ((std::vector<int>{t.x, t.y, t.w, t.h}), (std::vector<int>{rect[0], rect[1], rect[2], rect[3]}));
        EXPECT_EQ(static_cast<DWORD>(t.id), *reinterpret_cast<const DWORD *>(rect + 4));
        p = reinterpret_cast<const WORD *>(rect + 6);
        EXPECT_STRCASEEQ(t.cls, ReadNameOrOrdinal(p).c_str());
        const std::string caption = ReadNameOrOrdinal(p);
        const char *template_caption = t.id == 1010 || t.id == 1011 ? ""
                                       : t.id == 1020                 ? "200"
                                       : t.id == 1021                 ? "400"
                                       : t.caption ? t.caption : "";
        EXPECT_EQ(template_caption, caption);
        const WORD extra = p[0];
        p = reinterpret_cast<const WORD *>(reinterpret_cast<const BYTE *>(p + 1) + extra);
    }
    FreeLibrary(exe);
}

// --- ports ----------------------------------------------------------------------

TEST_F(PellfrayTest, PortButtonOpensListedOrTypedPortsAndFailsSilently)
{
    // A port that does not exist: no message, still closed.
    pellfray::TypePortName(d, "COM99");
    gui::Click(d, IDC_PORT_BUTTON);
    EXPECT_FALSE(pellfray::MessageBoxShown(pid));
    ExpectState(d, State::Closed);

    // A typed name opens like a listed one: COM12, reached through COM306.
    TestComPort second(kSecondDevicePort);
    ASSERT_TRUE(second.IsOpen());
    pellfray::TypePortName(d, "COM12");
    gui::Click(d, IDC_PORT_BUTTON);
    ExpectState(d, State::Reader);
    gui::SetText(d, IDC_HEX_TEXT, "A5");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ(Bytes{0xA5}, second.Read(1, kWaitMs));

    gui::Click(d, IDC_PORT_BUTTON);
    ExpectState(d, State::Closed);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
}

// --- reader mode ------------------------------------------------------------------

TEST_F(PellfrayTest, ReaderModeSwitchesTransparentModeWithOneFrame)
{
    Open();
    ExpectState(d, State::Reader);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));

    // No ID: a message, nothing sent.
    EXPECT_EQ("ID号不能为空", ClickExpectingBox(IDC_TRANSPARENT));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    EXPECT_EQ(0, gui::ListCount(d, IDC_LOG_LIST));

    gui::Type(d, IDC_READER_ID, "1");
    gui::Click(d, IDC_TRANSPARENT);
    const Bytes frame = {0x55, 0xAA, 0x03, 0x07, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x1E, 0xB2, 0xD8};
    EXPECT_EQ(frame, device.Read(13, kWaitMs));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty()) << "exactly 13 bytes";
    ASSERT_EQ(1, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 0), 'S', " 55 aa 03 07 00 00 00 01 00 0a 1e b2 d8"))
        << gui::ListItem(d, IDC_LOG_LIST, 0);
    EXPECT_EQ("13", gui::Text(d, IDC_TX_COUNT));
    EXPECT_EQ("0", gui::Text(d, IDC_RX_COUNT));

    // The chosen channel goes into byte 8.
    ASSERT_TRUE(gui::ComboSelect(d, IDC_CHANNEL_LIST, "3"));
    gui::Click(d, IDC_TRANSPARENT);
    const Bytes second = device.Read(13, kWaitMs);
    ASSERT_EQ(13u, second.size());
    EXPECT_EQ(0x03, second[8]);
    EXPECT_EQ(Crc16Modbus(&second[2], 9), GetCrc16(&second[11]));
    EXPECT_EQ("26", gui::Text(d, IDC_TX_COUNT));

    // What the reader answers later is logged as received.
    Sleep(50);
    ASSERT_TRUE(device.Write(Bytes{0x55, 0xAA, 0x00}));
    ASSERT_TRUE(WaitLogCount(3));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 2), 'R', " 55 aa 00"));
    EXPECT_EQ("3", gui::Text(d, IDC_RX_COUNT));
}

// --- tag configuration ------------------------------------------------------------

TEST_F(PellfrayTest, TagConfigurationArmAnswerUnlockAndDisarm)
{
    Open();
    gui::Click(d, IDC_TAG_MODE);
    ExpectState(d, State::TagEditing);

    // Empty fields are reported one at a time, in order; nothing is armed.
    EXPECT_EQ("ID号不能为空", ClickExpectingBox(IDC_MODIFY));
    gui::Type(d, IDC_TAG_ID, "1");
    EXPECT_EQ("发送周期不能为空", ClickExpectingBox(IDC_MODIFY));
    gui::Type(d, IDC_SEND_PERIOD, "5");
    EXPECT_EQ("电量测量周期不能为空", ClickExpectingBox(IDC_MODIFY));
    ExpectState(d, State::TagEditing);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    gui::Type(d, IDC_BATTERY_PERIOD, "10");

    // Arm: waiting, fields locked, nothing sent yet.
    gui::Click(d, IDC_MODIFY);
    EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    ExpectState(d, State::TagLocked);
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());

    // The tag wakes up: answered with the 12-byte frame, logged R then S.
    const Bytes wake = WakeUpFrame(0x12, 0x34);
    ASSERT_TRUE(device.Write(wake));
    EXPECT_EQ(kTagConfigId1, device.Read(12, kWaitMs));
    ASSERT_TRUE(WaitStatus("完成配置"));
    ASSERT_TRUE(WaitLogCount(2));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 0), 'R', " ff ff ff ff 00 12 34 [0-9a-f]{2} [0-9a-f]{2}"));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 1), 'S', " ff ff ff ff 00 00 00 01 05 0a 9c 92"));
    EXPECT_EQ("9", gui::Text(d, IDC_RX_COUNT));
    EXPECT_EQ("12", gui::Text(d, IDC_TX_COUNT));
    ExpectState(d, State::TagLocked);

    // A second wake-up is only logged.
    ASSERT_TRUE(device.Write(wake));
    ASSERT_TRUE(WaitLogCount(3));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    EXPECT_EQ("完成配置", gui::Text(d, IDC_CONFIG_STATUS));

    // 修改 again unlocks.
    gui::Click(d, IDC_MODIFY);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    ExpectState(d, State::TagEditing);

    // Armed, then unlocked before the tag wakes: nothing is sent.
    gui::Click(d, IDC_MODIFY);
    EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    gui::Click(d, IDC_MODIFY);
    ASSERT_TRUE(device.Write(wake));
    ASSERT_TRUE(WaitLogCount(4));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());

    // Armed, then 读卡器 chosen: disarmed, the wake-up is only logged.
    gui::Click(d, IDC_MODIFY);
    gui::Click(d, IDC_READER_MODE);
    ExpectState(d, State::Reader);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    ASSERT_TRUE(device.Write(wake));
    ASSERT_TRUE(WaitLogCount(5));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());

    // 电子标签 again while locked re-enables the fields (the state stays).
    gui::Click(d, IDC_TAG_MODE);
    gui::Click(d, IDC_MODIFY);
    ExpectState(d, State::TagLocked);
    gui::Click(d, IDC_TAG_MODE);
    EXPECT_TRUE(gui::Enabled(d, IDC_TAG_ID));
    EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));

    // Closing while armed shows 未配置; reopening (tag still marked) disarms,
    // so the next wake-up gets no configuration.
    gui::Click(d, IDC_PORT_BUTTON);
    ExpectState(d, State::Closed);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_TRUE(gui::Checked(d, IDC_TAG_MODE));
    gui::Click(d, IDC_PORT_BUTTON);
    ExpectState(d, State::TagEditing);
    const int before = gui::ListCount(d, IDC_LOG_LIST);
    ASSERT_TRUE(device.Write(wake));
    ASSERT_TRUE(WaitLogCount(before + 1));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
}

// --- hex send, log and clear --------------------------------------------------------

TEST_F(PellfrayTest, HexSendLogsWhatItSendsAndClearZeroes)
{
    Open();
    gui::SetText(d, IDC_HEX_TEXT, "01 02 0A FF ");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ((Bytes{0x01, 0x02, 0x0A, 0xFF}), device.Read(4, kWaitMs));
    ASSERT_EQ(1, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 0), 'S', " 01 02 0a ff"));
    EXPECT_EQ("4", gui::Text(d, IDC_TX_COUNT));

    // Pair reading of typed text, and the decided handling of pasted text:
    // lower case and line breaks are accepted ...
    for (const auto &c : std::vector<std::pair<std::string, Bytes>>{
             {"ABC", {0xAB}}, {"A BC", {0xBC}}, {"0102", {0x01, 0x02}}, {"0a\r\n0b\tff", {0x0A, 0x0B, 0xFF}}}) {
        gui::SetText(d, IDC_HEX_TEXT, c.first);
        gui::Click(d, IDC_HEX_SEND);
        EXPECT_EQ(c.second, device.Read(static_cast<uint32_t>(c.second.size()), kWaitMs)) << c.first;
    }
    EXPECT_EQ("11", gui::Text(d, IDC_TX_COUNT));
    EXPECT_EQ(5, gui::ListCount(d, IDC_LOG_LIST));

    // ... spaces alone send nothing, anything else is a format error.
    gui::SetText(d, IDC_HEX_TEXT, "   ");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_FALSE(pellfray::MessageBoxShown(pid));
    gui::SetText(d, IDC_HEX_TEXT, "01 0G");
    EXPECT_EQ("HEX数据格式错误", ClickExpectingBox(IDC_HEX_SEND));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    EXPECT_EQ(5, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_EQ("11", gui::Text(d, IDC_TX_COUNT));

    // Received chunks count too; 清空窗口 empties both, and counting starts
    // again from 0.
    ASSERT_TRUE(device.Write(Bytes{1, 2, 3, 4, 5}));
    ASSERT_TRUE(WaitLogCount(6));
    EXPECT_EQ("5", gui::Text(d, IDC_RX_COUNT));
    gui::Click(d, IDC_CLEAR_LOG);
    EXPECT_EQ(0, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_EQ("0", gui::Text(d, IDC_TX_COUNT));
    EXPECT_EQ("0", gui::Text(d, IDC_RX_COUNT));
    ASSERT_TRUE(device.Write(Bytes{0xAB, 0xCD}));
    ASSERT_TRUE(WaitLogCount(1));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 0), 'R', " ab cd"));
    EXPECT_EQ("2", gui::Text(d, IDC_RX_COUNT));
    EXPECT_EQ("0", gui::Text(d, IDC_TX_COUNT));
}

// A burst larger than one queue slot: every byte is logged and counted once.
TEST_F(PellfrayTest, LongChunksAreLoggedWholeAcrossSlots)
{
    Open();
    Bytes burst(1000);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(device.Write(burst));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_RX_COUNT) == "1000"; }, kWaitMs))
        << gui::Text(d, IDC_RX_COUNT);
    Bytes logged;
    for (const std::string &line : LogLines(d)) {
        ASSERT_LE(line.size(), 14 + 3 * 255 + 2u);
        for (size_t i = 15; i + 1 < line.size() - 2; i += 3)
            logged.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    EXPECT_EQ(burst, logged);
}

// --- keystroke filters --------------------------------------------------------------

TEST_F(PellfrayTest, TypedKeysFollowEachFieldsRules)
{
    Open();
    struct Case {
        int id;
        std::string start;
        std::string typed;
        std::string expected;
    };
    const std::vector<Case> reader_cases = {
        {IDC_READER_ID, "", "0", ""},
        {IDC_READER_ID, "", "1a-. 2", "12"},
        {IDC_READER_ID, "", "10000000", "1000000"},
        {IDC_READER_ID, "100000", "1", "100000"},
        {IDC_READER_ID, "12", "\x03\x16", "12"},
        {IDC_READER_ID, "12", "\b", "1"},
    };
    for (const Case &c : reader_cases) {
        TypeAtEnd(c.id, c.start, c.typed);
        EXPECT_EQ(c.expected, gui::Text(d, c.id)) << c.id << " '" << c.start << "' + '" << c.typed << "'";
    }

    gui::Click(d, IDC_TAG_MODE);
    const std::vector<Case> tag_cases = {
        {IDC_TAG_ID, "", "01000000", "1000000"},
        {IDC_TAG_ID, "1000000", "0", "1000000"},
        {IDC_SEND_PERIOD, "", "0", ""},
        {IDC_SEND_PERIOD, "", "255", "255"},
        {IDC_SEND_PERIOD, "25", "6", "25"},
        {IDC_SEND_PERIOD, "26", "0", "26"},
        {IDC_BATTERY_PERIOD, "", "0", "0"},
        {IDC_BATTERY_PERIOD, "0", "5\b", ""},
        {IDC_BATTERY_PERIOD, "", "256", "25"},
        {IDC_HEX_TEXT, "", "abcd", "AB CD"},
        {IDC_HEX_TEXT, "", "ab c d", "AB C D"},
        {IDC_HEX_TEXT, "", "0a1b2c", "0A 1B 2C"},
        {IDC_HEX_TEXT, "AB", "G", "AB "},
        {IDC_HEX_TEXT, "AB", "\r", "AB "},
        {IDC_HEX_TEXT, "AB ", "C", "AB C"},
        {IDC_HEX_TEXT, "", "x\x03", ""},
    };
    for (const Case &c : tag_cases) {
        TypeAtEnd(c.id, c.start, c.typed);
        EXPECT_EQ(c.expected, gui::Text(d, c.id)) << c.id << " '" << c.start << "' + '" << c.typed << "'";
    }

    // The maximum test takes the digit as appended, wherever the caret is.
    gui::SetText(d, IDC_SEND_PERIOD, "99");
    SendMessageA(gui::Control(d, IDC_SEND_PERIOD), EM_SETSEL, 0, 0);
    gui::Type(d, IDC_SEND_PERIOD, "1");
    EXPECT_EQ("99", gui::Text(d, IDC_SEND_PERIOD));
    gui::SetText(d, IDC_SEND_PERIOD, "5");
    SendMessageA(gui::Control(d, IDC_SEND_PERIOD), EM_SETSEL, 0, 0);
    gui::Type(d, IDC_SEND_PERIOD, "0");
    EXPECT_EQ("05", gui::Text(d, IDC_SEND_PERIOD));

    // The hex field takes digits up to 1024 characters, then only spaces and
    // backspace; an added space moves the caret to the end.
    gui::SetText(d, IDC_HEX_TEXT, std::string(1024, 'A'));
    gui::Type(d, IDC_HEX_TEXT, "1");
    EXPECT_EQ(std::string(1024, 'A') + " 1", gui::Text(d, IDC_HEX_TEXT));
    gui::Type(d, IDC_HEX_TEXT, "2 \b");
    EXPECT_EQ(std::string(1024, 'A') + " 1", gui::Text(d, IDC_HEX_TEXT));
    gui::SetText(d, IDC_HEX_TEXT, "ABCD");
    SendMessageA(gui::Control(d, IDC_HEX_TEXT), EM_SETSEL, 0, 0);
    gui::Type(d, IDC_HEX_TEXT, "E");
    EXPECT_EQ("ABCD E", gui::Text(d, IDC_HEX_TEXT));
}

// --- the debug console ----------------------------------------------------------------

TEST_F(PellfrayTest, ConsoleOnPort23AnswersAndReportsDamagedFrames)
{
    EXPECT_TRUE(pellfray::Port23Taken()) << "Pellfray listens on port 23";
    pellfray::ConsoleClient console;
    ASSERT_TRUE(console.Connect());
    EXPECT_EQ("", console.ReadFor(200)) << "no greeting";
    ASSERT_TRUE(console.Send("\r"));
    EXPECT_EQ("->", console.Read(2, kWaitMs));
    ASSERT_TRUE(console.Send("help\r"));
    const std::string help = "\r\n---------- help ------------\r\n->";
    EXPECT_EQ(help, console.Read(help.size(), kWaitMs));

    Open();
    gui::Click(d, IDC_TAG_MODE);
    FillTagFields("7", "9", "3");
    gui::Click(d, IDC_MODIFY);
    ASSERT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));

    // A wake-up frame with a wrong CRC: logged, reported, not answered, and
    // the configuration stays armed.
    Bytes damaged = WakeUpFrame(0x01, 0x02);
    damaged[8] ^= 0xFF;
    ASSERT_TRUE(device.Write(damaged));
    EXPECT_EQ("check error\r\n", console.Read(13, kWaitMs));
    ASSERT_TRUE(WaitLogCount(1));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));

    // The good one is then answered (ID 7, 9 s, 3 min).
    ASSERT_TRUE(device.Write(WakeUpFrame(0x01, 0x02)));
    const Bytes answer = device.Read(12, kWaitMs);
    ASSERT_EQ(12u, answer.size());
    EXPECT_EQ((Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x07, 0x09, 0x03}), Bytes(answer.begin(), answer.begin() + 10));
    EXPECT_EQ(Crc16Modbus(answer.data(), 10), GetCrc16(&answer[10]));
    EXPECT_TRUE(WaitStatus("完成配置"));
    EXPECT_EQ("", console.ReadFor(200)) << "nothing else on the console";
}

} // namespace
