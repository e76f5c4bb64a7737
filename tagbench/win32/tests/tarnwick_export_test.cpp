// Tarnwick's 导出标签表… end to end under Wine: the real program fed by the
// test playing the tag reader (COM3-COM300), the item picked from the system
// menu, the Save As dialog worked from here, and the CSV compared with what
// the grid shows page by page: titles, every row of every page, an offline
// tag; and a target that cannot be replaced. (A full table of 3000 tags is
// what tools/measure/tarnwick_export_measure times.) The file is UTF-8 while the grid's
// texts come through the ...A API in the system code page (GBK), so both
// sides are compared in UTF-8.
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
constexpr DWORD kWaitMs = 20000;
constexpr int kHeaderIds[kColumns] = {1046, 1083, 1084, 1085, 1086, 1087};

// Fifteen tags over two pages: tag 1000 from the two example reports, one
// with three extra bytes, an under-voltage one, plain ones and 0x80000000.
std::vector<uint8_t> Reports(uint32_t leave_out)
{
    std::vector<uint8_t> bytes;
    auto add = [&](uint32_t id, const std::vector<uint8_t> &f) {
        if (id != leave_out)
            bytes.insert(bytes.end(), f.begin(), f.end());
    };
    add(1000, kExampleReportFF);
    add(1000, kExampleReport55AA);
    add(1001, TagReport(Header::kFF, 1001, false, -45, {0x01, 0xAB, 0xFF}));
    add(1002, TagReport(Header::k55AA, 1002, true, -33));
    for (uint32_t id = 1003; id <= 1014; ++id)
        add(id, TagReport(id % 2 ? Header::kFF : Header::k55AA, id, false, static_cast<int8_t>(-20 - id % 30)));
    add(0x80000000u, TagReport(Header::kFF, 0x80000000u, false, -60));
    return bytes;
}

std::string Utf8Cell(const std::string &ansi)
{
    return save_as::AnsiToUtf8(ansi);
}

class TarnwickExport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RemoveForeignComPorts();
        reader_ = new TestComPort(kReaderPort);
        bench_ = new Tarnwick;
        started_ = bench_->Start();
    }
    static void TearDownTestSuite()
    {
        if (bench_ != nullptr) {
            EXPECT_TRUE(bench_->Quit());
        }
        delete bench_;
        delete reader_;
    }
    void SetUp() override
    {
        ASSERT_TRUE(reader_->IsOpen()) << "the reader's end COM" << kReaderPort;
        ASSERT_TRUE(started_) << "Tarnwick did not start";
        d = bench_->dialog;
        pid = bench_->program.pid();
        folder = save_as::MakeEmptyFolder("tarnwick-export");
    }

    // Opens the port (which empties the table) and waits for the indicator.
    void OpenPort()
    {
        if (gui::Text(d, kPortButton) != "关闭串口") {
            ASSERT_TRUE(bench_->ChoosePort(kBenchPort));
            bench_->PressPortButton();
        }
        ASSERT_EQ("关闭串口", gui::Text(d, kPortButton));
    }
    // Closing freezes the table: no ageing, and the grid keeps what it shows.
    void ClosePort()
    {
        bench_->PressPortButton();
        ASSERT_EQ("打开串口", gui::Text(d, kPortButton));
    }

    bool WaitTotal(int total)
    {
        const std::string want = std::to_string(total);
        return gui::WaitUntil([&] { return bench_->Labels()[1] == want; }, kWaitMs);
    }

    // The CSV the grid shows: titles, then every page from the first, with
    // an empty dB / cm cell taken as an offline tag. Leaves the grid on its
    // last page.
    std::string Shown()
    {
        std::string csv = "\xEF\xBB\xBF";
        for (int c = 0; c < kColumns; ++c)
            csv += Utf8Cell(gui::Text(d, kHeaderIds[c])) + ",";
        csv += u8"掉线\r\n";
        for (int page = 0; page < 300 && !gui::Text(d, CellId(0, 0)).empty() && gui::Text(d, CellId(0, 0)) != "1";
             ++page)
            gui::Click(d, kPrevPage);
        for (;;) {
            for (int r = 0; r < kRows; ++r) {
                const std::vector<std::string> row = bench_->Row(r);
                if (row[0].empty())
                    break;
                for (int c = 0; c < kColumns; ++c)
                    csv += Utf8Cell(row[c]) + ",";
                csv += row[4].empty() ? u8"是\r\n" : "\r\n";
            }
            const std::string first = gui::Text(d, CellId(0, 0));
            gui::Click(d, kNextPage);
            if (gui::Text(d, CellId(0, 0)) == first)
                return csv;
        }
    }

    // Picks 导出标签表… and saves to name in the test's folder; returns the
    // file's bytes.
    std::string Export(const std::string &name)
    {
        HWND dialog = save_as::OpenFromSystemMenu(bench_->main, pid, kWaitMs);
        if (dialog == nullptr)
            return "(no Save As dialog)";
        offered = save_as::FileName(dialog);
        save_as::SaveTo(dialog, folder + "\\" + name);
        EXPECT_TRUE(save_as::WaitDialogsGone(pid, kWaitMs)) << save_as::OpenDialogs(pid);
        return save_as::WaitFileBytes(folder + "\\" + name, kWaitMs);
    }

    static TestComPort *reader_;
    static Tarnwick *bench_;
    static bool started_;
    HWND d = nullptr;
    DWORD pid = 0;
    std::string folder;
    std::string offered;
};

TestComPort *TarnwickExport::reader_ = nullptr;
Tarnwick *TarnwickExport::bench_ = nullptr;
bool TarnwickExport::started_ = false;

TEST_F(TarnwickExport, FileHoldsEveryPageAsTheGridShowsIt)
{
    // Before any port is opened: titles only.
    EXPECT_EQ(u8"\xEF\xBB\xBF序号,卡号,欠压,附加数据,dB / cm,活跃次数,掉线\r\n", Export("empty.csv"));
    EXPECT_TRUE(std::regex_match(offered, std::regex("tarnwick-20[0-9]{6}-[0-9]{6}\\.csv"))) << offered;

    OpenPort();
    ASSERT_TRUE(reader_->Write(Reports(0)));
    ASSERT_TRUE(WaitTotal(16));
    // Tag 1007 falls silent while the others go on reporting, until the
    // grid shows it offline (its dB / cm cell empties after ten ticks).
    const std::vector<uint8_t> others = Reports(1007);
    DWORD last_sent = GetTickCount() - 1000;
    ASSERT_TRUE(gui::WaitUntil(
        [&] {
            if (GetTickCount() - last_sent >= 500) {
                reader_->Write(others);
                last_sent = GetTickCount();
            }
            return bench_->Row(7)[1] == "1007" && bench_->Row(7)[4].empty();
        },
        kWaitMs));
    ClosePort();

    const std::string saved = Export("tags.csv");
    const std::string shown = Shown();
    EXPECT_EQ(shown, saved);
    // The page the user was on does not limit the file, and the offline
    // row is marked.
    EXPECT_NE(std::string::npos, saved.find("\r\n16,2147483648,")) << saved;
    const size_t offline = saved.find(u8"\r\n8,1007,正常,,,");
    ASSERT_NE(std::string::npos, offline) << saved;
    EXPECT_EQ(u8",是\r\n", saved.substr(saved.find("\r\n", offline + 2) - 4, 6));
    EXPECT_EQ("empty.csv tags.csv", save_as::ListFolder(folder));
}

// A target that cannot be replaced, here because another program holds it
// open as a spreadsheet would: the box names the file and the reason, the
// old file stays as it was, no temporary file is left, and the program goes
// on.
TEST_F(TarnwickExport, TargetThatCannotBeReplacedIsReportedAndKept)
{
    const std::string path = folder + "\\held.csv";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    WriteFile(h, "old", 3, &written, nullptr);
    CloseHandle(h);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    HWND dialog = save_as::OpenFromSystemMenu(bench_->main, pid, kWaitMs);
    ASSERT_NE(nullptr, dialog);
    save_as::SaveTo(dialog, path);
    HWND question = save_as::WaitBox(pid, dialog, kWaitMs); // replace it?
    ASSERT_NE(nullptr, question);
    save_as::Press(question, IDYES);
    ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(question) && !IsWindow(dialog); }, kWaitMs));
    HWND failure = save_as::WaitBox(pid, nullptr, kWaitMs);
    ASSERT_NE(nullptr, failure);
    const std::string text = save_as::BoxText(failure);
    std::printf("target held open: %s\n", text.c_str());
    EXPECT_NE(std::string::npos, text.find("held.csv")) << text;
    save_as::Press(failure, IDOK);
    ASSERT_TRUE(save_as::WaitDialogsGone(pid, kWaitMs)) << save_as::OpenDialogs(pid);
    CloseHandle(held);

    std::string bytes;
    ASSERT_TRUE(save_as::ReadFileBytes(path, &bytes));
    EXPECT_EQ("old", bytes);
    EXPECT_EQ("held.csv", save_as::ListFolder(folder));
    EXPECT_EQ(0u, Export("after.csv").find("\xEF\xBB\xBF"));
}

} // namespace
