// Helpers shared by Tarnwick's core tests: building tag reports the way the
// reader does, and putting the process-wide state back to its start-up form.
#pragma once

#include "serial/crc16.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/tag_history.h"
#include "tagbench/tag_table.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A tag report: header 55 AA b2 b3 or FF FF FF FF, ID, status, the first
// (status >> 5) bytes of extra, signal, CRC (or a damaged one).
inline Bytes MakeReport(bool header55, uint32_t id, uint8_t status, int8_t signal, const uint8_t *extra = nullptr,
                        bool bad_crc = false, uint8_t b2 = 0, uint8_t b3 = 0)
{
    Bytes f;
    f.reserve(19); // one allocation: the fuzz target builds thousands of these per input
    if (header55) {
        f = {0x55, 0xAA, b2, b3};
    } else {
        f = {0xFF, 0xFF, 0xFF, 0xFF};
    }
    f.push_back(static_cast<uint8_t>(id >> 24));
    f.push_back(static_cast<uint8_t>(id >> 16));
    f.push_back(static_cast<uint8_t>(id >> 8));
    f.push_back(static_cast<uint8_t>(id));
    f.push_back(status);
    for (unsigned i = 0; i < (status >> 5u); ++i) {
        f.push_back(extra != nullptr ? extra[i] : static_cast<uint8_t>(0xA0 + i));
    }
    f.push_back(static_cast<uint8_t>(signal));
    uint16_t crc = header55 ? Crc16Modbus(f.data() + 2, f.size() - 2) : Crc16Modbus(f.data(), f.size());
    if (bad_crc) {
        crc ^= 0x0100;
    }
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc));
    return f;
}

// Two reference reports for tag 1000 at -50 dB: FF header without extra
// data, and 55 AA header with under-voltage and two extra bytes 12 34.
inline Bytes ExampleFrameFF() { return {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0xE8, 0x00, 0xCE, 0xEF, 0x41}; }
inline Bytes ExampleFrame55AA()
{
    return {0x55, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 0x41, 0x12, 0x34, 0xCE, 0x4E, 0x33};
}

// Bytes that can neither hold a header nor complete one with the next
// frame's first bytes: no 55 AA pair, no run of four FF, no trailing FF.
inline Bytes MakeJunk(std::mt19937 &rng, size_t length)
{
    Bytes j(length);
    unsigned ff_run = 0;
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = static_cast<uint8_t>(rng());
        if (b == 0xAA && i > 0 && j[i - 1] == 0x55) {
            b = 0xAB;
        }
        if (b == 0xFF && (ff_run == 3 || i + 1 == length)) {
            b = 0x00;
        }
        ff_run = b == 0xFF ? ff_run + 1 : 0;
        j[i] = b;
    }
    return j;
}

// The history clock of the tests: it moves only when a test moves it (also
// while worker threads read it).
inline std::atomic<int64_t> TestNowMs{0};
inline int64_t TestClockMs() { return TestNowMs.load(); }
inline void AdvanceTestClock(int64_t ms) { TestNowMs += ms; }

// Start-up state of every process-wide item of the core; the history clock
// stands at 100 s.
inline void ResetCoreState()
{
    TestNowMs = 100000;
    SetHistoryClock(TestClockMs);
    InitTagBench();
    std::memset(&AssemblyBuffer, 0, sizeof AssemblyBuffer);
    LastFrame55AA.store(0);
}

inline uint32_t QueuedFrames()
{
    const uint32_t head = FrameQueue.head.load();
    const uint32_t tail = FrameQueue.tail.load();
    return (head + kFrameQueueSlots - tail) % kFrameQueueSlots;
}

inline uint32_t RingBytes()
{
    return (RxRingHead.load() + kRxRingSize - RxRingTail.load()) % kRxRingSize;
}

// Takes every queued frame out (test thread acting as the table thread).
inline std::vector<Bytes> DrainQueue()
{
    std::vector<Bytes> out;
    uint32_t tail = FrameQueue.tail.load();
    while (tail != FrameQueue.head.load()) {
        const FrameSlot &s = FrameQueue.slots[tail];
        out.emplace_back(s.bytes, s.bytes + s.bytes[19]);
        tail = (tail + 1) % kFrameQueueSlots;
        FrameQueue.tail.store(tail);
    }
    return out;
}

// Feeds bytes through the ring and the assembler in one go.
inline void Feed(const Bytes &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        done += RxRingAppend(bytes.data() + done, static_cast<uint32_t>(bytes.size() - done));
        AssembleAvailableBytes();
    }
}
