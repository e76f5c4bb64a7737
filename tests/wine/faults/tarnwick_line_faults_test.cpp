// Tarnwick under faults on the line, end to end under Wine: the real
// Tarnwick.exe opens COM3 from its dialog, the test plays the reader on
// COM303 and asks the harness (wine-run-line-faults.sh) to pull the cable
// out, put it back, or hold the line. After every fault the program must
// still run, answer its window messages, and show only what happened.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "serial/crc16.h"
#include "tools/driver/tarnwick_e2e.h"
#include "tools/driver/com_test_support.h"
#include "tools/driver/line_faults.h"
#include "tools/driver/gui_driver.h"

namespace {

using namespace tarnwick;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kProductPort = 3;
constexpr uint32_t kDevicePort = 303;

class TarnwickFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RemoveForeignComPorts(); }

    void SetUp() override
    {
        ASSERT_TRUE(t.Start());
        ASSERT_TRUE(device.Open(kDevicePort));
        OpenPort();
    }

    void TearDown() override
    {
        EXPECT_TRUE(faults::Running(t.program.process())) << "Tarnwick ended during the test";
        EXPECT_TRUE(t.Quit());
    }

    void OpenPort()
    {
        ASSERT_TRUE(t.ChoosePort(kProductPort));
        ASSERT_TRUE(t.ChooseSpeed("115200"));
        t.PressPortButton();
        ASSERT_EQ("关闭串口", gui::Text(t.dialog, kPortButton));
    }

    bool WaitTotal(const std::string &total, DWORD ms = kTimeoutMs)
    {
        return gui::WaitUntil([&] { return gui::Text(t.dialog, kTotalLabel) == total; }, ms);
    }

    // Every row of the table, paged through with 下一页 from page 0 (the
    // page an open leaves): ID column (as shown, unsigned) -> activity.
    // Call with the port closed, so that no tick ages the table meanwhile.
    std::map<std::string, long long> ReadTable(int *rows_out)
    {
        std::map<std::string, long long> table;
        int rows = 0;
        for (int page = 0; page < 1000; ++page) {
            const std::string first = t.Cell(0, 0);
            for (int r = 0; r < kRows; ++r) {
                if (t.Cell(r, 0).empty())
                    break;
                ++rows;
                table[t.Cell(r, 1)] += std::atoll(t.Cell(r, 5).c_str());
            }
            gui::Click(t.dialog, kNextPage);
            if (t.Cell(0, 0) == first)
                break;
        }
        *rows_out = rows;
        return table;
    }

    Tarnwick t;
    TestComPort device;
};

// --- the cable disappears mid-stream and comes back -----------------------------

TEST_F(TarnwickFaults, CablePulledMidStreamThenReopenedFillsTheTableAgain)
{
    // Reports for tags 1..40 in turn, ten every 10 ms, until a write fails.
    std::atomic<bool> stop{false};
    std::map<uint32_t, int> written; // ID -> reports whose write completed
    std::thread stream([&] {
        for (uint32_t n = 0; !stop.load(); ++n) {
            Bytes batch;
            std::vector<uint32_t> ids;
            for (int k = 0; k < 10; ++k, ++n) {
                const uint32_t id = 1 + n % 40;
                const Bytes f = TagReport(Header::kFF, id, false, -50);
                batch.insert(batch.end(), f.begin(), f.end());
                ids.push_back(id);
            }
            if (!device.Write(batch, 1000))
                break;
            for (uint32_t id : ids)
                written[id]++;
            Sleep(10);
        }
    });
    Sleep(800);
    ASSERT_EQ("ok", faults::LineFault("cut", kProductPort));
    Sleep(300);
    stop.store(true);
    stream.join();

    // The program lives and answers while its open port has no cable.
    faults::ResponsivenessProbe probe(t.dialog);
    Sleep(1500); // ticks of both timers on the dead port
    probe.Stop();
    EXPECT_TRUE(faults::Running(t.program.process()));
    EXPECT_EQ(0, probe.Hangs());
    EXPECT_LT(probe.LongestMs(), 2000.0);

    // Closing works and freezes the table; it holds only tags that reported,
    // each with no more reports than were written.
    t.PressPortButton();
    EXPECT_EQ("打开串口", gui::Text(t.dialog, kPortButton));
    EXPECT_EQ("未连接", gui::Text(t.dialog, kReaderLabel));
    int rows = 0;
    const auto table = ReadTable(&rows);
    EXPECT_GT(rows, 0) << "nothing arrived before the cut";
    EXPECT_LE(rows, 40);
    EXPECT_EQ(std::to_string(rows), gui::Text(t.dialog, kTotalLabel));
    for (const auto &entry : table) {
        const uint32_t id = static_cast<uint32_t>(std::stoul(entry.first));
        ASSERT_TRUE(written.count(id)) << "tag " << entry.first << " was never sent";
        EXPECT_LE(entry.second, written[id]) << "tag " << entry.first;
        EXPECT_GE(entry.second, 1) << "tag " << entry.first;
    }

    // Without its cable the port does not open; nothing changes.
    t.PressPortButton();
    EXPECT_EQ("打开串口", gui::Text(t.dialog, kPortButton));
    EXPECT_TRUE(gui::Enabled(t.dialog, kPortList));

    // The cable is back: the port opens onto it and the table fills again.
    ASSERT_EQ("ok", faults::LineFault("join", kProductPort));
    device.Close();
    ASSERT_TRUE(device.Open(kDevicePort));
    t.PressPortButton();
    ASSERT_EQ("关闭串口", gui::Text(t.dialog, kPortButton));
    EXPECT_EQ("0", gui::Text(t.dialog, kTotalLabel)) << "an open starts from an empty table";
    Bytes reports;
    for (int round = 0; round < 3; ++round)
        for (uint32_t id = 5001; id <= 5012; ++id) {
            const Bytes f = TagReport(round == 1 ? Header::k55AA : Header::kFF, id, false, -45);
            reports.insert(reports.end(), f.begin(), f.end());
        }
    ASSERT_TRUE(device.Write(reports));
    ASSERT_TRUE(WaitTotal("12", 3000)) << gui::Text(t.dialog, kTotalLabel);
    EXPECT_EQ("已连接", gui::Text(t.dialog, kReaderLabel));
    for (int r = 0; r < kRows; ++r) {
        EXPECT_EQ(std::to_string(5001 + r), t.Cell(r, 1));
        EXPECT_EQ("3", t.Cell(r, 5)) << "row " << r;
    }
}

// --- a peer that takes nothing while the reminder runs ---------------------------

TEST_F(TarnwickFaults, HeldLineWhileTheReminderRunsKeepsEveryWriteBounded)
{
    ReminderListener listener(&device);
    t.TypeInto(kStartIdEdit, "1000");
    t.TypeInto(kQuantityEdit, "80");
    gui::Click(t.dialog, kReminderButton);
    ASSERT_EQ("停止", gui::Text(t.dialog, kReminderButton));
    const auto before = listener.Collect(1500);
    ASSERT_GE(before.size(), 3u) << "the reminder sends before the fault";

    // The line is held: each reminder write stays pending until SerialWrite
    // gives it up. The GUI thread, which does the writing, must go on
    // answering within about a second each time.
    ASSERT_EQ("ok", faults::LineFault("hold", kProductPort));
    faults::ResponsivenessProbe probe(t.dialog);
    Sleep(4000);
    // Stopping the reminder and paging are handled in bounded time too.
    const double stop_ms = faults::RoundTripMs(t.dialog, WM_COMMAND, kReminderButton, 0);
    const double page_ms = faults::RoundTripMs(t.dialog, WM_COMMAND, kNextPage, 0);
    Sleep(2000); // the off pass, written into the held line
    probe.Stop();
    EXPECT_TRUE(faults::Running(t.program.process()));
    EXPECT_EQ(0, probe.Hangs());
    EXPECT_LT(probe.LongestMs(), 3000.0);
    EXPECT_GT(probe.LongestMs(), 500.0) << "the hold did not stall the writes: the test proved nothing";
    EXPECT_GE(probe.Answers(), 10);
    EXPECT_GE(stop_ms, 0.0);
    EXPECT_LT(stop_ms, 3000.0);
    EXPECT_GE(page_ms, 0.0);
    EXPECT_LT(page_ms, 3000.0);
    EXPECT_EQ("启动", gui::Text(t.dialog, kReminderButton));
    std::printf("held line: longest GUI round trip %.0f ms over %d answers; stop click %.0f ms, page click %.0f ms\n",
                probe.LongestMs(), probe.Answers(), stop_ms, page_ms);

    // Released: whatever the off pass still has goes out, then a new start
    // goes out whole.
    ASSERT_EQ("ok", faults::LineFault("release", kProductPort));
    listener.Drain(2500);
    t.TypeInto(kStartIdEdit, "7");
    t.TypeInto(kQuantityEdit, "1");
    gui::Click(t.dialog, kReminderButton);
    ASSERT_EQ("停止", gui::Text(t.dialog, kReminderButton));
    const Received start = listener.Next(2000);
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 7, 1, 1)), Hex(start.bytes)) << "the start frame after the release";
    const Received pass = listener.Next(2000);
    EXPECT_EQ(Hex(ReminderFrame(Header::kFF, 7, 1, 1)), Hex(pass.bytes)) << "the first pass after the release";
    gui::Click(t.dialog, kReminderButton);
}

// --- noise with valid frames mixed in, at line rate -------------------------------

// The frame assembler as specified: a 4-byte header window that slides one
// byte at a time, then a cut at 12 + (byte 8 >> 5). The noise generator uses
// it to know what the noise leaves half-assembled.
struct AssemblerModel {
    uint8_t buffer[20] = {};
    int fill = 0;

    // Feeds one byte; true when a frame was cut (copied to *frame).
    bool Feed(uint8_t b, Bytes *frame)
    {
        buffer[fill++] = b;
        if (fill < 4)
            return false;
        if (fill == 4) {
            const bool ff = buffer[0] == 0xFF && buffer[1] == 0xFF && buffer[2] == 0xFF && buffer[3] == 0xFF;
            if (!(buffer[0] == 0x55 && buffer[1] == 0xAA) && !ff) {
                std::copy(buffer + 1, buffer + 4, buffer);
                fill = 3;
            }
            return false;
        }
        if (fill >= 12 + (buffer[8] >> 5)) {
            frame->assign(buffer, buffer + fill);
            fill = 0;
            return true;
        }
        return false;
    }

    // Nothing held could begin a header: a following true frame is found
    // from its first byte.
    bool Clean() const
    {
        if (fill > 3)
            return false;
        for (int i = 0; i < fill; ++i)
            if (buffer[i] == 0x55 || buffer[i] == 0xFF)
                return false;
        return true;
    }
};

// The table's CRC rule for a cut frame.
bool CrcValid(const Bytes &f)
{
    const size_t from = (f[0] == 0xFF && f[1] == 0xFF) ? 0 : 2;
    return Crc16Modbus(f.data() + from, f.size() - 2 - from) == GetCrc16(&f[f.size() - 2]);
}

// A stream of valid reports with noise between them. The noise holds any
// byte value, and a third of the runs start with a false header (55 AA or
// FF FF FF FF) so that the assembler cuts false frames and has to find its
// way back. What the noise must not do is take a true frame's first bytes
// into a false header or a false frame: that loss is the specified price of
// noise, not a fault. So after each run the stream carries as many 00 bytes
// as the assembler (modelled above) needs to finish whatever the noise left
// half-assembled, and a run whose false frames would pass the CRC check is
// drawn again. Every true frame then must be counted.
struct NoisyStream {
    Bytes bytes;
    std::map<uint32_t, int> reports; // ID -> true reports in the stream
    size_t noise_bytes = 0;
    size_t false_headers = 0;
};

NoisyStream MakeNoisyStream(uint32_t first_id, uint32_t tags, std::mt19937 &rng)
{
    NoisyStream s;
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < tags; ++i) {
        const int n = 20 + static_cast<int>(rng() % 11);
        for (int k = 0; k < n; ++k)
            order.push_back(first_id + i);
    }
    std::shuffle(order.begin(), order.end(), rng);
    AssemblerModel model;
    Bytes cut;
    for (uint32_t id : order) {
        if (rng() % 2 == 0) {
            for (;;) {
                AssemblerModel trial = model;
                Bytes noise;
                const int kind = static_cast<int>(rng() % 3);
                if (kind == 0)
                    noise = {0x55, 0xAA};
                else if (kind == 1)
                    noise = {0xFF, 0xFF, 0xFF, 0xFF};
                const int length = 1 + static_cast<int>(rng() % 24);
                for (int i = 0; i < length; ++i)
                    noise.push_back(static_cast<uint8_t>(rng()));
                bool fake_frame = false;
                for (uint8_t b : noise)
                    if (trial.Feed(b, &cut) && CrcValid(cut))
                        fake_frame = true;
                while (!fake_frame && !trial.Clean()) {
                    noise.push_back(0x00);
                    if (trial.Feed(0x00, &cut) && CrcValid(cut))
                        fake_frame = true;
                }
                if (fake_frame)
                    continue;
                model = trial;
                s.bytes.insert(s.bytes.end(), noise.begin(), noise.end());
                s.noise_bytes += noise.size();
                s.false_headers += kind < 2 ? 1 : 0;
                break;
            }
        }
        Bytes extra(rng() % 8);
        for (uint8_t &b : extra)
            b = static_cast<uint8_t>(rng());
        const Bytes f = TagReport(rng() % 2 ? Header::kFF : Header::k55AA, id, rng() % 4 == 0,
                                  static_cast<int8_t>(-30 - static_cast<int>(rng() % 60)), extra);
        size_t cuts = 0;
        for (uint8_t b : f)
            if (model.Feed(b, &cut)) {
                ++cuts;
                EXPECT_EQ(f, cut) << "the stream's own design cuts a true frame wrongly";
            }
        EXPECT_EQ(1u, cuts);
        s.bytes.insert(s.bytes.end(), f.begin(), f.end());
        s.reports[id]++;
    }
    return s;
}

TEST_F(TarnwickFaults, NoiseAtLineRateNeverEntersTheTableAndCostsNoFrame)
{
    std::mt19937 rng(20240607);
    constexpr uint32_t kFirst = 70000;
    constexpr uint32_t kTags = 120;
    const NoisyStream s = MakeNoisyStream(kFirst, kTags, rng);
    size_t frames = 0;
    for (const auto &r : s.reports)
        frames += static_cast<size_t>(r.second);
    std::printf("stream: %zu bytes, %zu true reports of %u tags, %zu noise bytes in it, %zu false headers\n",
                s.bytes.size(), frames, kTags, s.noise_bytes, s.false_headers);

    // Paced at 115200 bit/s, 8N1: 11520 bytes a second, written every 10 ms.
    const double rate = 11520.0 / 1000.0;
    const double start = faults::NowMs();
    size_t sent = 0;
    while (sent < s.bytes.size()) {
        const size_t due = std::min(s.bytes.size(), static_cast<size_t>((faults::NowMs() - start) * rate));
        if (due > sent) {
            ASSERT_TRUE(device.Write(s.bytes.data() + sent, static_cast<uint32_t>(due - sent)));
            sent = due;
        }
        Sleep(10);
    }
    const double seconds = (faults::NowMs() - start) / 1000;
    std::printf("sent in %.2f s (%.0f bytes/s)\n", seconds, s.bytes.size() / seconds);
    ASSERT_LT(seconds, 8.5) << "the stream must end before any tag could go offline";

    ASSERT_TRUE(WaitTotal(std::to_string(kTags), 2500)) << gui::Text(t.dialog, kTotalLabel);
    t.PressPortButton(); // freezes the table: no ageing while it is read
    int rows = 0;
    const auto table = ReadTable(&rows);
    EXPECT_EQ(static_cast<int>(kTags), rows);
    std::map<std::string, long long> expected;
    for (const auto &r : s.reports)
        expected[std::to_string(r.first)] = r.second;
    EXPECT_EQ(expected, table) << "tag -> reports counted";
}

} // namespace
