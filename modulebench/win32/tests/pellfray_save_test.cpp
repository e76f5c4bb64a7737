// Pellfray's 保存日志… end to end under Wine: the real program with traffic
// in its log (the test plays the module on the far end of a null-modem
// pair), the item picked from the system menu, the Save As dialog worked
// from here, and the file compared with what the window shows. The file is
// UTF-8 while this program's narrow literals are GBK, hence the u8 texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tools/driver/pellfray_session.h"
#include "tools/driver/save_as_driver.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/gui_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 5;
constexpr uint32_t kDevicePort = 305;
constexpr DWORD kWaitMs = 10000;

class PellfraySaveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override
    {
        ASSERT_TRUE(device.Open(kDevicePort));
        std::string why;
        ASSERT_TRUE(session.Start(BENCH_TARGET_FILE_Pellfray, &why)) << why;
        d = session.dialog;
        pid = session.program.pid();
        folder = save_as::MakeEmptyFolder("pellfray-save");
    }

    void TearDown() override { EXPECT_TRUE(session.Close()); }

    bool WaitLogCount(int n)
    {
        return gui::WaitUntil([&] { return gui::ListCount(d, IDC_LOG_LIST) == n; }, kWaitMs);
    }

    // What the window shows, as the file should hold it: every list entry
    // (each ends in CR LF), then the two counters beside their labels.
    std::string Shown() const
    {
        std::string text = "\xEF\xBB\xBF";
        const int n = gui::ListCount(d, IDC_LOG_LIST);
        for (int i = 0; i < n; ++i)
            text += gui::ListItem(d, IDC_LOG_LIST, i);
        text += "S : " + gui::Text(d, IDC_TX_COUNT) + u8"    R：" + gui::Text(d, IDC_RX_COUNT) + "\r\n";
        return text;
    }

    // Picks 保存日志…, saves to name in the test's folder and waits for the
    // dialog to close; returns the default name the dialog offered.
    std::string SaveAs(const std::string &name)
    {
        HWND dialog = save_as::OpenFromSystemMenu(session.main, pid, kWaitMs);
        if (dialog == nullptr)
            return "(no Save As dialog)";
        const std::string offered = save_as::FileName(dialog);
        save_as::SaveTo(dialog, folder + "\\" + name);
        EXPECT_TRUE(save_as::WaitDialogsGone(pid, kWaitMs)) << save_as::OpenDialogs(pid);
        return offered;
    }

    std::string FileText(const std::string &name) const
    {
        return save_as::WaitFileBytes(folder + "\\" + name, kWaitMs);
    }

    TestComPort device;
    pellfray::Session session;
    HWND d = nullptr;
    DWORD pid = 0;
    std::string folder;
};

TEST_F(PellfraySaveTest, LogFileHoldsWhatTheWindowShows)
{
    // Nothing logged yet: the counter line alone. Cancelling writes nothing.
    HWND dialog = save_as::OpenFromSystemMenu(session.main, pid, kWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(std::regex_match(save_as::FileName(dialog), std::regex("pellfray-20[0-9]{6}-[0-9]{6}\\.log")))
        << save_as::FileName(dialog);
    save_as::Cancel(dialog);
    ASSERT_TRUE(save_as::WaitDialogsGone(pid, kWaitMs));
    EXPECT_EQ("", save_as::ListFolder(folder));

    const std::string offered = SaveAs("empty.log");
    EXPECT_TRUE(std::regex_match(offered, std::regex("pellfray-20[0-9]{6}-[0-9]{6}\\.log"))) << offered;
    EXPECT_EQ(u8"\xEF\xBB\xBFS : 0    R：0\r\n", FileText("empty.log"));

    // Traffic both ways.
    ASSERT_TRUE(pellfray::SelectPort(d, kProductPort));
    gui::Click(d, IDC_PORT_BUTTON);
    ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
    gui::SetText(d, IDC_HEX_TEXT, "01 02 0A FF");
    gui::Click(d, IDC_HEX_SEND);
    ASSERT_TRUE(device.Write(Bytes{0xAB, 0xCD, 0xEF}));
    ASSERT_TRUE(WaitLogCount(2));
    gui::SetText(d, IDC_HEX_TEXT, "55");
    gui::Click(d, IDC_HEX_SEND);
    ASSERT_TRUE(WaitLogCount(3));
    ASSERT_EQ("5", gui::Text(d, IDC_TX_COUNT));
    ASSERT_EQ("3", gui::Text(d, IDC_RX_COUNT));

    SaveAs("traffic.log");
    const std::string saved = FileText("traffic.log");
    EXPECT_EQ(Shown(), saved);
    EXPECT_NE(std::string::npos, saved.find(" ab cd ef\r\n")) << saved;

    // Saving over an older file replaces it after the question; nothing but
    // the targets is left in the folder.
    gui::Click(d, IDC_CLEAR_LOG);
    ASSERT_TRUE(WaitLogCount(0));
    dialog = save_as::OpenFromSystemMenu(session.main, pid, kWaitMs);
    ASSERT_NE(nullptr, dialog);
    save_as::SaveTo(dialog, folder + "\\traffic.log");
    HWND question = save_as::WaitBox(pid, dialog, kWaitMs);
    ASSERT_NE(nullptr, question);
    save_as::Press(question, IDYES);
    ASSERT_TRUE(save_as::WaitDialogsGone(pid, kWaitMs)) << save_as::OpenDialogs(pid);
    const std::string cleared = u8"\xEF\xBB\xBFS : 0    R：0\r\n";
    EXPECT_TRUE(gui::WaitUntil([&] { return FileText("traffic.log") == cleared; }, kWaitMs))
        << FileText("traffic.log");
    EXPECT_EQ("empty.log traffic.log", save_as::ListFolder(folder));
}

} // namespace
