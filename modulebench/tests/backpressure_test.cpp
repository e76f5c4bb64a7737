// The receive path when a consumer is late: the receive thread waits for the
// processor instead of dropping, within its bound, and stops waiting when the
// port closes; the processor sleeps until it is given work; the traffic
// log's hand-off keeps every line in order and never loses its wake-up. Threads meet on gates and signals, never
// on the clock: a wait that never ends is a failure (the test's time-out).
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/tests/test_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/wake_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the processor thread logged, and the door its log hook stops at
// while a test holds it shut; all under the one mutex.
struct Log {
    std::mutex mutex;
    std::condition_variable changed;
    Bytes bytes;
    std::vector<std::string> console;
    bool door_open = true;
    int at_door = 0; // the processor stands at the closed door

    template <class Pred> void WaitFor(Pred pred)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, pred);
    }
    void SetDoor(bool open)
    {
        std::lock_guard<std::mutex> lock(mutex);
        door_open = open;
        changed.notify_all();
    }
} Logged;

void GatedReceived(uint32_t count, const uint8_t *bytes)
{
    std::unique_lock<std::mutex> lock(Logged.mutex);
    ++Logged.at_door;
    Logged.changed.notify_all();
    Logged.changed.wait(lock, [] { return Logged.door_open; });
    --Logged.at_door;
    Logged.bytes.insert(Logged.bytes.end(), bytes, bytes + count);
    Logged.changed.notify_all();
}

void RecordMessage(const char *text)
{
    std::lock_guard<std::mutex> lock(Logged.mutex);
    Logged.console.emplace_back(text);
}

void WaitLogged(size_t size)
{
    Logged.WaitFor([size] { return Logged.bytes.size() >= size; });
}

// A processor loop on its own thread, with the gated log hook.
class HeldProcessor : public ::testing::Test {
protected:
    void SetUp() override
    {
        ChunkQueueInit();
        {
            std::lock_guard<std::mutex> lock(Logged.mutex);
            Logged.bytes.clear();
            Logged.console.clear();
        }
        Logged.SetDoor(true);
        SetModuleHooks(ModuleHooks{nullptr, GatedReceived, nullptr, nullptr, nullptr, RecordMessage, nullptr});
        processor_ = std::thread(ChunkProcessorLoop, &stop_);
    }

    void TearDown() override
    {
        Logged.SetDoor(true);
        stop_.store(true);
        WakeChunkProcessor();
        processor_.join();
        ChunkQueueSetRoomWaitMs(1000);
        SetModuleHooks(ModuleHooks{});
        ChunkQueueInit();
    }

    // Holds the processor inside the log of a first chunk, then fills the
    // queue behind it: the chunk being logged keeps its slot until it is
    // done, so 998 more fill the 999. Returns the bytes pushed.
    Bytes FillBehindHeldProcessor()
    {
        Logged.SetDoor(false);
        Bytes pushed;
        const uint8_t first = 0xA0;
        EXPECT_EQ(ChunkQueuePushLong(&first, 1), 1u);
        pushed.push_back(first);
        Logged.WaitFor([] { return Logged.at_door > 0; });
        for (uint32_t i = 0; i < kChunkQueueSlots - 2; ++i) {
            const uint8_t b = static_cast<uint8_t>(i);
            EXPECT_EQ(ChunkQueuePushLong(&b, 1), 1u);
            pushed.push_back(b);
        }
        EXPECT_EQ(ChunkQueueCount(), kChunkQueueSlots - 1);
        return pushed;
    }

    std::atomic<bool> stop_{false};
    std::thread processor_;
};

TEST_F(HeldProcessor, ReadsPouredIntoAFullQueueWaitForRoomAndLoseNothing)
{
    // As at an open after a close: waiting is allowed again, and what was
    // armed before is dropped.
    ConfigPending.store(true);
    ChunkQueueStopWaiting();
    ChunkQueuePortOpening();
    EXPECT_FALSE(ConfigPending.load());
    // Long enough that only the processor can end the waits here.
    ChunkQueueSetRoomWaitMs(600000);
    Bytes pushed = FillBehindHeldProcessor();

    // Reads of every size, split into several slots, while the queue is full.
    Bytes more;
    for (uint32_t i = 0; i < 3000; ++i)
        more.push_back(static_cast<uint8_t>(i * 7 + 3));
    std::atomic<uint32_t> queued{0};
    std::atomic<bool> done{false};
    std::thread receive([&] {
        size_t at = 0;
        for (uint32_t size = 1; at < more.size(); size = size % 700 + 37) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, more.size() - at));
            queued += ChunkQueuePushLong(more.data() + at, n);
            at += n;
        }
        done.store(true);
    });
    // The door opens once the receive thread waits for room (or gave up).
    while (!ChunkQueueProducerWaiting() && !done.load())
        std::this_thread::yield();
    Logged.SetDoor(true);
    receive.join();
    pushed.insert(pushed.end(), more.begin(), more.end());
    ASSERT_EQ(queued.load(), more.size()) << "a read was dropped";
    WaitLogged(pushed.size());

    std::lock_guard<std::mutex> lock(Logged.mutex);
    EXPECT_TRUE(Logged.bytes == pushed) << "bytes lost or out of order";
    EXPECT_TRUE(Logged.console.empty()) << Logged.console.front();
}

TEST_F(HeldProcessor, AQueueFullPastTheBoundOrAClosedPortDropsTheReadWithTheMessage)
{
    size_t total = 0;
    for (const bool close_port : {false, true}) {
        SCOPED_TRACE(close_port ? "port closes" : "bound passes");
        // A bound so long that only the close can end the second case's wait.
        const uint32_t bound_ms = close_port ? 600000 : 20;
        ChunkQueuePortOpening();
        ChunkQueueSetRoomWaitMs(bound_ms);
        const Bytes pushed = FillBehindHeldProcessor();
        {
            std::lock_guard<std::mutex> lock(Logged.mutex);
            Logged.console.clear();
        }

        uint32_t queued = 1;
        const Bytes read(600, 0x5A);
        std::thread receive([&] { queued = ChunkQueuePushLong(read.data(), static_cast<uint32_t>(read.size())); });
        if (close_port) {
            while (!ChunkQueueProducerWaiting())
                std::this_thread::yield();
            ChunkQueueStopWaiting();
        }
        receive.join();
        EXPECT_EQ(queued, 0u);
        EXPECT_EQ(ChunkQueueCount(), kChunkQueueSlots - 1);
        {
            std::lock_guard<std::mutex> lock(Logged.mutex);
            ASSERT_EQ(Logged.console.size(), 1u);
            EXPECT_EQ(Logged.console[0], kMsgBufferFull);
        }
        // Once the processor moves, the dropped read is nowhere in the log.
        Logged.SetDoor(true);
        total += pushed.size();
        WaitLogged(total);
        while (ChunkQueueCount() != 0)
            std::this_thread::yield();
        std::lock_guard<std::mutex> lock(Logged.mutex);
        ASSERT_EQ(Logged.bytes.size(), total);
        EXPECT_TRUE(Bytes(Logged.bytes.end() - static_cast<long>(pushed.size()), Logged.bytes.end()) == pushed);
    }
}

TEST_F(HeldProcessor, TheIdleProcessorWakesForAPushAndForASkipRequest)
{
    // The processor has drained its empty queue and sleeps: only a signal
    // can make it take this chunk.
    const uint8_t chunk[3] = {1, 2, 3};
    ASSERT_EQ(ChunkQueuePushLong(chunk, 3), 3u);
    WaitLogged(3);

    // A skip request that found the queue empty must not linger and silence
    // the next burst: the woken processor clears it at once.
    RequestSkipRxLog();
    while (SkipRxLogActive())
        std::this_thread::yield();
    ASSERT_EQ(ChunkQueuePushLong(chunk, 3), 3u);
    WaitLogged(6);
}

// Lines from the processor thread reach the GUI side all, once, in order,
// with a wake-up whenever one is needed: the consumer here sleeps until a
// Push asks to wake it, as the dialog sleeps until its message arrives.
TEST(LogHandOff, EveryLineArrivesOnceInOrderAndNoWakeIsLost)
{
    LogHandOff handoff;
    WakeSignal gui_message;
    constexpr uint32_t kLines = 20000;
    std::thread processor([&] {
        for (uint32_t i = 0; i < kLines; ++i) {
            PendingLogEntry entry{i % 5 == 4 ? 'S' : 'R', i, std::to_string(i)};
            if (handoff.Push(std::move(entry)))
                gui_message.Notify();
        }
    });
    std::vector<PendingLogEntry> taken;
    uint32_t next = 0;
    while (next < kLines) {
        gui_message.Wait();
        handoff.TakeAll(taken);
        for (const PendingLogEntry &entry : taken) {
            ASSERT_EQ(entry.count, next);
            ASSERT_EQ(entry.text, std::to_string(next));
            ASSERT_EQ(entry.kind, next % 5 == 4 ? 'S' : 'R');
            ++next;
        }
    }
    processor.join();
    handoff.TakeAll(taken);
    EXPECT_TRUE(taken.empty());

    // A wake that could not be delivered is asked for again.
    EXPECT_TRUE(handoff.Push(PendingLogEntry{'T', 0, "x"}));
    EXPECT_FALSE(handoff.Push(PendingLogEntry{'T', 0, "y"}));
    handoff.WakeFailed();
    EXPECT_TRUE(handoff.Push(PendingLogEntry{'T', 0, "z"}));
    handoff.TakeAll(taken);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[2].text, "z");
}

} // namespace
