// Frames per second through Tarnwick's inbound path, on one thread, against
// what a reader can send: 12-byte frames at 10 bits a byte are 960 frames/s
// at 115200 baud and 7680 frames/s at 921600 baud. The counters
// vs_115200_baud and vs_921600_baud are the measured rate divided by those
// demands (how many such lines one core could keep up with).
//
// BM_FullTableRefusing: the same path when the table is full and every
// report is of a tag it cannot take (the count of refused tags).
// BM_JudgeBatch: the batch check's work per refresh on the GUI thread, the
// locked copy of a full table and the judgement of 3000 expected IDs.
#include "serial/crc16.h"
#include "tagbench/acceptance.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/tag_table.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr double kFramesAt115200 = 115200.0 / 10 / 12;
constexpr double kFramesAt921600 = 921600.0 / 10 / 12;

void AppendReport(Bytes &out, bool header55, uint32_t id, uint8_t status, int8_t signal)
{
    const size_t start = out.size();
    if (header55) {
        out.insert(out.end(), {0x55, 0xAA, 0x00, 0x00});
    } else {
        out.insert(out.end(), {0xFF, 0xFF, 0xFF, 0xFF});
    }
    out.insert(out.end(), {static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
                           static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), status});
    for (unsigned i = 0; i < (status >> 5u); ++i) {
        out.push_back(static_cast<uint8_t>(i));
    }
    out.push_back(static_cast<uint8_t>(signal));
    const size_t from = header55 ? start + 2 : start;
    const uint16_t crc = Crc16Modbus(out.data() + from, out.size() - from);
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
}

// Reports of IDs 0..tags-1 (times 7919, so they do not arrive sorted), mixed
// header kinds and lengths 12 to 19. worst_case: always the highest ID, the
// longest scan of the table.
Bytes MakeStream(uint32_t tags, bool worst_case)
{
    std::mt19937 rng(1);
    Bytes s;
    for (int i = 0; i < 60000; ++i) {
        const uint32_t n = worst_case ? tags - 1 : rng() % tags;
        AppendReport(s, rng() % 2 == 0, n * 7919u, static_cast<uint8_t>((rng() % 8) << 5),
                     static_cast<int8_t>(-30 - rng() % 50));
    }
    return s;
}

void Prepare(uint32_t tags)
{
    InitTagBench();
    std::memset(&AssemblyBuffer, 0, sizeof AssemblyBuffer);
    CaptureEnabled.store(1);
    for (uint32_t n = 0; n < tags; ++n) {
        Bytes f;
        AppendReport(f, false, n * 7919u, 0, -40);
        EnterFrame(f.data(), static_cast<uint32_t>(f.size()));
    }
}

double ThreadCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Throughput {
    int64_t frames;
    double cpu_seconds;
};

// Feeds the stream in blocks that fit the ring and counts the frames taken
// out of the queue; with_table enters them, otherwise they are just released.
// CPU time rather than wall time: the build machine is shared.
template <bool with_table>
Throughput RunBlocks(benchmark::State &state, const Bytes &stream)
{
    int64_t frames = 0;
    size_t at = 0;
    const double started = ThreadCpuSeconds();
    for (auto _ : state) {
        const size_t block = std::min<size_t>(480, stream.size() - at);
        const uint32_t stored = RxRingAppend(stream.data() + at, static_cast<uint32_t>(block));
        at += stored;
        if (at == stream.size()) {
            at = 0; // the stream ends on a frame boundary
        }
        AssembleAvailableBytes();
        if (with_table) {
            frames += ProcessQueuedFrames();
        } else {
            const uint32_t head = FrameQueue.head.load(std::memory_order_acquire);
            const uint32_t tail = FrameQueue.tail.load(std::memory_order_relaxed);
            frames += (head + kFrameQueueSlots - tail) % kFrameQueueSlots;
            FrameQueue.tail.store(head, std::memory_order_release);
        }
    }
    return Throughput{frames, ThreadCpuSeconds() - started};
}

void SetCounters(benchmark::State &state, const Throughput &t)
{
    const double rate = t.cpu_seconds > 0 ? static_cast<double>(t.frames) / t.cpu_seconds : 0.0;
    state.counters["frames_per_s"] = rate;
    state.counters["vs_115200_baud"] = rate / kFramesAt115200;
    state.counters["vs_921600_baud"] = rate / kFramesAt921600;
}

void BM_Assembler(benchmark::State &state)
{
    const Bytes stream = MakeStream(3000, false);
    Prepare(0);
    SetCounters(state, RunBlocks<false>(state, stream));
}
BENCHMARK(BM_Assembler);

void BM_AssemblerAndTable(benchmark::State &state)
{
    const uint32_t tags = static_cast<uint32_t>(state.range(0));
    const bool worst = state.range(1) != 0;
    const Bytes stream = MakeStream(tags, worst);
    Prepare(tags);
    SetCounters(state, RunBlocks<true>(state, stream));
    if (TagCount.load() != static_cast<int32_t>(tags)) {
        state.SkipWithError("the table did not hold the prepared tags");
    }
}
BENCHMARK(BM_AssemblerAndTable)->ArgNames({"tags", "highest_id_only"})->Args({3000, 0})->Args({3000, 1});

void BM_FullTableRefusing(benchmark::State &state)
{
    // 3000 further IDs, none of them in the table.
    std::mt19937 rng(2);
    Bytes stream;
    for (int i = 0; i < 60000; ++i)
        AppendReport(stream, rng() % 2 == 0, (3000 + rng() % 3000) * 7919u, 0, -50);
    Prepare(kMaxTags);
    SetCounters(state, RunBlocks<true>(state, stream));
    if (TagCount.load() != kMaxTags || RefusedTagCount.load() == 0)
        state.SkipWithError("the refused tags were not counted");
}
BENCHMARK(BM_FullTableRefusing);

void BM_JudgeBatch(benchmark::State &state)
{
    Prepare(kMaxTags);
    std::vector<uint32_t> expected;
    for (uint32_t n = 0; n < kMaxTags; ++n)
        expected.push_back(n * 7919u);
    std::vector<AcceptanceTag> tags;
    AcceptanceJudgement judgement;
    int32_t refused = 0;
    for (auto _ : state) {
        SnapshotForAcceptance(&tags, &refused);
        JudgeAcceptance(expected, tags, AcceptanceCriteria(), refused, &judgement);
        benchmark::DoNotOptimize(judgement.counts.passed);
    }
    if (judgement.counts.expected != kMaxTags || judgement.counts.arrived != 0)
        state.SkipWithError("not the judgement of a full table"); // one report each: fewer than 3
}
BENCHMARK(BM_JudgeBatch)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
