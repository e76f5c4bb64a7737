// TarnwickRxProbe: Tarnwick's receive path without its window, watched from
// inside, to explain losses that scripts/measure-tarnwick finds.
//
//   tarnwick_rx_probe.exe --sim SimReader.exe --sim-log FILE --sim-args "..."
//
// Runs the product's own code: SerialOpen on COM3 at 115200, the serial
// receive thread, the frame assembler thread and the tag table thread, the
// receive ring of 499 usable bytes and the 1 ms polling loops, exactly as
// Tarnwick starts them. The only addition sits between the receive thread
// and the ring: the sink that appends each chunk to the ring first notes the
// chunk's size, how full the ring was, and how many bytes did not fit. The
// simulated reader is started on COM300; when it has ended, the probe prints
// those figures and the reports the table counted.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/win32/serial_link.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/tag_table.h"
#include "tools/driver/tarnwick_e2e.h"

namespace {

// Written by the receive thread only; read by the main thread after the
// reader has ended and the line is quiet.
struct RxFigures {
    unsigned long long chunks = 0;
    unsigned long long bytes = 0;
    unsigned long long dropped_bytes = 0;
    unsigned long long drop_events = 0;
    unsigned long long chunks_over_ring = 0; // larger than the ring could ever take
    uint32_t largest_chunk = 0;
    uint32_t fullest_ring = 0; // bytes waiting in the ring when a chunk came
    uint32_t fill_at_drop_min = kRxRingSize;
    uint32_t fill_at_drop_max = 0;
    uint32_t chunk_at_drop_max = 0;
    unsigned long long chunk_histogram[5] = {}; // <=64, <=128, <=256, <=499, >499
    double longest_gap_ms = 0; // between two chunks
    LARGE_INTEGER last = {};
};
RxFigures Rx;
LARGE_INTEGER Frequency;

void ProbeSink(const uint8_t *data, uint32_t length)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (Rx.last.QuadPart) {
        const double gap = static_cast<double>(now.QuadPart - Rx.last.QuadPart) * 1000.0 /
                           static_cast<double>(Frequency.QuadPart);
        Rx.longest_gap_ms = std::max(Rx.longest_gap_ms, gap);
    }
    Rx.last = now;
    const uint32_t head = RxRingHead.load(std::memory_order_relaxed);
    const uint32_t tail = RxRingTail.load(std::memory_order_acquire);
    const uint32_t fill = (head + kRxRingSize - tail) % kRxRingSize;
    const uint32_t stored = RxRingAppend(data, length);

    ++Rx.chunks;
    Rx.bytes += length;
    Rx.largest_chunk = std::max(Rx.largest_chunk, length);
    Rx.fullest_ring = std::max(Rx.fullest_ring, fill);
    Rx.chunk_histogram[length <= 64 ? 0 : length <= 128 ? 1 : length <= 256 ? 2 : length < kRxRingSize ? 3 : 4]++;
    if (length >= kRxRingSize)
        ++Rx.chunks_over_ring;
    if (stored < length) {
        ++Rx.drop_events;
        Rx.dropped_bytes += length - stored;
        Rx.fill_at_drop_min = std::min(Rx.fill_at_drop_min, fill);
        Rx.fill_at_drop_max = std::max(Rx.fill_at_drop_max, fill);
        Rx.chunk_at_drop_max = std::max(Rx.chunk_at_drop_max, length);
    }
}

DWORD WINAPI AssemblerThread(LPVOID)
{
    FrameAssemblerLoop(nullptr);
    return 0;
}

DWORD WINAPI TableThread(LPVOID)
{
    TagTableLoop(nullptr);
    return 0;
}

void Start(LPTHREAD_START_ROUTINE procedure)
{
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}

void NoDisplay() {}

} // namespace

int main(int argc, char **argv)
{
    std::string sim, sim_args, sim_log;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--sim")
            sim = argv[i + 1];
        else if (arg == "--sim-args")
            sim_args = argv[i + 1];
        else if (arg == "--sim-log")
            sim_log = argv[i + 1];
    }
    if (sim.empty() || sim_log.empty()) {
        std::printf("usage: tarnwick_rx_probe --sim EXE --sim-log FILE --sim-args \"...\"\n");
        return 2;
    }
    QueryPerformanceFrequency(&Frequency);
    RemoveForeignComPorts();

    // Tarnwick's start-up order, then its port open.
    SerialConfigure(SerialFlavor::Tarnwick, ProbeSink);
    Start(SerialReceiveThread);
    InitTagBench();
    Start(TableThread);
    Start(AssemblerThread);
    if (!SerialOpen("\\\\.\\COM3", 6)) {
        std::printf("probe: COM3 did not open\n");
        return 1;
    }
    ResetTagBench(NoDisplay);
    std::printf("probe: COM3 open at 115200, receive path running\n");
    std::fflush(stdout);

    tarnwick::Simulator reader;
    if (!reader.Start(sim, sim_args, sim_log)) {
        std::printf("probe: the simulated reader did not start\n");
        return 1;
    }
    reader.Wait(INFINITE);
    Sleep(500);
    CaptureEnabled.store(0, std::memory_order_release);
    SerialClose();
    Sleep(100);

    long long activity = 0;
    const int32_t count = TagCount.load(std::memory_order_acquire);
    for (int32_t i = 0; i < count; ++i)
        activity += SnapshotTag(i).activity;

    std::printf("probe: %llu chunks, %llu bytes; largest chunk %u bytes; chunks by size <=64: %llu, 65-128: %llu, "
                "129-256: %llu, 257-499: %llu, >=500: %llu\n",
                Rx.chunks, Rx.bytes, Rx.largest_chunk, Rx.chunk_histogram[0], Rx.chunk_histogram[1],
                Rx.chunk_histogram[2], Rx.chunk_histogram[3], Rx.chunk_histogram[4]);
    std::printf("probe: ring fill seen by an arriving chunk up to %u of 499 bytes; longest gap between chunks %.1f ms\n",
                Rx.fullest_ring, Rx.longest_gap_ms);
    std::printf("probe: %llu chunks did not fit (%llu bytes dropped); at those the ring already held %u to %u bytes, "
                "the chunks were up to %u bytes\n",
                Rx.drop_events, Rx.dropped_bytes, Rx.drop_events ? Rx.fill_at_drop_min : 0, Rx.fill_at_drop_max,
                Rx.chunk_at_drop_max);
    std::printf("probe: table: %d tags, activity sum %lld\n", count, activity);
    std::fflush(stdout);
    // The worker threads never stop; the process ends with them.
    ExitProcess(0);
}
