// Throughput of the receive path's portable work: what one 1024-byte read at
// line rate costs from the sink to the formatted log lines, and the parts.
#include "modulebench/chunk_queue.h"
#include "modulebench/hex_text.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::string Line;

void FormatReceived(uint32_t count, const uint8_t *bytes)
{
    AddRxBytes(count);
    FormatLogLine('R', 12, 34, 56, bytes, count, Line);
    benchmark::DoNotOptimize(Line.data());
}

void BM_FormatLogLine(benchmark::State &state)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)), 0xA5);
    std::string line;
    for (auto _ : state) {
        FormatLogLine('R', 12, 34, 56, bytes.data(), static_cast<uint32_t>(bytes.size()), line);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FormatLogLine)->Arg(9)->Arg(255);

// Sink, queue, processor and line formatting for one read, single thread.
void BM_ReadToLogLines(benchmark::State &state)
{
    ChunkQueueInit();
    SetModuleHooks(ModuleHooks{nullptr, FormatReceived, nullptr, nullptr, nullptr, nullptr});
    std::vector<uint8_t> read(static_cast<size_t>(state.range(0)), 0x3C);
    for (auto _ : state) {
        ChunkReceiveSink(read.data(), static_cast<uint32_t>(read.size()));
        ChunkProcessorDrain();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    SetModuleHooks(ModuleHooks{});
    ChunkQueueInit();
}
BENCHMARK(BM_ReadToLogLines)->Arg(9)->Arg(255)->Arg(1024);

void BM_ParseHexText(benchmark::State &state)
{
    std::string text;
    while (text.size() + 3 <= kHexTextMaxChars)
        text += "a5 ";
    uint8_t out[kHexMaxBytes];
    for (auto _ : state) {
        HexParseResult r = ParseHexText(text.data(), text.size(), out);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseHexText);

} // namespace
