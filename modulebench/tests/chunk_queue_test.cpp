// The chunk queue and the processor, driven on one thread, where the fuzz
// target's model does not reach: the copies each slot owns, and the GUI
// thread acting while an answer is being written. The test pushes as the
// receive thread would and drains as the processor would.
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/tests/test_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/tests/fake_port.h"

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

// Leftovers at re-initialisation are released there (the sanitizer build
// reports a leak or a double release otherwise); the fuzz target drains
// every input to the end, so it never leaves any.
TEST_F(ChunkQueueTest, InitReleasesLeftovers)
{
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

// The answer is the frame as it was armed: what the dialog builds in
// OutFrame afterwards without arming it, and what it builds once it has
// seen the arm claimed while the write is still in progress, do not go out.
TEST_F(ProcessorTest, AnswerSendsTheFrameAsArmed)
{
    Arm(1, 5, 10);
    BuildTagConfigFrame(0x222222, 9, 9);
    Recorded.during_write = [] { SendReaderFrame(77, 3); };
    Feed(WakeUpFrame(0, 0));
    const std::vector<Bytes> sent = Recorded.Of(HookEvent::Sent);
    ASSERT_EQ(sent.size(), 2u); // the reader frame from inside the write, then the answer
    EXPECT_EQ(sent[0].size(), 13u);
    EXPECT_EQ(sent[1], (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x05, 0x0A, 0x9C, 0x92}));
    EXPECT_FALSE(ConfigPending.load());
}

// What the GUI thread does while the answer is being written decides
// whether the answer may still show "完成配置": the processor names the
// arming it sent, and only the current arming counts.
TEST_F(ProcessorTest, AnAnswerNamesItsArmingAndOnlyTheCurrentOneCounts)
{
    struct Case {
        const char *what;
        void (*during_write)();
        bool answer_current; // the answered arming is still the current one
        bool armed_after;
    };
    const Case cases[] = {
        {"nothing", nullptr, true, false},
        {"re-armed", [] { BuildTagConfigFrame(2, 6, 11); ConfigPending.store(true); }, false, true},
        {"unlocked, mode changed or closed", [] { ConfigPending.store(false); }, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ChunkQueueInit();
        InstallRecorder();
        BuildTagConfigFrame(1, 5, 10);
        const uint32_t armed = ConfigPending.Arm();
        Recorded.during_write = c.during_write;
        Feed(WakeUpFrame(0, 0));
        EXPECT_EQ(Recorded.TextsOf(HookEvent::Answered), std::vector<std::string>{std::to_string(armed)});
        EXPECT_EQ(ConfigPending.IsCurrent(armed), c.answer_current);
        EXPECT_EQ(ConfigPending.load(), c.armed_after);
    }
}

// 切换透传's frame: chunks still queued are processed unlogged, and a frame
// that meets no port is not logged as sent (an answer that meets none is
// the fuzz target's).
TEST_F(ProcessorTest, AReaderFrameHidesChunksStillQueuedAndIsNotLoggedWithoutAPort)
{
    ASSERT_TRUE(Push({1}));
    Recorded.port_open = false;
    SendReaderFrame(1, 0);
    ChunkProcessorDrain();
    ASSERT_TRUE(Push({2}));
    ChunkProcessorDrain();
    EXPECT_EQ(Recorded.events.size(), 1u);
    EXPECT_EQ(Recorded.Of(HookEvent::Received), std::vector<Bytes>{Bytes{2}});
}

// A skip request made in the moment the processor has found the queue
// empty, before it served the requests it knew of, stands for the chunk
// that comes next: it was asked for after that look.
TEST_F(ChunkQueueTest, ASkipRequestMadeAsAPassEndsHidesTheNextChunk)
{
    ASSERT_TRUE(Push({1}));
    SetChunkProcessorIdleHook([] {
        SetChunkProcessorIdleHook(nullptr);
        RequestSkipRxLog();
        ChunkQueuePush(Bytes{2}.data(), 1);
    });
    ChunkProcessorDrain();
    EXPECT_TRUE(SkipRxLogActive());
    ChunkProcessorDrain();
    EXPECT_EQ(Recorded.Of(HookEvent::Received), std::vector<Bytes>{Bytes{1}});
    EXPECT_FALSE(SkipRxLogActive()) << "served once the queue was found empty after it";
    ASSERT_TRUE(Push({3}));
    ChunkProcessorDrain();
    EXPECT_EQ(Recorded.Of(HookEvent::Received).back(), Bytes{3});
}

// The receive path from a port that behaves as a real one: a backlog left in
// the driver is read to the end at once, so the tag's wake-up frame that
// follows it arrives as a chunk of its own and is answered; and line errors
// reach the log and the console at the place in the stream where they were
// reported (what a full queue does to them is the fuzz target's).
TEST_F(ChunkQueueTest, AWakeUpAfterABacklogIsAnsweredAndLineErrorsAreLoggedWhereTheyHappened)
{
    BuildTagConfigFrame(1, 5, 10);
    const uint32_t armed = ConfigPending.Arm();
    FakePort port;
    port.sink = ChunkReceiveSink;
    port.errors_sink = ChunkQueueLineErrors;
    port.Arrive(Bytes(3000, 0x11));
    port.line_errors = kLineErrorRxOver;
    ASSERT_EQ(RxPassEnd::Done, port.Pass());
    port.Arrive(WakeUpFrame(7, 8));
    ASSERT_EQ(RxPassEnd::Done, port.Pass());
    ChunkProcessorDrain();

    EXPECT_EQ(Recorded.TextsOf(HookEvent::Answered), std::vector<std::string>{std::to_string(armed)});
    // 3000 bytes (reads of 1024, 1024 and 952, in slots of at most 255),
    // the note, then the wake-up frame and its answer.
    std::vector<HookEvent::Kind> kinds;
    for (const HookEvent &e : Recorded.events)
        if (e.kind != HookEvent::Console)
            kinds.push_back(e.kind);
    ASSERT_EQ(kinds.size(), 14u + 1 + 1 + 3);
    EXPECT_EQ(kinds[14], HookEvent::Note);
    EXPECT_EQ(Recorded.Of(HookEvent::Received).back(), WakeUpFrame(7, 8));
    EXPECT_EQ(Recorded.TextsOf(HookEvent::Note),
              std::vector<std::string>{"串口接收错误（接收队列溢出），此处有数据丢失"});
    EXPECT_EQ(Recorded.TextsOf(HookEvent::Console), std::vector<std::string>{"port error: queue overflow\r\n"});
}

} // namespace
