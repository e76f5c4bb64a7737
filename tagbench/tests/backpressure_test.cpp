// Producers that meet a full ring wait for their consumer instead of
// dropping: the receive thread for room in RxRing, the assembler for a slot
// in FrameQueue. Each case holds a consumer still while its producer pours
// data in, on real threads. Only the consumer's doorbell lets a waiting
// producer go on before its bound, so a lost wake-up shows up as a delivery
// that ran into a bound no healthy run comes near.
#include "tag_frames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

namespace {

// Far beyond any scheduling delay: only a lost wake-up runs into it (a
// waiter that was notified in time returns at once however late it runs).
constexpr uint32_t kPatientMs = 10000;
// For the cases where the consumer stays stuck on purpose.
constexpr uint32_t kImpatientMs = 20;

// Waits for a state the threads must reach; false only when they never do
// (a hang guard, far beyond any healthy run, not a speed check).
template <class Condition> bool PollUntil(Condition done)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Frame i reports tag 1 + i % ids with a status that changes from report to
// report (never 14, which enters nothing), so that the last status of each
// tag shows whether its reports were entered in order.
struct Stream {
    Bytes bytes;
    std::vector<Bytes> frames;
    std::map<uint32_t, int32_t> reports;
    std::map<uint32_t, uint8_t> last_status;
};

Stream MakeStream(uint32_t frames, uint32_t ids, bool last_55aa = false)
{
    Stream s;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t id = 1 + i % ids;
        uint8_t status = static_cast<uint8_t>(i * 37 + i / ids);
        if (status == 14) {
            status = 15;
        }
        const bool header55 = last_55aa ? i + 1 == frames : i % 3 == 0;
        Bytes f = MakeReport(header55, id, status, static_cast<int8_t>(-30 - i % 50));
        s.bytes.insert(s.bytes.end(), f.begin(), f.end());
        s.frames.push_back(std::move(f));
        ++s.reports[id];
        s.last_status[id] = status;
    }
    return s;
}

// The receive thread's side: the stream in reads of `chunk` bytes, each
// handed over with RxRingDeliver; stops at the first delivery that did not
// store its whole chunk.
struct Receiver {
    std::vector<RxDelivery> deliveries;
    std::atomic<bool> done{false};
    std::atomic<bool> fell_short{false};
    std::thread thread;

    Receiver(const Bytes &bytes, uint32_t chunk, uint32_t bound_ms)
        : thread([this, &bytes, chunk, bound_ms] {
              for (size_t at = 0; at < bytes.size(); at += chunk) {
                  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk, bytes.size() - at));
                  deliveries.push_back(RxRingDeliver(bytes.data() + at, n, bound_ms));
                  if (deliveries.back().stored != n) {
                      fell_short.store(true);
                      break;
                  }
              }
              done.store(true);
          })
    {
    }
    ~Receiver()
    {
        if (thread.joinable()) {
            thread.join();
        }
    }
    void ExpectEveryChunkComplete()
    {
        thread.join();
        for (size_t i = 0; i < deliveries.size(); ++i) {
            EXPECT_EQ(deliveries[i].end, RxDeliveryEnd::Complete) << "chunk " << i;
        }
    }
};

// The assembler's own loop, with the slot bound of the case, and the table
// thread's loop when the case does not play the table itself.
class WorkerLoops {
public:
    WorkerLoops(uint32_t slot_wait_ms, bool table)
        : assembler_([this, slot_wait_ms] { FrameAssemblerLoop(&stop_, slot_wait_ms); })
    {
        if (table) {
            table_ = std::thread([this] { TagTableLoop(&stop_); });
        }
    }
    ~WorkerLoops()
    {
        stop_.store(true);
        WakeInboundWorkers();
        assembler_.join();
        if (table_.joinable()) {
            table_.join();
        }
    }

private:
    std::atomic<bool> stop_{false};
    std::thread assembler_;
    std::thread table_;
};

class BackpressureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        CaptureEnabled.store(1);
    }
};

TEST_F(BackpressureTest, ReceiveThreadWaitsForRoomAndEveryByteArrivesInOrder)
{
    const Stream s = MakeStream(700, 90);
    // Reads larger than the whole ring, and reads that fit a few at a time.
    for (const uint32_t chunk : {1024u, 300u}) {
        SCOPED_TRACE(chunk);
        ResetCoreState();
        CaptureEnabled.store(1);
        Receiver receiver(s.bytes, chunk, kPatientMs);
        // The assembler's role, done by this thread: it moves only once the
        // receiver has filled the ring and waits.
        std::vector<Bytes> frames;
        int waits = 0;
        while (!receiver.done.load()) {
            ASSERT_TRUE(PollUntil([&] { return RxRoomWanted.load() || receiver.done.load(); }));
            waits += RxRoomWanted.load() ? 1 : 0;
            AssembleAvailableBytes();
            for (Bytes &f : DrainQueue()) {
                frames.push_back(std::move(f));
            }
        }
        receiver.ExpectEveryChunkComplete();
        AssembleAvailableBytes();
        for (Bytes &f : DrainQueue()) {
            frames.push_back(std::move(f));
        }
        EXPECT_GT(waits, 0);
        EXPECT_FALSE(RxRoomWanted.load());
        ASSERT_EQ(frames.size(), s.frames.size());
        EXPECT_TRUE(frames == s.frames);
    }
}

TEST_F(BackpressureTest, ReceiveThreadDropsTheRestOnlyPastItsBoundOrWhenCaptureStops)
{
    Bytes block(600);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i % 7); // no header anywhere
    }
    struct Case {
        const char *name;
        bool close;
        uint32_t bound_ms;
        RxDeliveryEnd end;
    };
    const Case cases[] = {
        {"assembler stuck past the bound", false, kImpatientMs, RxDeliveryEnd::TimedOut},
        {"port closed while waiting", true, kPatientMs, RxDeliveryEnd::CaptureOff},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ResetCoreState();
        CaptureEnabled.store(1);
        RxDelivery first{};
        std::thread receiver([&] { first = RxRingDeliver(block.data(), 600, c.bound_ms); });
        if (c.close) {
            const bool waiting = PollUntil([] { return RxRoomWanted.load(); });
            StopCapture();
            EXPECT_TRUE(waiting);
        }
        receiver.join();
        EXPECT_EQ(first.stored, kRxRingSize - 1);
        EXPECT_EQ(first.end, c.end);
        EXPECT_FALSE(RxRoomWanted.load());

        // The ring kept the start of the chunk, in order.
        ASSERT_EQ(RingBytes(), kRxRingSize - 1);
        for (uint32_t i = 0; i < kRxRingSize - 1; ++i) {
            ASSERT_EQ(RxRing[(RxRingTail.load() + i) % kRxRingSize], block[i]) << "byte " << i;
        }
        // A further chunk meets a ring that is still full: with capture off
        // it is dropped at once, otherwise after another bound.
        const RxDelivery next = RxRingDeliver(block.data(), 1, kImpatientMs);
        EXPECT_EQ(next.stored, 0u);
        EXPECT_EQ(next.end, c.end);
    }
}

TEST_F(BackpressureTest, AssemblerWaitsForAFreeSlotWhileTheTableThreadIsHeld)
{
    // More frames than the queue holds, so that the assembler waits for a
    // slot and the receiver waits for room behind it.
    const Stream s = MakeStream(kFrameQueueSlots + 600, 500);
    WorkerLoops assembler(kPatientMs, false);
    Receiver receiver(s.bytes, 1024, kPatientMs);
    ASSERT_TRUE(PollUntil([] { return FrameSlotWanted.load() && RxRoomWanted.load(); }));
    EXPECT_EQ(QueuedFrames(), kFrameQueueSlots - 1);

    // The table thread's role, released: every frame must come through.
    size_t entered = 0;
    PollUntil([&] {
        entered += ProcessQueuedFrames();
        return entered == s.frames.size() || receiver.fell_short.load();
    });
    receiver.ExpectEveryChunkComplete();
    ASSERT_EQ(entered, s.frames.size());

    std::lock_guard<std::mutex> lock(TableLock);
    ASSERT_EQ(TagCount.load(), static_cast<int32_t>(s.reports.size()));
    int i = 0;
    for (const auto &r : s.reports) {
        EXPECT_EQ(TagTable[i].id, r.first);
        EXPECT_EQ(TagTable[i].activity, r.second) << "id " << r.first;
        EXPECT_EQ(TagTable[i].status, s.last_status.at(r.first)) << "id " << r.first;
        ++i;
    }
}

TEST_F(BackpressureTest, AssemblerDropsOnlyPastItsBoundAndKeepsTheQueuedFrames)
{
    // The table thread never moves: the queue keeps its first 2047 frames,
    // the three after them are dropped one bound each, and the header flag
    // still follows the last frame cut (a 55 AA one among FF frames).
    const Stream s = MakeStream(kFrameQueueSlots + 2, 3000, true);
    {
        WorkerLoops assembler(kImpatientMs, false);
        Receiver receiver(s.bytes, 1024, kPatientMs);
        receiver.ExpectEveryChunkComplete();
        EXPECT_TRUE(PollUntil([] { return RingBytes() == 0 && !FrameSlotWanted.load(); }));
    }
    EXPECT_EQ(LastFrame55AA.load(), 1u);
    const std::vector<Bytes> frames = DrainQueue();
    ASSERT_EQ(frames.size(), kFrameQueueSlots - 1);
    EXPECT_TRUE(std::equal(frames.begin(), frames.end(), s.frames.begin()));
}

TEST_F(BackpressureTest, ResetFreesProducersThatWaitOnAHeldTableThread)
{
    // The assembler waits for a slot and the receiver for room behind it.
    // The reset must end the assembler's wait at once (its frame is made of
    // bytes the reset discards) and empty the ring, so that the receiver goes
    // on; the assembler's bound is kept far beyond the receiver's so that an
    // assembler that sat the wait out would make the receiver give up first.
    const Stream s = MakeStream(kFrameQueueSlots + 400, 700);
    WorkerLoops assembler(3 * kPatientMs, false);
    Receiver receiver(s.bytes, 1024, kPatientMs);
    ASSERT_TRUE(PollUntil([] { return FrameSlotWanted.load() && RxRoomWanted.load(); }));
    RequestRingReset(); // the table thread is held: returns unserved
    // The table thread's role, released only now.
    EXPECT_TRUE(PollUntil([&] {
        ProcessQueuedFrames();
        return receiver.done.load();
    }));
    receiver.ExpectEveryChunkComplete();
    EXPECT_FALSE(RingResetPending());
}

TEST_F(BackpressureTest, ResetIsServedWholeByIdleWorkersAndSparesTheNextFrame)
{
    WorkerLoops loops(kPatientMs, true);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // Both loops asleep with nothing to do: the request must wake both,
        // and the table thread must serve its half after the assembler's,
        // not at its next frame, which it would then sweep away.
        RequestRingReset();
        ASSERT_TRUE(PollUntil([] { return !RingResetPending(); }));
        const Bytes f = MakeReport(round % 2 == 0, 77 + round, 0x00, -40);
        ASSERT_EQ(RxRingDeliver(f.data(), static_cast<uint32_t>(f.size()), kPatientMs).end, RxDeliveryEnd::Complete);
        EXPECT_TRUE(PollUntil([&] { return TagCount.load() == round + 1; }));
    }
}

} // namespace
