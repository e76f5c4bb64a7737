// The inbound workers on real threads: the receive thread's deliveries, the
// assembler and table loops, and the GUI thread reading the table. Producers
// that meet a full ring wait for their consumer instead of dropping (the
// receive thread for room in RxRing, the assembler for a slot in
// FrameQueue); only the consumer's doorbell lets a waiting producer go on
// before its bound, so a lost wake-up shows up as a delivery that ran into a
// bound no healthy run comes near. Meant to run under ThreadSanitizer too.
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
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Reports with junk between some of them; the status changes from report
// to report (never 14, which enters nothing), so the last status of each
// tag shows whether its reports were entered in order.
struct Traffic {
    Bytes stream;
    std::vector<Bytes> frames;
    std::map<uint32_t, int32_t> reports; // id -> number of frames sent
    std::map<uint32_t, uint8_t> last_status;
};

// plain: no junk, and FF headers only.
Traffic MakeTraffic(uint32_t seed, uint32_t frames, uint32_t ids, bool plain = false)
{
    std::mt19937 rng(seed);
    Traffic t;
    for (uint32_t i = 0; i < frames; ++i) {
        if (!plain && rng() % 4 == 0) {
            const Bytes j = MakeJunk(rng, rng() % 24);
            t.stream.insert(t.stream.end(), j.begin(), j.end());
        }
        const uint32_t id = 5000 + rng() % ids;
        uint8_t status = static_cast<uint8_t>(rng());
        status = status == 14 ? 15 : status;
        Bytes f = MakeReport(!plain && rng() % 2 == 0, id, status, static_cast<int8_t>(-30 - rng() % 60));
        t.stream.insert(t.stream.end(), f.begin(), f.end());
        t.frames.push_back(std::move(f));
        ++t.reports[id];
        t.last_status[id] = status;
    }
    return t;
}

int64_t EnteredReports()
{
    std::lock_guard<std::mutex> lock(TableLock);
    int64_t total = 0;
    for (int i = 0; i < TagCount.load(); ++i)
        total += TagTable[i].activity;
    return total;
}

// Every tag's history counted each of its reports, whatever moved the
// records while they came.
void ExpectHistoriesHold(const Traffic &t)
{
    static FollowedTag followed;
    for (const auto &entry : t.reports) {
        ASSERT_TRUE(SnapshotFollowedTag(entry.first, &followed)) << "id " << entry.first;
        EXPECT_EQ(followed.history.total_reports, static_cast<uint64_t>(entry.second)) << "id " << entry.first;
    }
}

void ExpectTableHolds(const Traffic &t)
{
    std::lock_guard<std::mutex> lock(TableLock);
    ASSERT_EQ(TagCount.load(), static_cast<int32_t>(t.reports.size()));
    int i = 0;
    for (const auto &entry : t.reports) {
        ASSERT_EQ(TagTable[i].id, entry.first) << "row " << i;
        EXPECT_EQ(TagTable[i].activity, entry.second) << "id " << entry.first;
        EXPECT_EQ(TagTable[i].status, t.last_status.at(entry.first)) << "id " << entry.first;
        ++i;
    }
}

// The receive thread's side: the stream in reads of 1 to max_chunk bytes,
// each handed over with RxRingDeliver; stops at the first delivery that did
// not store its whole chunk.
struct Receiver {
    std::vector<RxDelivery> deliveries;
    std::atomic<bool> done{false};
    std::atomic<bool> fell_short{false};
    std::thread thread;

    Receiver(const Bytes &bytes, uint32_t max_chunk, uint32_t bound_ms)
        : thread([this, &bytes, max_chunk, bound_ms] {
              std::mt19937 rng(max_chunk);
              for (size_t at = 0; at < bytes.size();) {
                  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1 + rng() % max_chunk, bytes.size() - at));
                  deliveries.push_back(RxRingDeliver(bytes.data() + at, n, bound_ms));
                  at += n;
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
        if (thread.joinable())
            thread.join();
    }
    void ExpectEveryChunkComplete()
    {
        thread.join();
        for (size_t i = 0; i < deliveries.size(); ++i)
            EXPECT_EQ(deliveries[i].end, RxDeliveryEnd::Complete) << "chunk " << i;
    }
};

// The assembler's own loop, with the slot bound of the case, and the table
// thread's loop when the case does not play the table itself.
class WorkerLoops {
public:
    WorkerLoops(uint32_t slot_wait_ms, bool table)
        : assembler_([this, slot_wait_ms] { FrameAssemblerLoop(&stop_, slot_wait_ms); })
    {
        if (table)
            table_ = std::thread([this] { TagTableLoop(&stop_); });
    }
    ~WorkerLoops()
    {
        stop_.store(true);
        WakeInboundWorkers();
        assembler_.join();
        if (table_.joinable())
            table_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread assembler_;
    std::thread table_;
};

class InboundThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        CaptureEnabled.store(1);
    }
};

TEST_F(InboundThreads, EveryFrameArrivesExactlyOnceWhileTheGuiReadsTheTable)
{
    const Traffic t = MakeTraffic(99, 20000, 400);
    {
        WorkerLoops workers(kPatientMs, true);
        Receiver receiver(t.stream, 300, kPatientMs);
        // The GUI thread: snapshots, a follow window's copy of a tag, and a
        // few ageing ticks (fewer than ten, so no tag goes offline and every
        // count stays exact).
        static FollowedTag followed;
        for (int ticks = 0; !receiver.done.load(); ++ticks) {
            const int32_t count = TagCount.load(std::memory_order_relaxed);
            for (int i = 0; i < count && i < 12; ++i)
                EXPECT_NE(SnapshotTag(i).distance, kOfflineDistance);
            const uint32_t id = t.reports.begin()->first;
            if (SnapshotFollowedTag(id, &followed)) {
                EXPECT_LE(followed.history.total_reports, static_cast<uint64_t>(t.reports.at(id)));
            }
            if (ticks < 9)
                AgeTagTable();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        receiver.ExpectEveryChunkComplete();
        EXPECT_TRUE(PollUntil([] { return EnteredReports() >= 20000; }));
    }
    ExpectTableHolds(t);
    ExpectHistoriesHold(t);
}

TEST_F(InboundThreads, ReceiveThreadDropsTheRestOnlyPastItsBoundOrWhenCaptureStops)
{
    Bytes block(600);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i % 7); // no header anywhere
    // The assembler stuck past the bound, or the port closed while waiting.
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed" : "past the bound");
        const RxDeliveryEnd end = close ? RxDeliveryEnd::CaptureOff : RxDeliveryEnd::TimedOut;
        ResetCoreState();
        CaptureEnabled.store(1);
        RxDelivery first{};
        std::thread receiver([&] { first = RxRingDeliver(block.data(), 600, close ? kPatientMs : kImpatientMs); });
        if (close) {
            EXPECT_TRUE(PollUntil([] { return RxRoomWanted.load(); }));
            StopCapture();
        }
        receiver.join();
        EXPECT_EQ(first.stored, kRxRingSize - 1);
        EXPECT_EQ(first.end, end);
        EXPECT_FALSE(RxRoomWanted.load());
        // The ring kept the start of the chunk, in order.
        ASSERT_EQ(RingBytes(), kRxRingSize - 1);
        for (uint32_t i = 0; i < kRxRingSize - 1; ++i)
            ASSERT_EQ(RxRing[(RxRingTail.load() + i) % kRxRingSize], block[i]) << "byte " << i;
        // A further chunk meets a ring that is still full: with capture off
        // it is dropped at once, otherwise after another bound.
        const RxDelivery next = RxRingDeliver(block.data(), 1, kImpatientMs);
        EXPECT_EQ(next.stored, 0u);
        EXPECT_EQ(next.end, end);
    }
}

TEST_F(InboundThreads, AssemblerWaitsForAFreeSlotWhileTheTableThreadIsHeld)
{
    // More frames than the queue holds, so that the assembler waits for a
    // slot and the receiver waits for room behind it.
    const Traffic t = MakeTraffic(5, kFrameQueueSlots + 600, 500);
    WorkerLoops assembler(kPatientMs, false);
    Receiver receiver(t.stream, 1024, kPatientMs);
    ASSERT_TRUE(PollUntil([] { return FrameSlotWanted.load() && RxRoomWanted.load(); }));
    EXPECT_EQ(QueuedFrames(), kFrameQueueSlots - 1);
    // The table thread's role, released: every frame must come through.
    size_t entered = 0;
    PollUntil([&] {
        entered += ProcessQueuedFrames();
        return entered == t.frames.size() || receiver.fell_short.load();
    });
    receiver.ExpectEveryChunkComplete();
    ASSERT_EQ(entered, t.frames.size());
    ExpectTableHolds(t);
}

TEST_F(InboundThreads, AssemblerDropsOnlyPastItsBoundAndKeepsTheQueuedFrames)
{
    // The table thread never moves: the queue keeps its first 2047 frames,
    // the three after them are dropped one bound each, and the header flag
    // still follows the last frame cut (a 55 AA one among FF frames).
    Traffic t = MakeTraffic(6, kFrameQueueSlots + 1, 3000, true);
    const Bytes last = MakeReport(true, 1, 0x00, -40);
    t.stream.insert(t.stream.end(), last.begin(), last.end());
    {
        WorkerLoops assembler(kImpatientMs, false);
        Receiver receiver(t.stream, 1024, kPatientMs);
        receiver.ExpectEveryChunkComplete();
        EXPECT_TRUE(PollUntil([] { return RingBytes() == 0 && !FrameSlotWanted.load(); }));
    }
    EXPECT_EQ(LastFrame55AA.load(), 1u);
    const std::vector<Bytes> frames = DrainQueue();
    ASSERT_EQ(frames.size(), kFrameQueueSlots - 1);
    EXPECT_TRUE(std::equal(frames.begin(), frames.end(), t.frames.begin()));
}

TEST_F(InboundThreads, ResetFreesProducersThatWaitOnAHeldTableThread)
{
    // The assembler waits for a slot and the receiver for room behind it.
    // The reset must end the assembler's wait at once (its frame is made of
    // bytes the reset discards) and empty the ring, so that the receiver goes
    // on; the assembler's bound is kept far beyond the receiver's so that an
    // assembler that sat the wait out would make the receiver give up first.
    const Traffic t = MakeTraffic(7, kFrameQueueSlots + 400, 700);
    WorkerLoops assembler(3 * kPatientMs, false);
    Receiver receiver(t.stream, 1024, kPatientMs);
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

TEST_F(InboundThreads, ResetIsServedWholeByIdleWorkersAndSparesTheNextFrame)
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

// The program's exit while the reader sends: the receive thread is stopped
// first (ending its wait for room), then RequestInboundStop ends both worker
// loops, which run on &InboundStop as in the program. Every thread has then
// returned, so the start-up state may be rebuilt at once; a worker still
// running would meet it (ThreadSanitizer reports that).
TEST_F(InboundThreads, TheExitStopsEveryThreadWhileTrafficFlows)
{
    const Traffic t = MakeTraffic(41, 4000, 300);
    InboundStop.store(false);
    std::atomic<bool> receiver_stop{false};
    std::atomic<uint32_t> delivered{0};
    std::thread assembler([] { FrameAssemblerLoop(&InboundStop); });
    std::thread table([] { TagTableLoop(&InboundStop); });
    std::thread receiver([&] {
        // The reader never stops on its own: round after round of traffic.
        for (size_t at = 0; !receiver_stop.load(); at = (at + 200) % (t.stream.size() - 200)) {
            RxRingDeliver(t.stream.data() + at, 200, kPatientMs);
            delivered.fetch_add(1);
        }
    });
    ASSERT_TRUE(PollUntil([] { return EnteredReports() > 500; }));
    // The receive thread may wait for room in the ring just now.
    StopCapture();
    receiver_stop.store(true);
    receiver.join();
    RequestInboundStop();
    assembler.join();
    table.join();

    EXPECT_GT(delivered.load(), 0u);
    EXPECT_EQ(CaptureEnabled.load(), 0u);
    ResetCoreState();
    std::memset(TagTable, 0xEE, sizeof TagTable);
    InboundStop.store(false);
}

} // namespace
