// Pellfray end to end under Wine: the real Pellfray.exe, driven from this
// process through its dialog's controls, with the test playing the module on
// the far end of a null-modem pair (Pellfray's COM5 <-> the test's COM305;
// a second pair COM12 <-> COM306 is there for the port list and a typed port
// name) and a Winsock client on the debug console.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tools/driver/pellfray_session.h"
#include "tools/driver/save_as_driver.h"
#include "serial/crc16.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 5;
constexpr uint32_t kDevicePort = 305;
constexpr DWORD kWaitMs = 5000;
// How long the device listens to be sure that nothing was sent.
constexpr DWORD kQuietMs = 400;
constexpr DWORD kSaveWaitMs = 20000; // Save As dialogs are slow to come and go under Wine

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

    // The edit field of an editable list (port, speed, channel).
    HWND ComboField(int id) const { return FindWindowExA(gui::Control(d, id), nullptr, "Edit", nullptr); }

    // Sets an edit field's text, puts the caret at its end as a user would
    // find it, and types, key by key.
    static void TypeAtEnd(HWND edit, const std::string &start, const std::string &typed)
    {
        SetWindowTextA(edit, start.c_str());
        SendMessageA(edit, EM_SETSEL, start.size(), start.size());
        for (char c : typed)
            SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    }

    bool WaitStatus(const std::string &text)
    {
        return gui::WaitUntil([&] { return gui::Text(d, IDC_CONFIG_STATUS) == text; }, kWaitMs);
    }

    bool WaitLogCount(int n)
    {
        return gui::WaitUntil([&] { return gui::ListCount(d, IDC_LOG_LIST) == n; }, kWaitMs);
    }

    // The device sends a wake-up frame: logged, and nothing sent back.
    void ExpectWakeOnlyLogged(const Bytes &wake)
    {
        const int before = gui::ListCount(d, IDC_LOG_LIST);
        ASSERT_TRUE(device.Write(wake));
        ASSERT_TRUE(WaitLogCount(before + 1));
        EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    }

    // Picks 保存日志… from the system menu and saves to path; returns the
    // file's bytes.
    std::string SaveLog(const std::string &path)
    {
        HWND dialog = save_as::OpenFromSystemMenu(session.main, pid, kSaveWaitMs);
        if (dialog == nullptr)
            return "(no Save As dialog)";
        EXPECT_TRUE(std::regex_match(save_as::FileName(dialog), std::regex("pellfray-20[0-9]{6}-[0-9]{6}\\.log")))
            << save_as::FileName(dialog);
        save_as::SaveTo(dialog, path);
        EXPECT_TRUE(save_as::WaitDialogsGone(pid, kSaveWaitMs)) << save_as::OpenDialogs(pid);
        return save_as::WaitFileBytes(path, kSaveWaitMs);
    }

    // The log as the file should hold it: every list entry (each ends in
    // CR LF), then the two counters beside their labels. The file is UTF-8
    // while this program's narrow literals are GBK, hence the u8 texts.
    std::string ShownLog() const
    {
        std::string text = "\xEF\xBB\xBF";
        for (int i = 0; i < gui::ListCount(d, IDC_LOG_LIST); ++i)
            text += gui::ListItem(d, IDC_LOG_LIST, i);
        return text + "S : " + gui::Text(d, IDC_TX_COUNT) + u8"    R：" + gui::Text(d, IDC_RX_COUNT) + "\r\n";
    }

    TestComPort device;
    pellfray::Session session;
    HWND d = nullptr;
    DWORD pid = 0;
};

// The line speed the port runs at, read on a second handle to the same end
// (the settings belong to the device, and Wine does not refuse the handle).
DWORD PortSpeed(uint32_t n)
{
    HANDLE same = CreateFileA(ComDevicePath(n).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (same == INVALID_HANDLE_VALUE)
        return 0;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const BOOL read = GetCommState(same, &dcb);
    CloseHandle(same);
    return read ? dcb.BaudRate : 0;
}

// The speed chosen in the list, or typed into its field, is the speed the
// port runs at; a typed speed the list does not offer opens nothing, and a
// speed the port refuses is reported with the port left closed.
TEST_F(PellfrayTest, OpensAtTheChosenOrTypedSpeed)
{
    // What a user finds at start.
    ExpectState(d, State::Closed);
    EXPECT_EQ("115200", gui::Text(d, IDC_BAUD_LIST));
    EXPECT_EQ("0", gui::Text(d, IDC_CHANNEL_LIST));
    EXPECT_EQ("10", gui::Text(d, IDC_CREATE_TIMEOUT));
    EXPECT_EQ("30", gui::Text(d, IDC_EXIT_TIMEOUT));
    EXPECT_EQ("0", gui::Text(d, IDC_TX_COUNT));
    EXPECT_EQ("0", gui::Text(d, IDC_RX_COUNT));
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_TRUE(gui::Checked(d, IDC_READER_MODE));
    EXPECT_FALSE(gui::Checked(d, IDC_TAG_MODE));

    const std::pair<const char *, bool> speeds[] = {{"19200", false}, {"9600", true}};
    for (const auto &speed : speeds) {
        SCOPED_TRACE(std::string(speed.first) + (speed.second ? " typed" : " picked"));
        if (speed.second) {
            ASSERT_TRUE(gui::ComboSelect(d, IDC_BAUD_LIST, "115200"));
            TypeAtEnd(ComboField(IDC_BAUD_LIST), "", speed.first);
            ASSERT_EQ(speed.first, gui::Text(d, IDC_BAUD_LIST));
        } else {
            ASSERT_TRUE(gui::ComboSelect(d, IDC_BAUD_LIST, speed.first));
        }
        Open();
        EXPECT_EQ(ReadBackBaudRate(std::stoul(speed.first)), PortSpeed(kProductPort));
        gui::Click(d, IDC_PORT_BUTTON);
        ExpectState(d, State::Closed);
    }

    TypeAtEnd(ComboField(IDC_BAUD_LIST), "", "56000");
    EXPECT_EQ("波特率只能是 9600、19200、38400 或 115200", ClickExpectingBox(IDC_PORT_BUTTON));
    ExpectState(d, State::Closed);

    ASSERT_TRUE(RefuseComRate(38400));
    ASSERT_TRUE(gui::ComboSelect(d, IDC_BAUD_LIST, "38400"));
    ASSERT_TRUE(pellfray::SelectPort(d, kProductPort));
    const std::string refused = ClickExpectingBox(IDC_PORT_BUTTON);
    ASSERT_TRUE(RefuseComRate(0));
    EXPECT_NE(std::string::npos, refused.find("COM5")) << refused;
    EXPECT_NE(std::string::npos, refused.find("38400")) << refused;
    ExpectState(d, State::Closed);
}

// --- ports ----------------------------------------------------------------------

// (A typed name that names a port opens it as a listed one does: both are
// the field's text, which every open here reads.)
TEST_F(PellfrayTest, PortButtonSaysWhyANameOpensNothing)
{
    // Names that open nothing, however long or odd: a box says why, still
    // closed, still running. Only 9 characters of the field are read.
    const std::pair<std::string, std::string> cases[] = {
        {"COM99", "串口 COM99 不存在"},
        {"", "未选择串口"},
        {"..\\..\\..\\", "串口 ..\\..\\..\\ "},
        {"COM12zzzzzzzzzzzzzz", "串口 COM12zzzz "},
        {std::string(400, 'Q'), "串口 QQQQQQQQQ "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("'" + c.first.substr(0, 20) + "'");
        SendMessageA(pellfray::PortField(d), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.first.c_str()));
        const std::string text = ClickExpectingBox(IDC_PORT_BUTTON);
        EXPECT_EQ(0u, text.find(c.second)) << text;
        ExpectState(d, State::Closed);
    }
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

    // 修改 again unlocks.
    gui::Click(d, IDC_MODIFY);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    ExpectState(d, State::TagEditing);

    // Armed, then unlocked before the tag wakes: nothing is sent.
    gui::Click(d, IDC_MODIFY);
    EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    gui::Click(d, IDC_MODIFY);
    ExpectWakeOnlyLogged(wake);

    // Armed, then 读卡器 chosen: disarmed, the wake-up is only logged.
    gui::Click(d, IDC_MODIFY);
    gui::Click(d, IDC_READER_MODE);
    ExpectState(d, State::Reader);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    ExpectWakeOnlyLogged(wake);

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
    ExpectWakeOnlyLogged(wake);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));

    // A cable that takes nothing more from the program: the device stopped
    // reading and every buffer on the way is full (filled through a second
    // handle on the program's end, which Wine allows). Under Wine such a
    // write stays pending until the program's second runs out, and the
    // cancel leaves 0 bytes taken: no 完成配置, no S line, a note, and the
    // configuration still waits for the tag.
    gui::Click(d, IDC_MODIFY);
    ASSERT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    ASSERT_TRUE(StallComLine(kProductPort)) << "the cable never filled";
    const std::string tx_before = gui::Text(d, IDC_TX_COUNT);
    const int before = gui::ListCount(d, IDC_LOG_LIST);
    ASSERT_TRUE(device.Write(wake));
    ASSERT_TRUE(WaitLogCount(before + 2));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, before), 'R', " ff ff ff ff 00 12 34 [0-9a-f]{2} [0-9a-f]{2}"));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, before + 1), '!',
                          " 配置帧未能发出：1 秒内未能写完（已发出 0 / 12 字节）"));
    EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_EQ(tx_before, gui::Text(d, IDC_TX_COUNT));

    // The device reads again (the filler only, nothing of the answer); the
    // tag's next wake-up is answered with the frame still armed.
    const Bytes drained = device.ReadUntilQuiet(kQuietMs, 20000);
    EXPECT_TRUE(std::all_of(drained.begin(), drained.end(), [](uint8_t b) { return b == 0x5A; }));
    ASSERT_TRUE(device.Write(wake));
    EXPECT_EQ(kTagConfigId1, device.Read(12, kWaitMs));
    EXPECT_TRUE(WaitStatus("完成配置"));
    ASSERT_TRUE(WaitLogCount(before + 4));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, before + 3), 'S', " ff ff ff ff 00 00 00 01 05 0a 9c 92"));
}

// The keystroke filters judge each key as if appended at the end, and Paste
// is not filtered at all; so what a field holds is checked whole when it is
// used, and a value outside its range arms and sends nothing. A speed or
// channel typed into its list's field counts only when the list offers it.
TEST_F(PellfrayTest, ValuesOutsideTheirRangeAreRefusedWhenUsed)
{
    Open();
    gui::Click(d, IDC_TAG_MODE);
    FillTagFields("1", "12", "0");
    // A digit typed in front of 12: the filter saw 129, the field reads 912.
    SendMessageA(gui::Control(d, IDC_SEND_PERIOD), EM_SETSEL, 0, 0);
    gui::Type(d, IDC_SEND_PERIOD, "9");
    ASSERT_EQ("912", gui::Text(d, IDC_SEND_PERIOD));
    EXPECT_EQ("发送周期必须在1 - 255之间", ClickExpectingBox(IDC_MODIFY));
    ExpectState(d, State::TagEditing);

    // Pasted text, set here as the field's text, passes no filter.
    gui::SetText(d, IDC_SEND_PERIOD, "12");
    gui::SetText(d, IDC_TAG_ID, "16777217");
    EXPECT_EQ("ID号必须在1 - 1000000之间", ClickExpectingBox(IDC_MODIFY));
    FillTagFields("1", "12", "300");
    EXPECT_EQ("电量测量周期必须在0 - 255之间", ClickExpectingBox(IDC_MODIFY));
    ExpectState(d, State::TagEditing);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));

    // The tag wakes: nothing was armed, so nothing is sent.
    ExpectWakeOnlyLogged(WakeUpFrame(0x12, 0x34));
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));

    // Reader mode: an ID beyond its range or a channel the list lacks sends
    // nothing; a channel typed that the list has goes into byte 8.
    gui::Click(d, IDC_READER_MODE);
    gui::SetText(d, IDC_READER_ID, "2000000");
    EXPECT_EQ("ID号必须在1 - 1000000之间", ClickExpectingBox(IDC_TRANSPARENT));
    gui::SetText(d, IDC_READER_ID, "1");
    TypeAtEnd(ComboField(IDC_CHANNEL_LIST), "", "9");
    EXPECT_EQ("信道只能是 0 - 7", ClickExpectingBox(IDC_TRANSPARENT));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    TypeAtEnd(ComboField(IDC_CHANNEL_LIST), "", "5");
    gui::Click(d, IDC_TRANSPARENT);
    const Bytes frame = device.Read(13, kWaitMs);
    ASSERT_EQ(13u, frame.size());
    EXPECT_EQ(0x05, frame[8]);
    EXPECT_EQ("13", gui::Text(d, IDC_TX_COUNT));
}

// --- hex send, log, save and clear ---------------------------------------------------

// 保存日志… writes what the window shows. The port was left with XON/XOFF
// on by another program: Pellfray sets the whole line state, so 0x11 and
// 0x13 arrive like any byte.
TEST_F(PellfrayTest, HexSendLogsWhatItSendsSaveKeepsItAndClearZeroes)
{
    const std::string folder = save_as::MakeEmptyFolder("pellfray-save");
    EXPECT_EQ(u8"\xEF\xBB\xBFS : 0    R：0\r\n", SaveLog(folder + "\\empty.log"));
    ASSERT_TRUE(LeaveComPortInAnotherProgramsState(kProductPort)) << "XON/XOFF not taken: the test proves nothing";
    Open();
    gui::SetText(d, IDC_HEX_TEXT, "01 02 0A FF ");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ((Bytes{0x01, 0x02, 0x0A, 0xFF}), device.Read(4, kWaitMs));
    ASSERT_EQ(1, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_TRUE(IsLogLine(gui::ListItem(d, IDC_LOG_LIST, 0), 'S', " 01 02 0a ff"));
    EXPECT_EQ("4", gui::Text(d, IDC_TX_COUNT));

    // Spaces alone send nothing; anything not hex is a format error.
    gui::SetText(d, IDC_HEX_TEXT, "   ");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_FALSE(pellfray::MessageBoxShown(pid));
    gui::SetText(d, IDC_HEX_TEXT, "01 0G");
    EXPECT_EQ("HEX数据格式错误", ClickExpectingBox(IDC_HEX_SEND));
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
    EXPECT_EQ(1, gui::ListCount(d, IDC_LOG_LIST));
    EXPECT_EQ("4", gui::Text(d, IDC_TX_COUNT));

    // Received chunks count too; 清空窗口 empties both, and counting starts
    // again from 0.
    ASSERT_TRUE(device.Write(Bytes{0x11, 2, 0x13, 4, 5}));
    ASSERT_TRUE(WaitLogCount(2));
    EXPECT_EQ("5", gui::Text(d, IDC_RX_COUNT));
    const std::string saved = SaveLog(folder + "\\traffic.log");
    EXPECT_EQ(ShownLog(), saved);
    EXPECT_NE(std::string::npos, saved.find(" 11 02 13 04 05\r\n")) << saved;
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
    // Each field's filter with a case only its own rules decide.
    const Case cases[] = {
        {IDC_READER_ID, "", "01a-. 2", "12"},      {IDC_READER_ID, "12", "\b", "1"},
        {IDC_TAG_ID, "", "01000000", "1000000"},    {IDC_SEND_PERIOD, "25", "6", "25"},
        {IDC_BATTERY_PERIOD, "", "0", "0"},         {IDC_BATTERY_PERIOD, "", "256", "25"},
        {IDC_HEX_TEXT, "", "ab c0a1b", "AB C0 A1 B"}, {IDC_HEX_TEXT, "AB", "G", "AB "},
    };
    for (const Case &c : cases) {
        if (c.id == IDC_TAG_ID)
            gui::Click(d, IDC_TAG_MODE);
        TypeAtEnd(gui::Control(d, c.id), c.start, c.typed);
        EXPECT_EQ(c.expected, gui::Text(d, c.id)) << c.id << " '" << c.start << "' + '" << c.typed << "'";
    }
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

    // The good one is then answered.
    ASSERT_TRUE(device.Write(WakeUpFrame(0x01, 0x02)));
    EXPECT_EQ(12u, device.Read(12, kWaitMs).size());
    EXPECT_TRUE(WaitStatus("完成配置"));
    EXPECT_EQ("", console.ReadFor(200)) << "nothing else on the console";

    // A second Pellfray cannot have port 23: it says so in its log, once,
    // and runs on.
    {
        pellfray::Session second;
        std::string why;
        ASSERT_TRUE(second.Start(BENCH_TARGET_FILE_Pellfray, &why, false)) << why;
        ASSERT_TRUE(gui::WaitUntil([&] { return gui::ListCount(second.dialog, IDC_LOG_LIST) == 1; }, kWaitMs));
        const std::string note = gui::ListItem(second.dialog, IDC_LOG_LIST, 0);
        // (No regex: GBK bytes may look like its special characters.)
        const std::string said = "调试控制台未启动：TCP 端口 23 已被其他程序占用，本次运行没有控制台\r\n";
        EXPECT_EQ(0u, note.find("[ ! ")) << note;
        EXPECT_EQ(15 + said.size(), note.size()) << note;
        EXPECT_NE(std::string::npos, note.find(said)) << note;
        EXPECT_TRUE(second.Close());
    }

    // One client at a time: the next is served once the first says bye.
    pellfray::ConsoleClient next;
    ASSERT_TRUE(next.Connect());
    ASSERT_TRUE(next.Send("\r"));
    ASSERT_TRUE(console.Send("BYE\r"));
    EXPECT_EQ("->", next.Read(2, kWaitMs));
}

// --- a pulled adapter ------------------------------------------------------------

// The module's cable pulled out with a configuration armed: closed as the
// user's close would, one box and a log line naming the port. Plugged in
// again, it carries on at its speed in tag mode, disarmed as at any open,
// with a line in the log and the data flowing. Lost again while the box is
// up: no second box. While it is retried the list keeps it and follows the
// machine (a new pair, then a pair gone), and typing another port ends the
// retries.
TEST_F(PellfrayTest, APulledAdapterIsReportedOnceAndResumedInItsMode)
{
    ASSERT_TRUE(gui::ComboSelect(d, IDC_BAUD_LIST, "19200"));
    Open();
    gui::Click(d, IDC_TAG_MODE);
    FillTagFields("7", "9", "3");
    gui::Click(d, IDC_MODIFY);
    ASSERT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    auto last_line = [&] { return gui::ListItem(d, IDC_LOG_LIST, gui::ListCount(d, IDC_LOG_LIST) - 1); };

    ASSERT_TRUE(PullComPair(kProductPort));
    HWND box = pellfray::WaitMessageBox(pid, kWaitMs);
    ASSERT_NE(nullptr, box) << "no message about the lost port";
    EXPECT_NE(std::string::npos, pellfray::MessageBoxText(box).find("COM5"));
    ExpectState(d, State::Closed);
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_TRUE(gui::WaitUntil([&] { return last_line().find("COM5") != std::string::npos; }, kWaitMs))
        << last_line();

    // Back while the box is up: the same speed, tag mode, nothing armed.
    ASSERT_TRUE(PlugComPair(kProductPort));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_PORT_BUTTON) == "关闭串口"; }, kWaitMs));
    ASSERT_TRUE(device.Open(kDevicePort));
    ExpectState(d, State::TagEditing);
    EXPECT_EQ(19200u, PortSpeed(kProductPort));
    EXPECT_TRUE(IsLogLine(last_line(), '!', ".*COM5.*19200.*")) << last_line();
    const int lines = gui::ListCount(d, IDC_LOG_LIST);
    ASSERT_TRUE(device.Write(WakeUpFrame(3, 4)));
    ASSERT_TRUE(WaitLogCount(lines + 1));
    EXPECT_TRUE(IsLogLine(last_line(), 'R', " ff ff ff ff 00 03 04 [0-9a-f]{2} [0-9a-f]{2}")) << last_line();
    EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty()) << "answered with the frame armed before";

    // Lost again: closed again, still the one box.
    ASSERT_TRUE(PullComPair(kProductPort));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_PORT_BUTTON) == "打开串口"; }, kWaitMs));
    EXPECT_EQ(1, gui::CountPopups(pid));
    pellfray::PressOk(box);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::CountPopups(pid) == 0; }, kWaitMs));

    // Retrying: the list keeps COM5, and follows the machine when the user
    // opens it and when Windows announces a change.
    HWND list = gui::Control(d, IDC_PORT_LIST);
    ASSERT_TRUE(AddComPair(7, 307));
    SendMessageA(list, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(list, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ((std::vector<std::string>{"COM12", "COM5", "COM7"}), gui::ComboItems(d, IDC_PORT_LIST));
    ASSERT_TRUE(UnlinkComPort(7));
    SendMessageA(session.main, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    EXPECT_EQ((std::vector<std::string>{"COM12", "COM5"}), gui::ComboItems(d, IDC_PORT_LIST));

    // Another port typed: no more retries, even once COM5 is back.
    pellfray::TypePortName(d, "COM12");
    ASSERT_TRUE(PlugComPair(kProductPort));
    Sleep(1500); // more than a retry's period
    ExpectState(d, State::Closed);

    // "com5" typed is COM5: listed once, and Windows's removal of COM5 is
    // its loss, at once, though its driver still answers (its link is gone,
    // the open handle works on), handled after the broadcast returned; its
    // arrival by name reopens it within the broadcast.
    pellfray::TypePortName(d, "com5");
    gui::Click(d, IDC_PORT_BUTTON);
    ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
    SendMessageA(list, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(list, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ((std::vector<std::string>{"COM12", "COM5"}), gui::ComboItems(d, IDC_PORT_LIST));
    ASSERT_TRUE(UnlinkComPort(kProductPort));
    ASSERT_TRUE(SendPortDeviceChange(session.main, 0x8004 /* DBT_DEVICEREMOVECOMPLETE */, "COM5", kWaitMs))
        << "the broadcast was held (a box inside WM_DEVICECHANGE?)";
    box = pellfray::WaitMessageBox(pid, kWaitMs);
    ASSERT_NE(nullptr, box) << "no message about the removed port";
    EXPECT_NE(std::string::npos, pellfray::MessageBoxText(box).find("COM5"));
    ExpectState(d, State::Closed);
    pellfray::PressOk(box);
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::CountPopups(pid) == 0; }, kWaitMs));
    ASSERT_TRUE(RelinkComPort(kProductPort));
    ASSERT_TRUE(SendPortDeviceChange(session.main, 0x8000 /* DBT_DEVICEARRIVAL */, "COM5", kWaitMs));
    EXPECT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON)) << "not reopened on its arrival";
    EXPECT_TRUE(IsLogLine(last_line(), '!', ".*COM5.*")) << last_line();
}

} // namespace
