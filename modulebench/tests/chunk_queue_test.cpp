// The chunk queue and the processor, driven on one thread, where the fuzz
// target's model does not reach: the copies each slot owns, and the GUI
// thread acting while an answer is being written. The test pushes as the
// receive thread would and drains as the processor would.
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
