// The chunk queue and the processor's decisions, driven on one thread: the
// test pushes as the receive thread would and drains as the processor would.
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/tests/test_hooks.h"
#include "modulebench/traffic_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class ChunkQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ChunkQueueInit();
        InstallRecorder();
    }
    void TearDown() override { ChunkQueueInit(); }

    static bool Push(const Bytes &chunk)
    {
        return ChunkQueuePush(chunk.data(), static_cast<uint8_t>(chunk.size()));
    }
    static Bytes Numbered(uint32_t i) { return {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}; }
};

TEST_F(ChunkQueueTest, HoldsNineHundredNinetyNineAndDropsTheNextWithAMessage)
{
    for (uint32_t i = 0; i < 999; ++i)
        ASSERT_TRUE(Push(Numbered(i))) << i;
    EXPECT_TRUE(Recorded.TextsOf(HookEvent::Console).empty());
    EXPECT_EQ(ChunkQueueCount(), 999u);

    EXPECT_FALSE(Push(Numbered(999)));
    EXPECT_EQ(Recorded.TextsOf(HookEvent::Console), std::vector<std::string>{"msg buffer full\r\n"});
    EXPECT_EQ(ChunkQueueCount(), 999u);

    EXPECT_EQ(ChunkProcessorDrain(), 999u);
    const std::vector<Bytes> logged = Recorded.Of(HookEvent::Received);
    ASSERT_EQ(logged.size(), 999u);
    for (uint32_t i = 0; i < 999; ++i)
        EXPECT_EQ(logged[i], Numbered(i)) << i;
    EXPECT_EQ(ChunkQueueCount(), 0u);
}

TEST_F(ChunkQueueTest, ProcessorReleasesEveryCopyAndInitReleasesLeftovers)
{
    // The slot owns an exact private copy: the caller's buffer is reused at once.
    uint8_t staging[3] = {1, 2, 3};
    ASSERT_TRUE(ChunkQueuePush(staging, 3));
    EXPECT_NE(ChunkQueue.slots[0].data, staging);
    std::memset(staging, 0xEE, sizeof staging);

    for (uint32_t i = 0; i < 1500; ++i) {
        Push(Numbered(i));
        if (i % 7 == 0)
            ChunkProcessorDrain();
    }
    ChunkProcessorDrain();
    EXPECT_EQ(Recorded.Of(HookEvent::Received).front(), (Bytes{1, 2, 3}));
    for (const ChunkSlot &slot : ChunkQueue.slots)
        ASSERT_EQ(slot.data, nullptr);

    // Leftovers at re-initialisation are released there (the sanitizer build
    // reports a leak or a double release otherwise).
    for (uint32_t i = 0; i < 10; ++i)
        Push(Numbered(i));
    ChunkQueueInit();
    EXPECT_EQ(ChunkQueueCount(), 0u);
    EXPECT_EQ(ChunkQueue.head.load(), 0u);
    EXPECT_EQ(ChunkQueue.tail.load(), 0u);
}

TEST_F(ChunkQueueTest, LongReadsAreSplitIntoOrderedSlotsOfAtMost255)
{
    struct Case {
        uint32_t length;
        std::vector<size_t> pieces;
    };
    const Case cases[] = {
        {1024, {255, 255, 255, 255, 4}},
        {255, {255}},
        {256, {255, 1}},
        {510, {255, 255}},
        {9, {9}},
    };
    for (const Case &c : cases) {
        Recorded.Clear();
        Bytes read(c.length);
        for (uint32_t i = 0; i < c.length; ++i)
            read[i] = static_cast<uint8_t>(i * 7 + 3);
        ChunkReceiveSink(read.data(), c.length);
        ChunkProcessorDrain();

        const std::vector<Bytes> logged = Recorded.Of(HookEvent::Received);
        std::vector<size_t> sizes;
        Bytes joined;
        for (const Bytes &line : logged) {
            sizes.push_back(line.size());
            joined.insert(joined.end(), line.begin(), line.end());
        }
        EXPECT_EQ(sizes, c.pieces) << c.length;
        EXPECT_EQ(joined, read) << c.length;
    }
}

// --- The processor's decisions -------------------------------------------

class ProcessorTest : public ChunkQueueTest {
protected:
    void Arm(int32_t id = 1, int32_t send = 5, int32_t battery = 10)
    {
        BuildTagConfigFrame(id, send, battery);
        ConfigPending.store(true, std::memory_order_release);
    }
    static void Feed(const Bytes &chunk)
    {
        ChunkQueuePushLong(chunk.data(), static_cast<uint32_t>(chunk.size()));
        ChunkProcessorDrain();
    }
};

TEST_F(ProcessorTest, ArmedConfigurationAnswersTheFirstWakeUpOnly)
{
    Arm(1, 5, 10);
    const Bytes wake = WakeUpFrame(0x12, 0x34);
    Feed(wake);

    const Bytes expected{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x05, 0x0A, 0x9C, 0x92};
    ASSERT_EQ(Recorded.events.size(), 4u);
    EXPECT_EQ(Recorded.events[0].kind, HookEvent::Received);
    EXPECT_EQ(Recorded.events[0].bytes, wake);
    EXPECT_EQ(Recorded.events[1].kind, HookEvent::Write);
    EXPECT_EQ(Recorded.events[1].bytes, expected);
    EXPECT_EQ(Recorded.events[2].kind, HookEvent::Sent);
    EXPECT_EQ(Recorded.events[2].bytes, expected);
    EXPECT_EQ(Recorded.events[3].kind, HookEvent::Status);
    EXPECT_EQ(Recorded.events[3].text, kStatusConfigured);
    EXPECT_FALSE(ConfigPending.load());

    Recorded.Clear();
    Feed(wake);
    ASSERT_EQ(Recorded.events.size(), 1u);
    EXPECT_EQ(Recorded.events[0].kind, HookEvent::Received);
}

TEST_F(ProcessorTest, CrcFailuresReportCheckErrorAndKeepTheArm)
{
    Bytes damaged = WakeUpFrame(1, 2);
    damaged[8] ^= 0x01;
    const Bytes bad_frames[] = {
        damaged,
        {0xFF, 0xFF, 0xFF, 0xFF},             // CRC over FF FF is 0000, not FFFF
        {0xFF, 0xFF, 0xFF, 0xFF, 0x00},       // 5 bytes
        {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01}, // 6 bytes
    };
    Arm();
    for (const Bytes &frame : bad_frames) {
        Recorded.Clear();
        Feed(frame);
        ASSERT_EQ(Recorded.events.size(), 2u) << frame.size();
        EXPECT_EQ(Recorded.events[0].kind, HookEvent::Received);
        EXPECT_EQ(Recorded.events[0].bytes, frame);
        EXPECT_EQ(Recorded.events[1].kind, HookEvent::Console);
        EXPECT_EQ(Recorded.events[1].text, "check error\r\n");
        EXPECT_TRUE(ConfigPending.load());
    }
}

TEST_F(ProcessorTest, SkipRxLogSilencesOnePassButNotTheAnswer)
{
    Arm();
    Push({0x01, 0x02});
    Push(WakeUpFrame(0, 0));
    SkipRxLog.store(true);
    EXPECT_EQ(ChunkProcessorDrain(), 2u);
    EXPECT_TRUE(Recorded.Of(HookEvent::Received).empty());
    EXPECT_EQ(Recorded.Of(HookEvent::Write).size(), 1u);
    EXPECT_EQ(Recorded.Of(HookEvent::Sent).size(), 1u);
    EXPECT_FALSE(SkipRxLog.load());

    Feed({0x03});
    EXPECT_EQ(Recorded.Of(HookEvent::Received), std::vector<Bytes>{{0x03}});

    // Set on an empty queue it is gone after the next pass.
    SkipRxLog.store(true);
    EXPECT_EQ(ChunkProcessorDrain(), 0u);
    EXPECT_FALSE(SkipRxLog.load());
}

// The dialog may rebuild OutFrame once it has seen the arm claimed, even
// while the processor's write is still in progress.
TEST_F(ProcessorTest, AnswerSendsItsOwnCopyWhenTheGuiRebuildsDuringTheWrite)
{
    Arm(1, 5, 10);
    Recorded.during_write = [] { SendReaderFrame(77, 3); };
    Feed(WakeUpFrame(0, 0));
    const std::vector<Bytes> sent = Recorded.Of(HookEvent::Sent);
    ASSERT_EQ(sent.size(), 2u); // the reader frame from inside the write, then the answer
    EXPECT_EQ(sent[0].size(), 13u);
    EXPECT_EQ(sent[1], (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x05, 0x0A, 0x9C, 0x92}));
}

TEST_F(ProcessorTest, NewArmDuringTheAnswerKeepsItsStatusAndStaysArmed)
{
    Arm(1, 5, 10);
    Recorded.during_write = [] {
        BuildTagConfigFrame(2, 6, 11);
        ConfigPending.store(true, std::memory_order_release);
    };
    Feed(WakeUpFrame(0, 0));
    EXPECT_TRUE(Recorded.TextsOf(HookEvent::Status).empty());
    EXPECT_TRUE(ConfigPending.load());

    Recorded.Clear();
    Feed(WakeUpFrame(0, 0));
    const std::vector<Bytes> writes = Recorded.Of(HookEvent::Write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0][7], 2);
    EXPECT_EQ(Recorded.TextsOf(HookEvent::Status), std::vector<std::string>{kStatusConfigured});
}

} // namespace
