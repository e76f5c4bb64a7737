// Pellfray's batch configuration end to end under Wine: the real program,
// its batch window worked as an operator would, the test playing one tag
// after another on the far end of the module's cable (Pellfray's COM5 <->
// the test's COM305), and the journal read back from the disk.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "serial/crc16.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"
#include "tools/driver/pellfray_batch_driver.h"
#include "tools/driver/pellfray_session.h"
#include "tools/driver/save_as_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 5;
constexpr uint32_t kDevicePort = 305;
constexpr DWORD kWaitMs = 5000;
constexpr DWORD kQuietMs = 400;
constexpr DWORD kSaveWaitMs = 20000;

const std::string kBom = "\xEF\xBB\xBF";
const std::string kHeader = u8"时间,ID号,发送周期,电量测量周期,结果\r\n";
const std::string kTime = "20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}";

Bytes WakeUp()
{
    Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x12, 0x34, 0, 0};
    PutCrc16(&frame[7], Crc16Modbus(frame.data(), 7));
    return frame;
}

Bytes ConfigFrame(uint32_t id)
{
    Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8),
                   static_cast<uint8_t>(id), 5, 10, 0, 0};
    PutCrc16(&frame[10], Crc16Modbus(frame.data(), 10));
    return frame;
}

// ".." in a regex stands for any time of a row.
std::regex Lines(const std::string &pattern)
{
    return std::regex(std::regex_replace(pattern, std::regex("<t>"), kTime));
}

class PellfrayBatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override
    {
        ASSERT_TRUE(device.Open(kDevicePort));
        std::string why;
        ASSERT_TRUE(session.Start(BENCH_TARGET_FILE_Pellfray, &why)) << why;
        d = session.dialog;
        pid = session.program.pid();
        folder = save_as::MakeEmptyFolder("pellfray-batch");
        ASSERT_TRUE(pellfray::SelectPort(d, kProductPort));
        gui::Click(d, IDC_PORT_BUTTON);
        ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
        gui::Click(d, IDC_TAG_MODE);
        w = batch::Open(session.main, pid, kWaitMs);
        ASSERT_NE(nullptr, w);
    }

    void TearDown() override { EXPECT_TRUE(session.Close()); }

    void StartBatch(const batch::Fields &fields, const std::string &path)
    {
        batch::Fill(w, fields);
        ASSERT_TRUE(batch::Start(w, pid, path, kSaveWaitMs));
        ASSERT_TRUE(batch::WaitState(w, "等待标签唤醒", kWaitMs)) << batch::State(w);
    }

    // The main dialog shows the ID armed, locked, waiting.
    void ExpectArmed(uint32_t id)
    {
        EXPECT_EQ(std::to_string(id), gui::Text(d, IDC_TAG_ID));
        EXPECT_FALSE(gui::Enabled(d, IDC_TAG_ID));
        EXPECT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    }

    // The tag wakes and gets exactly the frame for id.
    void WakeAndExpect(uint32_t id)
    {
        ASSERT_TRUE(device.Write(WakeUp()));
        EXPECT_EQ(ConfigFrame(id), device.Read(12, kWaitMs)) << "ID " << id;
        char text[64];
        std::snprintf(text, sizeof text, "已配置 ID %u，请换下一个标签", static_cast<unsigned>(id));
        EXPECT_TRUE(batch::WaitState(w, text, kWaitMs)) << batch::State(w);
    }

    // The tag wakes and gets nothing.
    void WakeAndExpectNothing()
    {
        const int lines = gui::ListCount(d, IDC_LOG_LIST);
        ASSERT_TRUE(device.Write(WakeUp()));
        EXPECT_TRUE(device.ReadUntilQuiet(kQuietMs, kQuietMs).empty());
        EXPECT_EQ(lines + 1, gui::ListCount(d, IDC_LOG_LIST)) << "the wake-up is logged";
    }

    std::string Journal(const std::string &path)
    {
        std::string bytes;
        save_as::ReadFileBytes(path, &bytes);
        return bytes;
    }

    // The journal's writer flushes each row as soon as it gets it.
    bool JournalMatches(const std::string &path, const std::regex &pattern)
    {
        return gui::WaitUntil([&] { return std::regex_match(Journal(path), pattern); }, kWaitMs);
    }

    TestComPort device;
    pellfray::Session session;
    HWND d = nullptr;
    HWND w = nullptr;
    DWORD pid = 0;
    std::string folder;
};

// 手动: a range without its end refused with a message; each ID armed
// through the main dialog, given to one tag, journalled
// and flushed at once; the configured tag waking again gets nothing; Enter
// arms the next; 停止 disarms and ends the journal with its stop line.
TEST_F(PellfrayBatchTest, ManualGivesEachIdOnceAndJournalsIt)
{
    // A range without its end is refused before any file is asked for.
    batch::Fill(w, {"7", "", "", "1"});
    gui::ClickAsync(w, IDC_BATCH_START);
    HWND box = save_as::WaitBox(pid, w, kWaitMs);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("结束ID号或数量不能为空", pellfray::MessageBoxText(box));
    pellfray::PressOk(box);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(box); }, kWaitMs));
    EXPECT_EQ("未开始", batch::State(w));

    const std::string path = folder + "\\run.csv";
    StartBatch({"7", "9", "", "1"}, path);
    ExpectArmed(7);
    WakeAndExpect(7);
    EXPECT_EQ("完成配置", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_EQ("已配置 1 / 3", batch::Text(w, IDC_BATCH_PROGRESS));
    EXPECT_TRUE(JournalMatches(path, Lines(kBom + kHeader + "<t>,7,5,10," + u8"已配置\r\n")))
        << Journal(path);
    WakeAndExpectNothing();

    batch::PressEnter(w);
    ASSERT_TRUE(batch::WaitState(w, "等待标签唤醒", kWaitMs)) << batch::State(w);
    ExpectArmed(8);
    EXPECT_EQ("当前ID号：8（等待生效）", batch::Text(w, IDC_BATCH_CURRENT));
    WakeAndExpect(8);

    gui::Click(w, IDC_BATCH_NEXT);
    gui::Click(w, IDC_BATCH_STOP);
    EXPECT_EQ("已停止", batch::State(w));
    EXPECT_EQ("未配置", gui::Text(d, IDC_CONFIG_STATUS));
    EXPECT_TRUE(gui::Enabled(d, IDC_TAG_ID));
    WakeAndExpectNothing();
    EXPECT_TRUE(JournalMatches(path, Lines(kBom + kHeader + "<t>,7,5,10," + u8"已配置\r\n<t>,8,5,10," +
                                                      u8"已配置\r\n停止 <t>,,,,本次已配置 2 个；范围 7 - 9（步长 1）已配置 2 / 3\r\n")))
        << Journal(path);
    EXPECT_EQ(3, gui::ListCount(w, IDC_BATCH_ROWS));
}

// 自动, continuing a journal: its IDs are skipped (a row whose frame did
// not go out gives nothing), a wake-up in the pause is only logged, the
// next ID is armed when the pause is over, and the last ID ends the run.
TEST_F(PellfrayBatchTest, AutomaticContinuesFromItsJournal)
{
    const std::string path = folder + "\\continued.csv";
    const std::string before = kBom + kHeader + u8"2026-12-07 08:00:00.000,1,5,10,已配置\r\n" +
                               u8"2026-12-07 08:00:01.000,2,5,10,未能发出：串口未打开\r\n" +
                               u8"2026-12-07 08:00:02.000,3,5,10,已配置\r\n";
    {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, f);
        DWORD written = 0;
        WriteFile(f, before.data(), static_cast<DWORD>(before.size()), &written, nullptr);
        CloseHandle(f);
    }
    StartBatch({"1", "", "4", "1", "5", "10", true, "2"}, path);
    EXPECT_EQ(3, gui::ListCount(w, IDC_BATCH_ROWS));
    ExpectArmed(2);
    WakeAndExpect(2);
    WakeAndExpectNothing();
    ASSERT_TRUE(batch::WaitState(w, "等待标签唤醒", kWaitMs)) << batch::State(w);
    ExpectArmed(4);
    ASSERT_TRUE(device.Write(WakeUp()));
    EXPECT_EQ(ConfigFrame(4), device.Read(12, kWaitMs));
    EXPECT_TRUE(batch::WaitState(w, "已完成", kWaitMs)) << batch::State(w);
    EXPECT_EQ("已配置 4 / 4", batch::Text(w, IDC_BATCH_PROGRESS));
    EXPECT_TRUE(JournalMatches(path, Lines(before + "<t>,2,5,10," + u8"已配置\r\n<t>,4,5,10," +
                                                      u8"已配置\r\n停止 <t>,,,,已完成；本次已配置 2 个；范围 1 - 4（步长 1）已配置 4 / 4\r\n")))
        << Journal(path);
}

// A pulled adapter pauses the run; when the port comes back by itself the
// same ID is armed again, said in the log, and the next tag gets it.
TEST_F(PellfrayBatchTest, APulledAdapterPausesAndTheSameIdIsArmedAgain)
{
    StartBatch({"20", "", "5", "2"}, folder + "\\pulled.csv");
    WakeAndExpect(20);
    batch::PressEnter(w);
    ASSERT_TRUE(batch::WaitState(w, "等待标签唤醒", kWaitMs));
    ExpectArmed(22);

    ASSERT_TRUE(PullComPair(kProductPort));
    HWND box = save_as::WaitBox(pid, w, kWaitMs);
    ASSERT_NE(nullptr, box) << "no message about the lost port";
    EXPECT_TRUE(batch::WaitState(w, "暂停", kWaitMs)) << batch::State(w);
    EXPECT_EQ("继续", batch::Text(w, IDC_BATCH_HOLD));

    ASSERT_TRUE(PlugComPair(kProductPort));
    ASSERT_TRUE(device.Open(kDevicePort));
    ASSERT_TRUE(batch::WaitState(w, "等待标签唤醒", kWaitMs)) << batch::State(w);
    ExpectArmed(22);
    const std::string note = gui::ListItem(d, IDC_LOG_LIST, gui::ListCount(d, IDC_LOG_LIST) - 1);
    EXPECT_NE(std::string::npos, note.find("批量配置：串口已恢复，ID 22 重新等待生效")) << note;
    WakeAndExpect(22);
    pellfray::PressOk(box);
}

} // namespace
