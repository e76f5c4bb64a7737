// The receive path with real threads: a producer pushing as the serial
// receive thread does, the processor loop draining, and a GUI thread arming
// configurations and clearing counters. Meant to run under ThreadSanitizer.
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/tests/test_hooks.h"
#include "serial/crc16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace {

// Every third answer times out: it is put back while the GUI thread may be
// arming the next configuration, and must come back only if still current.
TEST(ReceivePathConcurrency, EveryByteLoggedOnceInOrderWhileConfigurationsAreAnswered)
{
    ChunkQueueInit();
    InstallRecorder(); // written by the processor thread alone, read after the join
    Recorded.time_out_every = 3;
    std::atomic<bool> stop_processor{false};
    std::atomic<bool> producer_done{false};
    std::thread processor(ChunkProcessorLoop, &stop_processor);

    // GUI thread: arms configuration k as soon as the previous one has been
    // claimed, so OutFrame is rebuilt right after each hand-over.
    std::atomic<uint32_t> armed{0};
    std::thread gui([&] {
        for (uint32_t k = 1; k <= 200 && !producer_done.load(); ++k) {
            while (ConfigPending.load(std::memory_order_acquire) && !producer_done.load())
                std::this_thread::yield();
            BuildTagConfigFrame(static_cast<int32_t>(k), 5, 10);
            ConfigPending.store(true, std::memory_order_release);
            armed.store(k);
        }
    });

    Bytes pushed;
    std::mt19937 rng(12345);
    std::uniform_int_distribution<uint32_t> length_of(1, 1024);
    std::uniform_int_distribution<uint32_t> byte_of(0, 255);
    uint32_t wake_ups = 0;
    for (uint32_t chunk = 0; chunk < 4000; ++chunk) {
        // Wait for room for the largest read (5 slots): this test is about
        // order and hand-over, not about dropping.
        while (kChunkQueueSlots - 1 - ChunkQueueCount() < 5)
            std::this_thread::yield();
        Bytes data;
        if (chunk % 10 == 0) {
            data = WakeUpFrame(static_cast<uint8_t>(chunk), static_cast<uint8_t>(~chunk));
            ++wake_ups;
        } else {
            data.resize(chunk % 3 == 0 ? length_of(rng) : length_of(rng) % 40 + 1);
            for (uint8_t &b : data)
                b = static_cast<uint8_t>(byte_of(rng));
            data[0] = 0x00; // never an FF FF FF FF head by chance
        }
        ChunkReceiveSink(data.data(), static_cast<uint32_t>(data.size()));
        pushed.insert(pushed.end(), data.begin(), data.end());
    }
    while (ChunkQueueCount() != 0)
        std::this_thread::yield();
    producer_done.store(true);
    gui.join();
    // One more pass after the GUI stopped, so the last arm meets no wake-up.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop_processor.store(true);
    WakeChunkProcessor();
    processor.join();

    EXPECT_TRUE(Recorded.TextsOf(HookEvent::Console).empty());
    Bytes logged;
    for (const Bytes &chunk : Recorded.Of(HookEvent::Received)) {
        ASSERT_LE(chunk.size(), kChunkMaxLength);
        logged.insert(logged.end(), chunk.begin(), chunk.end());
    }
    ASSERT_EQ(logged.size(), pushed.size());
    EXPECT_TRUE(logged == pushed);

    // Every answer that went out is an intact configuration frame, each arm
    // sent once, in the order armed and named by its number; each that did
    // not is a note, and never an S line.
    const std::vector<Bytes> answers = Recorded.Of(HookEvent::Sent);
    const std::vector<std::string> answered = Recorded.TextsOf(HookEvent::Answered);
    const size_t writes = Recorded.Of(HookEvent::Write).size();
    ASSERT_GT(answers.size(), 0u);
    EXPECT_LE(answers.size(), std::min<size_t>(wake_ups, armed.load()));
    EXPECT_EQ(writes / 3, Recorded.TextsOf(HookEvent::Note).size());
    EXPECT_EQ(writes - writes / 3, answers.size());
    ASSERT_EQ(answered.size(), answers.size());
    uint32_t last_id = 0;
    for (size_t i = 0; i < answers.size(); ++i) {
        const Bytes &a = answers[i];
        ASSERT_EQ(a.size(), kTagConfigFrameLength);
        EXPECT_EQ(GetCrc16(a.data() + 10), Crc16Modbus(a.data(), 10));
        const uint32_t id = (uint32_t(a[5]) << 16) | (uint32_t(a[6]) << 8) | a[7];
        EXPECT_GT(id, last_id);
        last_id = id;
        EXPECT_TRUE(i == 0 || std::stoul(answered[i]) > std::stoul(answered[i - 1]));
    }

    SetModuleHooks(ModuleHooks{});
    ChunkQueueInit();
}

// The program's exit while the module sends: the receive thread is let go
// of its wait for room and stopped first, then the processor, which runs on
// &ChunkProcessorStop as in the program. Every thread has then returned, so
// the queue may be emptied and the hooks replaced at once; a processor
// still running would meet that (the sanitizers report it).
TEST(ReceivePathConcurrency, TheExitStopsEveryThreadWhileTrafficFlows)
{
    ChunkQueueInit();
    InstallRecorder();
    ChunkProcessorStop.store(false);
    std::atomic<bool> receiver_stop{false};
    std::thread processor(ChunkProcessorLoop, &ChunkProcessorStop);
    std::thread receiver([&] {
        Bytes data(300);
        for (uint32_t n = 0; !receiver_stop.load(); ++n) {
            for (uint8_t &b : data)
                b = static_cast<uint8_t>(n);
            data[0] = 0x00;
            ChunkReceiveSink(data.data(), static_cast<uint32_t>(data.size()));
            if (n % 50 == 0)
                ChunkQueueLineErrors(0x02);
        }
    });
    while (ChunkQueueCount() == 0)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    ChunkQueueStopWaiting();
    receiver_stop.store(true);
    receiver.join();
    RequestChunkProcessorStop();
    processor.join();

    SetModuleHooks(ModuleHooks{});
    ChunkQueueInit();
    ChunkProcessorStop.store(false);
    EXPECT_FALSE(Recorded.Of(HookEvent::Received).empty());
}

} // namespace
