// The chunk queue and the processor, driven on one thread, where the fuzz
// target's model does not reach: the copies each slot owns, and the GUI
// thread acting while an answer is being written. The test pushes as the
// receive thread would and drains as the processor would.
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/sent_frames.h"
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

// A wake-up answer that did not fully go out: no 完成配置 (no Answered),
// exactly the bytes that went out as an S line, a note of its own, the
// hook for the batch window, and the arming still armed, so that the tag's
// next wake-up is answered with the same frame once the port takes it.
TEST_F(ProcessorTest, AnAnswerThatDidNotGoOutStaysArmedForTheNextWakeUp)
{
    const Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x0F, 0x42, 0x40, 0x05, 0x0A};
    struct Case {
        SerialWriteOutcome outcome;
        const char *note;
        size_t went_out;
        const char *not_sent;
    };
    const Case cases[] = {
        {{WriteStatus::Failed, 0, 31}, "配置帧未能发出：写入失败（错误 31）", 0, " 2 0/12"},
        {{WriteStatus::TimedOut, 0, 0}, "配置帧未能发出：1 秒内未能写完（已发出 0 / 12 字节）", 0, " 3 0/12"},
        {{WriteStatus::TimedOut, 3, 0}, "配置帧未能发出：1 秒内未能写完（已发出 3 / 12 字节）", 3, " 3 3/12"},
        {{WriteStatus::Failed, 11, 22}, "配置帧未能发出：写入失败（错误 22，已发出 11 / 12 字节）", 11, " 2 11/12"},
        {{WriteStatus::NoPort, 0, 0}, "配置帧未能发出：串口未打开", 0, " 1 0/12"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.note);
        ChunkQueueInit();
        InstallRecorder();
        BuildTagConfigFrame(1000000, 5, 10);
        const Bytes armed_frame(OutFrame, OutFrame + kTagConfigFrameLength);
        ASSERT_EQ(Bytes(armed_frame.begin(), armed_frame.begin() + 10), frame);
        const uint32_t arm = ConfigPending.Arm();
        Recorded.outcome = c.outcome;
        Feed(WakeUpFrame(1, 2));
        EXPECT_TRUE(Recorded.TextsOf(HookEvent::Answered).empty());
        const std::vector<Bytes> sent = Recorded.Of(HookEvent::Sent);
        if (c.went_out == 0)
            EXPECT_TRUE(sent.empty());
        else
            EXPECT_EQ(sent, std::vector<Bytes>{Bytes(armed_frame.begin(), armed_frame.begin() + c.went_out)});
        EXPECT_EQ(Recorded.TextsOf(HookEvent::Note), std::vector<std::string>{c.note});
        EXPECT_EQ(Recorded.TextsOf(HookEvent::NotSent), std::vector<std::string>{std::to_string(arm) + c.not_sent});
        EXPECT_TRUE(ConfigPending.load());
        EXPECT_TRUE(ConfigPending.IsCurrent(arm));

        // The next wake-up, with a port that takes the bytes.
        Recorded.Clear();
        Feed(WakeUpFrame(3, 4));
        EXPECT_EQ(Recorded.Of(HookEvent::Sent), std::vector<Bytes>{armed_frame});
        EXPECT_EQ(Recorded.TextsOf(HookEvent::Answered), std::vector<std::string>{std::to_string(arm)});
        EXPECT_TRUE(Recorded.TextsOf(HookEvent::Note).empty());
        EXPECT_FALSE(ConfigPending.load());
    }
}

// What the GUI thread does while the answer is being written decides its
// fate: only the current arming may still show "完成配置" (the processor
// names the arming it sent), and a failed answer is armed again only while
// its arming is current: a frame the user replaced or withdrew (unlocked,
// changed mode, reopened) never comes back.
TEST_F(ProcessorTest, WhatTheGuiDoesDuringAnAnswerDecidesItsFate)
{
    void (*const rearm)() = [] { BuildTagConfigFrame(2, 6, 11); ConfigPending.store(true); };
    void (*const disarm)() = [] { ConfigPending.store(false); };
    void (*const reopen)() = [] { ChunkQueuePortOpening(); };
    constexpr WriteStatus sent = WriteStatus::Sent, timed_out = WriteStatus::TimedOut;
    struct Case {
        const char *what;
        void (*during_write)();
        WriteStatus status;
        bool answer_current; // the answered arming is still the current one
        bool armed_after;
        uint8_t next_answer_id; // ID byte of the next wake-up's answer; 0: none
    };
    const Case cases[] = {
        {"sent", nullptr, sent, true, false, 0},
        {"sent, re-armed", rearm, sent, false, true, 2},
        {"sent, unlocked or mode changed", disarm, sent, false, false, 0},
        {"timed out", nullptr, timed_out, true, true, 1},
        {"timed out, re-armed", rearm, timed_out, false, true, 2},
        {"timed out, unlocked or mode changed", disarm, timed_out, false, false, 0},
        {"timed out, reopened", reopen, timed_out, false, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ChunkQueueInit();
        InstallRecorder();
        BuildTagConfigFrame(1, 5, 10);
        const uint32_t armed = ConfigPending.Arm();
        Recorded.outcome = {c.status, c.status == sent ? HookRecorder::kAllBytes : 0, 0};
        Recorded.during_write = c.during_write;
        Feed(WakeUpFrame(0, 0));
        EXPECT_EQ(Recorded.TextsOf(HookEvent::Answered),
                  c.status == sent ? std::vector<std::string>{std::to_string(armed)} : std::vector<std::string>{});
        EXPECT_EQ(ConfigPending.IsCurrent(armed), c.answer_current);
        EXPECT_EQ(ConfigPending.load(), c.armed_after);
        Recorded.Clear();
        Feed(WakeUpFrame(0, 0));
        const std::vector<Bytes> next = Recorded.Of(HookEvent::Sent);
        if (c.next_answer_id == 0) {
            EXPECT_TRUE(next.empty());
            continue;
        }
        ASSERT_EQ(next.size(), 1u);
        EXPECT_EQ(next[0][7], c.next_answer_id);
    }
}

// An opening drops what was armed before, and says so in the log.
TEST_F(ProcessorTest, AnOpeningThatWithdrawsAnArmingSaysSo)
{
    EXPECT_FALSE(ChunkQueuePortOpening());
    Arm();
    EXPECT_TRUE(ChunkQueuePortOpening());
    EXPECT_FALSE(ConfigPending.load());
    EXPECT_EQ(Recorded.TextsOf(HookEvent::Note), std::vector<std::string>{kReopenDisarmedNote});
}

// 切换透传 and HEX发送: the bytes that went out are logged and counted as an
// S line, and a note says what did not go out; chunks still queued when the
// reader frame is asked for are processed unlogged and counted in a note.
TEST_F(ProcessorTest, FramesThatDidNotGoOutSayHowMuchDid)
{
    ASSERT_TRUE(Push({1, 2, 3}));
    ASSERT_TRUE(Push({4}));
    Recorded.outcome = {WriteStatus::TimedOut, 5, 0};
    SendReaderFrame(1, 0);
    const Bytes reader(OutFrame, OutFrame + 5);
    ChunkProcessorDrain();
    ASSERT_TRUE(Push({9}));
    ChunkProcessorDrain();
    const uint8_t hex[4] = {0x01, 0x02, 0x0A, 0xFF};
    Recorded.outcome = {WriteStatus::Failed, 2, 31};
    EXPECT_EQ(SendAndLog(SentFrame::HexText, hex, 4).status, WriteStatus::Failed);
    Recorded.outcome = {WriteStatus::NoPort, 0, 0};
    SendAndLog(SentFrame::HexText, hex, 4);

    EXPECT_EQ(Recorded.Of(HookEvent::Received), std::vector<Bytes>{Bytes{9}});
    EXPECT_EQ(Recorded.Of(HookEvent::Sent), (std::vector<Bytes>{reader, Bytes{0x01, 0x02}}));
    EXPECT_EQ(Recorded.TextsOf(HookEvent::Note),
              (std::vector<std::string>{"透传切换帧未能发出：1 秒内未能写完（已发出 5 / 13 字节）",
                                        "关闭串口或切换透传时队列中还有 2 块数据（4 字节），已处理，未记入日志",
                                        "HEX数据未能发出：写入失败（错误 31，已发出 2 / 4 字节）",
                                        "HEX数据未能发出：串口未打开"}));
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
