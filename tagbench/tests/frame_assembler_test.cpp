// Receive ring and frame assembler, driven on one thread: the test plays the
// receive thread (RxRingAppend), the assembler (AssembleAvailableBytes) and
// the table thread (draining FrameQueue) in turn.
#include "tag_frames.h"

#include "serial/tests/fake_port.h"

#include <gtest/gtest.h>

namespace {

class TagAssemblerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        CaptureEnabled.store(1);
    }
};

Bytes Concat(const std::vector<Bytes> &parts)
{
    Bytes all;
    for (const Bytes &p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Bytes before a frame that look like the start of a header: the search
// slides on one byte at a time and still finds the real frame whole.
TEST_F(TagAssemblerTest, HeaderSearchSlidesOneByteAtATime)
{
    const Bytes frame55 = MakeReport(true, 77, 0x20, -30, nullptr, false, 0x01, 0x02);
    const Bytes frameFF = MakeReport(false, 78, 0x00, -31);
    const std::pair<Bytes, Bytes> cases[] = {
        {{0x00}, frame55}, {{0xFF}, frame55}, {{0xFF, 0xFF, 0xFF, 0xFE}, frameFF}, {{0x55, 0x55}, frame55},
        {{}, Concat({frameFF, frame55})}};
    for (const auto &c : cases) {
        Feed(Concat({c.first, c.second}));
        EXPECT_EQ(Concat(DrainQueue()), c.second) << ::testing::PrintToString(c.first);
    }
}

TEST_F(TagAssemblerTest, CaptureOffConsumesFramesWithoutQueueingOrTouchingTheHeaderFlag)
{
    CaptureEnabled.store(0);
    Feed(ExampleFrame55AA());
    EXPECT_EQ(QueuedFrames(), 0u);
    EXPECT_EQ(LastFrame55AA.load(), 0u);
    EXPECT_EQ(AssemblyBuffer.fill, 0);
    EXPECT_EQ(RingBytes(), 0u);

    LastFrame55AA.store(1);
    Feed(ExampleFrameFF());
    EXPECT_EQ(LastFrame55AA.load(), 1u);
    EXPECT_EQ(QueuedFrames(), 0u);

    // Turned on again, the very next frame is queued: the cut stayed aligned.
    CaptureEnabled.store(1);
    Feed(ExampleFrameFF());
    EXPECT_EQ(QueuedFrames(), 1u);
    EXPECT_EQ(LastFrame55AA.load(), 0u);
}

TEST_F(TagAssemblerTest, FullQueueDropsTheNewFrameButTheHeaderFlagFollowsIt)
{
    for (uint32_t i = 0; i < kFrameQueueSlots - 1; ++i) {
        Feed(MakeReport(false, i, 0x00, -40));
    }
    ASSERT_EQ(QueuedFrames(), kFrameQueueSlots - 1);
    const uint32_t head = FrameQueue.head.load();
    const FrameSlot oldest = FrameQueue.slots[FrameQueue.tail.load()];

    Feed(ExampleFrame55AA());
    EXPECT_EQ(QueuedFrames(), kFrameQueueSlots - 1);
    EXPECT_EQ(FrameQueue.head.load(), head);
    EXPECT_EQ(LastFrame55AA.load(), 1u);
    EXPECT_EQ(std::memcmp(&FrameQueue.slots[FrameQueue.tail.load()], &oldest, sizeof oldest), 0);

    // One slot freed by the consumer: the next frame fits again, in order.
    uint32_t tail = FrameQueue.tail.load();
    FrameQueue.tail.store((tail + 1) % kFrameQueueSlots);
    Feed(ExampleFrameFF());
    EXPECT_EQ(QueuedFrames(), kFrameQueueSlots - 1);
    EXPECT_EQ(LastFrame55AA.load(), 0u);
    const std::vector<Bytes> frames = DrainQueue();
    ASSERT_EQ(frames.size(), kFrameQueueSlots - 1);
    EXPECT_EQ(frames.front(), MakeReport(false, 1, 0x00, -40));
    EXPECT_EQ(frames.back(), ExampleFrameFF());
}

TEST_F(TagAssemblerTest, PartialFrameSurvivesAClosedPortAndContinuesAfterReopen)
{
    const Bytes f = ExampleFrameFF();
    Feed(Bytes(f.begin(), f.begin() + 6));
    CaptureEnabled.store(0); // port closed
    ResetRingIndicesUnthreaded();
    CaptureEnabled.store(1); // reopened
    Feed(Bytes(f.begin() + 6, f.end()));
    const std::vector<Bytes> frames = DrainQueue();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], f);
}

// A hole in the stream, reported through the receive pass's seam (line
// errors) or by the loss of the port: the frame under way across it is
// dropped, and frames wholly before or after it are cut as they were sent.
TEST_F(TagAssemblerTest, AHoleInTheStreamDropsOnlyTheFrameThatSpansIt)
{
    const Bytes a = ExampleFrameFF();
    const Bytes b = MakeReport(true, 4242, 0x20, -40);
    const Bytes head(a.begin(), a.begin() + 6);
    struct Case {
        const char *what;
        Bytes before;
        bool lost; // the port went (and came back) rather than reporting errors
        std::vector<Bytes> frames;
    };
    const Case cases[] = {
        {"line errors in the middle of a frame", head, false, {b}},
        {"line errors between two frames", a, false, {a, b}},
        {"the port lost in the middle of a frame", head, true, {b}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetCoreState();
        CaptureEnabled.store(1);
        const uint32_t errors_before = PortErrorCount.load();
        FakePort port;
        port.sink = [](const uint8_t *data, uint32_t length) { RxRingAppend(data, length); };
        port.errors_sink = NotePortLineErrors;
        port.Arrive(c.before);
        port.line_errors = c.lost ? 0 : kLineErrorOverrun;
        ASSERT_EQ(RxPassEnd::Done, port.Pass());
        if (c.lost)
            NotePortLost();
        AssembleAvailableBytes(); // the bytes before the hole may be taken before or after it is known
        port.Arrive(b);
        ASSERT_EQ(RxPassEnd::Done, port.Pass());
        AssembleAvailableBytes();
        EXPECT_EQ(c.frames, DrainQueue());
        EXPECT_EQ(c.lost ? 0u : 1u, PortErrorCount.load() - errors_before);
    }
}

// The error label counts the reports since the user's open (a reset), not
// the port's loss, not a report without errors.
TEST_F(TagAssemblerTest, PortErrorsAreCountedFromTheLastReset)
{
    NotePortLineErrors(kLineErrorOverrun);
    ResetTagBench(nullptr);
    EXPECT_EQ(0u, PortErrorsSinceReset());
    NotePortLineErrors(kLineErrorFraming);
    NotePortLineErrors(0);
    NotePortLost();
    EXPECT_EQ(1u, PortErrorsSinceReset());
    ResetTagBench(nullptr);
    EXPECT_EQ(0u, PortErrorsSinceReset());
}

// The receive thread drops the rest of a chunk that found no room: the
// frame under way across the dropped bytes is dropped with them, and the
// next frame after the hole is cut as sent.
TEST_F(TagAssemblerTest, BytesDroppedOnAFullRingAreAHoleToo)
{
    const Bytes a = ExampleFrameFF();
    const Bytes c = MakeReport(false, 31, 0x00, -45);
    // An FF header: the FF left of c would otherwise begin its header.
    const Bytes b = MakeReport(false, 4242, 0x20, -40);
    Feed(Bytes(a.begin(), a.begin() + 6));
    // The ring filled to the last byte, and not yet assembled: the rest of
    // a, then c over and over, the last c begun with its first byte.
    Bytes fill(a.begin() + 6, a.end());
    while (fill.size() + c.size() <= kRxRingSize - 1)
        fill.insert(fill.end(), c.begin(), c.end());
    fill.push_back(c[0]);
    ASSERT_EQ(kRxRingSize - 1, fill.size());
    ASSERT_EQ(fill.size(), RxRingAppend(fill.data(), static_cast<uint32_t>(fill.size())));
    EXPECT_EQ(RxDeliveryEnd::TimedOut, RxRingDeliver(b.data(), static_cast<uint32_t>(b.size()), 0).end);
    AssembleAvailableBytes();
    Feed(b);
    const std::vector<Bytes> frames = DrainQueue();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(a, frames.front());
    EXPECT_EQ(b, frames.back());
    EXPECT_EQ(1 + (fill.size() - 6) / c.size() + 1, frames.size());
}

} // namespace
