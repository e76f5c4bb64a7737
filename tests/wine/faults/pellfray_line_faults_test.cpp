// Pellfray under faults on the line and bad port names, end to end under
// Wine: the real Pellfray.exe opens COM6 from its dialog, the test plays the
// module on COM306 and asks the harness (wine-run-line-faults.sh) to pull
// the cable out, put it back, or hold the line. After every fault the
// program must still run, answer its window messages, and log only what
// happened.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tools/driver/pellfray_session.h"
#include "serial/crc16.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/line_faults.h"
#include "tools/driver/gui_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 6;
constexpr uint32_t kDevicePort = 306;
constexpr DWORD kWaitMs = 5000;

// The bytes of every log line of one direction, in order ("[ R hh:mm:ss ]"
// then " xx" per byte).
Bytes LoggedBytes(HWND d, char direction, int *lines_out = nullptr)
{
    Bytes bytes;
    int lines = 0;
    const int n = gui::ListCount(d, IDC_LOG_LIST);
    for (int i = 0; i < n; ++i) {
        const std::string line = gui::ListItem(d, IDC_LOG_LIST, i);
        if (line.size() < 16 || line[2] != direction)
            continue;
        ++lines;
        for (size_t p = 15; p + 2 <= line.size() - 2; p += 3)
            bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(p, 2), nullptr, 16)));
    }
    if (lines_out)
        *lines_out = lines;
    return bytes;
}

// A text counter that stopped moving for 500 ms.
std::string SettledText(HWND d, int id)
{
    std::string last, now = gui::Text(d, id);
    do {
        last = now;
        Sleep(500);
        now = gui::Text(d, id);
    } while (now != last);
    return now;
}

class PellfrayFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(session.Start(BENCH_TARGET_FILE_Pellfray, &why)) << why;
        d = session.dialog;
    }

    void TearDown() override
    {
        EXPECT_TRUE(faults::Running(session.program.process())) << "Pellfray ended during the test";
        EXPECT_TRUE(session.Close());
    }

    void OpenListedPort()
    {
        ASSERT_TRUE(pellfray::SelectPort(d, kProductPort));
        gui::Click(d, IDC_PORT_BUTTON);
        ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
    }

    void ExpectClosed()
    {
        EXPECT_EQ("打开串口", gui::Text(d, IDC_PORT_BUTTON));
        EXPECT_FALSE(gui::Enabled(d, IDC_HEX_SEND));
        EXPECT_FALSE(gui::Enabled(d, IDC_READER_MODE));
        EXPECT_FALSE(gui::Enabled(d, IDC_TAG_MODE));
    }

    pellfray::Session session;
    HWND d = nullptr;
};

// --- the cable disappears mid-stream and comes back -----------------------------

TEST_F(PellfrayFaults, CablePulledMidStreamThenReopenedLogsAgain)
{
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());
    OpenListedPort();

    // A counting stream in 50-byte writes every 5 ms until a write fails.
    std::atomic<bool> stop{false};
    std::atomic<size_t> written{0};
    Bytes stream(200000);
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::thread sender([&] {
        size_t at = 0;
        while (!stop.load() && at + 50 <= stream.size()) {
            if (!device.Write(stream.data() + at, 50, 1000))
                break;
            at += 50;
            written.store(at);
            Sleep(5);
        }
    });
    Sleep(800);
    ASSERT_EQ("ok", faults::LineFault("cut", kProductPort));
    Sleep(300);
    stop.store(true);
    sender.join();

    // Alive and answering; the log holds exactly a beginning of what was
    // written, and the counter agrees with it.
    faults::ResponsivenessProbe probe(d);
    const std::string received = SettledText(d, IDC_RX_COUNT);
    probe.Stop();
    EXPECT_TRUE(faults::Running(session.program.process()));
    EXPECT_EQ(0, probe.Hangs());
    EXPECT_LT(probe.LongestMs(), 2000.0);
    int lines = 0;
    const Bytes logged = LoggedBytes(d, 'R', &lines);
    EXPECT_EQ(std::to_string(logged.size()), received);
    ASSERT_GT(logged.size(), 0u) << "nothing arrived before the cut";
    ASSERT_LE(logged.size(), written.load());
    EXPECT_TRUE(std::equal(logged.begin(), logged.end(), stream.begin())) << "the log shows bytes never sent";
    EXPECT_EQ(lines, gui::ListCount(d, IDC_LOG_LIST)) << "only received lines";
    std::printf("cut after %zu bytes written: %zu logged in %d lines\n", written.load(), logged.size(), lines);

    // HEX send into the dead port returns within about a second.
    gui::SetText(d, IDC_HEX_TEXT, "01 02 03");
    const double click_ms = faults::RoundTripMs(gui::Control(d, IDC_HEX_SEND), BM_CLICK, 0, 0);
    EXPECT_GE(click_ms, 0.0);
    EXPECT_LT(click_ms, 3000.0);

    // Close; without a cable the port does not open and nothing changes.
    gui::Click(d, IDC_PORT_BUTTON);
    ExpectClosed();
    gui::Click(d, IDC_PORT_BUTTON);
    ExpectClosed();
    EXPECT_FALSE(pellfray::MessageBoxShown(session.program.pid()));

    // The cable is back: open, and the log receives again, byte for byte.
    ASSERT_EQ("ok", faults::LineFault("join", kProductPort));
    device.Close();
    ASSERT_TRUE(device.Open(kDevicePort));
    gui::Click(d, IDC_CLEAR_LOG);
    gui::Click(d, IDC_PORT_BUTTON);
    ASSERT_EQ("关闭串口", gui::Text(d, IDC_PORT_BUTTON));
    Bytes fresh(300);
    for (size_t i = 0; i < fresh.size(); ++i)
        fresh[i] = static_cast<uint8_t>(255 - i);
    ASSERT_TRUE(device.Write(fresh));
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_RX_COUNT) == "300"; }, kWaitMs))
        << gui::Text(d, IDC_RX_COUNT);
    EXPECT_EQ(fresh, LoggedBytes(d, 'R'));
    gui::SetText(d, IDC_HEX_TEXT, "A5 5A");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ((Bytes{0xA5, 0x5A}), device.Read(2, kWaitMs));
}

// --- a peer that takes nothing while Pellfray sends -------------------------------

TEST_F(PellfrayFaults, HeldLineKeepsHexSendAndConfigAnswerBounded)
{
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());
    OpenListedPort();
    std::string hex;
    for (int i = 0; i < 300; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", i & 0xFF);
        hex += pair;
    }
    gui::SetText(d, IDC_HEX_TEXT, hex);

    ASSERT_EQ("ok", faults::LineFault("hold", kProductPort));
    faults::ResponsivenessProbe probe(d);
    double longest_click = 0;
    for (int i = 0; i < 4; ++i) {
        const double ms = faults::RoundTripMs(gui::Control(d, IDC_HEX_SEND), BM_CLICK, 0, 0);
        ASSERT_GE(ms, 0.0) << "HEX发送 did not return within 10 s";
        longest_click = std::max(longest_click, ms);
    }

    // The configuration answer is written by the processing thread: bounded
    // too, and the status follows.
    gui::Click(d, IDC_TAG_MODE);
    gui::SetText(d, IDC_TAG_ID, "9");
    gui::SetText(d, IDC_SEND_PERIOD, "5");
    gui::SetText(d, IDC_BATTERY_PERIOD, "1");
    gui::Click(d, IDC_MODIFY);
    ASSERT_EQ("等待生效", gui::Text(d, IDC_CONFIG_STATUS));
    Bytes wake = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x09, 0, 0};
    PutCrc16(&wake[7], Crc16Modbus(wake.data(), 7));
    ASSERT_TRUE(device.Write(wake));
    EXPECT_TRUE(gui::WaitUntil([&] { return gui::Text(d, IDC_CONFIG_STATUS) == "完成配置"; }, 3000));
    probe.Stop();

    EXPECT_TRUE(faults::Running(session.program.process()));
    EXPECT_EQ(0, probe.Hangs());
    EXPECT_LT(probe.LongestMs(), 3000.0);
    EXPECT_GT(longest_click, 500.0) << "the hold did not stall the writes: the test proved nothing";
    EXPECT_LT(longest_click, 3000.0);
    std::printf("held line: HEX send clicks up to %.0f ms, longest GUI round trip %.0f ms over %d answers\n",
                longest_click, probe.LongestMs(), probe.Answers());

    // Released: the line carries again. What the given-up writes left is
    // drained; a new send arrives whole and last.
    ASSERT_EQ("ok", faults::LineFault("release", kProductPort));
    const Bytes stale = device.ReadUntilQuiet(500, 3000);
    std::printf("after the release the device received %zu bytes of the given-up writes\n", stale.size());
    gui::SetText(d, IDC_HEX_TEXT, "C3 3C");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ((Bytes{0xC3, 0x3C}), device.ReadUntilQuiet(300, 3000));
}

// --- port names typed by hand ------------------------------------------------------

TEST_F(PellfrayFaults, TypedPortNamesThatOpenNothing)
{
    const std::vector<std::string> names = {
        "COM77",                      // no such port
        "",                           // the path "\\.\" alone
        "~!@#$%^&(",                  // 9 characters of junk
        "..\\..\\..\\",               // 9 characters that climb a path
        "COM6zzzzzzzzzzzzzzzz",       // a real port's name with a tail: 9 characters are used
        std::string(400, 'Q'),        // far longer than the 9 read
    };
    for (const std::string &name : names) {
        SCOPED_TRACE("typed '" + name.substr(0, 24) + (name.size() > 24 ? "...'" : "'"));
        // Typed, the field takes what fits its width (it does not scroll);
        // set as a whole, it holds all of it. Neither opens anything.
        pellfray::TypePortName(d, name);
        const std::string typed = gui::Text(pellfray::PortField(d));
        EXPECT_EQ(name.substr(0, typed.size()), typed);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (attempt == 1)
                SendMessageA(pellfray::PortField(d), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
            EXPECT_EQ(attempt == 0 ? typed : name, gui::Text(pellfray::PortField(d)));
            const double ms = faults::RoundTripMs(gui::Control(d, IDC_PORT_BUTTON), BM_CLICK, 0, 0);
            EXPECT_GE(ms, 0.0);
            ExpectClosed();
            EXPECT_FALSE(pellfray::MessageBoxShown(session.program.pid()));
            ASSERT_TRUE(faults::Running(session.program.process()));
        }
    }

    // Still usable: the listed port opens and carries bytes.
    TestComPort device(kDevicePort);
    ASSERT_TRUE(device.IsOpen());
    OpenListedPort();
    gui::SetText(d, IDC_HEX_TEXT, "7E");
    gui::Click(d, IDC_HEX_SEND);
    EXPECT_EQ(Bytes{0x7E}, device.Read(1, kWaitMs));
}

} // namespace
