// The three roles of the inbound path on real threads: a producer in the
// receive thread's place (random-sized blocks of valid frames and junk), the
// assembler loop and the table loop, plus the GUI thread's snapshots and
// ageing. Meant to run under ThreadSanitizer as well as plainly.
#include "tag_frames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Runs the assembler and table loops for the life of the object.
class WorkerThreads {
public:
    WorkerThreads()
        : table_([this] { TagTableLoop(&stop_); }), assembler_([this] { FrameAssemblerLoop(&stop_); })
    {
    }
    ~WorkerThreads()
    {
        stop_.store(true, std::memory_order_release);
        WakeInboundWorkers();
        assembler_.join();
        table_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread table_;
    std::thread assembler_;
};

// Appends a stream the way the receive thread does: blocks of random size;
// a block that does not fit is retried from the first byte the ring refused,
// so that nothing is lost (the real thread would lose it).
void Produce(const Bytes &stream, uint32_t seed)
{
    std::mt19937 rng(seed);
    size_t at = 0;
    while (at < stream.size()) {
        // A real line brings at most a few thousand frames a second, far
        // below what the table thread drains. An unpaced producer on a loaded
        // machine (sanitizers, tests in parallel) can fill the frame queue,
        // which then drops frames by design; that is not what these tests
        // measure, so the producer holds back while the queue is half full.
        while (QueuedFrames() > kFrameQueueSlots / 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const size_t want = std::min<size_t>(1 + rng() % 300, stream.size() - at);
        at += RxRingAppend(stream.data() + at, static_cast<uint32_t>(want));
        if (rng() % 4 == 0) {
            std::this_thread::yield();
        }
    }
}

// Waits until ring and queue are empty and the table has caught up.
bool WaitUntilIdle(std::chrono::seconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (RingBytes() == 0 && QueuedFrames() == 0) {
            // One more wake-up of each loop so the last frame is entered.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (RingBytes() == 0 && QueuedFrames() == 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

struct Traffic {
    Bytes stream;
    std::map<uint32_t, int32_t> reports; // id -> number of frames sent
    std::map<uint32_t, uint8_t> last_status;
};

Traffic MakeTraffic(uint32_t seed, int frames, uint32_t id_base, uint32_t ids)
{
    std::mt19937 rng(seed);
    Traffic t;
    for (int i = 0; i < frames; ++i) {
        if (rng() % 4 == 0) {
            const Bytes junk = MakeJunk(rng, rng() % 24);
            t.stream.insert(t.stream.end(), junk.begin(), junk.end());
        }
        const uint32_t id = id_base + rng() % ids;
        uint8_t status = static_cast<uint8_t>(rng());
        if (status == 14) {
            status = 15;
        }
        const Bytes f = MakeReport(rng() % 2 == 0, id, status, static_cast<int8_t>(-30 - rng() % 60));
        t.stream.insert(t.stream.end(), f.begin(), f.end());
        ++t.reports[id];
        t.last_status[id] = status;
    }
    return t;
}

void ExpectTableHolds(const Traffic &t)
{
    std::lock_guard<std::mutex> lock(TableLock);
    ASSERT_EQ(TagCount.load(), static_cast<int32_t>(t.reports.size()));
    int i = 0;
    int64_t total = 0;
    for (const auto &entry : t.reports) {
        const TagRecord &r = TagTable[i];
        ASSERT_EQ(r.id, entry.first) << "row " << i;
        EXPECT_EQ(r.activity, entry.second) << "id " << entry.first;
        EXPECT_EQ(r.status, t.last_status.at(entry.first)) << "id " << entry.first;
        total += r.activity;
        ++i;
    }
    int64_t sent = 0;
    for (const auto &entry : t.reports) {
        sent += entry.second;
    }
    EXPECT_EQ(total, sent);
}

// Locked check of the table as the GUI thread may find it at any moment:
// sorted, and nothing in it that was never sent.
void ExpectSortedTableOf(const Traffic &t)
{
    std::lock_guard<std::mutex> lock(TableLock);
    const int32_t count = TagCount.load();
    for (int k = 0; k < count; ++k) {
        EXPECT_EQ(t.reports.count(TagTable[k].id), 1u) << "id " << TagTable[k].id;
        if (k > 0) {
            EXPECT_LT(TagTable[k - 1].id, TagTable[k].id);
        }
    }
}

class TagConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        CaptureEnabled.store(1);
    }
};

TEST_F(TagConcurrencyTest, EveryFrameArrivesExactlyOnceWhileTheGuiReadsTheTable)
{
    const Traffic t = MakeTraffic(99, 20000, 5000, 400);
    {
        WorkerThreads workers;
        std::atomic<bool> produced{false};
        std::thread producer([&] {
            Produce(t.stream, 1);
            produced.store(true);
        });

        // The GUI thread: labels, snapshots and a few ageing ticks (fewer
        // than ten, so no tag goes offline and every count stays exact).
        int ticks = 0;
        while (!produced.load()) {
            const int32_t count = TagCount.load(std::memory_order_relaxed);
            for (int i = 0; i < count && i < 12; ++i)
                EXPECT_NE(SnapshotTag(i).distance, kOfflineDistance);
            ExpectSortedTableOf(t);
            if (ticks < 9) {
                AgeTagTable();
                ++ticks;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        producer.join();
        ASSERT_TRUE(WaitUntilIdle(std::chrono::seconds(60)));
    }
    ExpectTableHolds(t);
}

} // namespace
