#include "modulebench/chunk_queue.h"

#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/crc16.h"
#include "serial/receive_pass.h"
#include "serial/wake_signal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char kMsgBufferFull[] = "msg buffer full\r\n";
const char kMsgCheckError[] = "check error\r\n";

ChunkQueueState ChunkQueue{};
std::atomic<uint32_t> SkipRxLogRequests{0};
std::atomic<uint32_t> SkipRxLogServed{0};
std::atomic<bool> ChunkProcessorStop{false};

namespace {

using Clock = std::chrono::steady_clock;

// Given by the receive thread after it publishes head, and by anyone who
// needs a pass of the processor; waited on by the processor alone.
WakeSignal ChunkWorkSignal;
// Given by the processor after it frees a slot while ProducerWaiting is set,
// and by ChunkQueueStopWaiting; waited on by the receive thread alone.
WakeSignal ChunkRoomSignal;
// Written by the receive thread: set around its wait for room. Read by the
// processor after each tail store. Both sides use sequentially consistent
// order (store flag, load tail / store tail, load flag), so either the
// producer sees the freed slot or the processor sees the flag.
std::atomic<bool> ProducerWaiting{false};
// Written by ChunkProcessorLoop (its thread) on entry and exit.
std::atomic<bool> ProcessorRunning{false};
// Written by the GUI thread (port close / open) and ChunkQueueInit.
std::atomic<bool> WaitingAllowed{true};
// Written by tests only.
std::atomic<uint32_t> RoomWaitMs{1000};
// Receive thread only: line errors not yet queued (the queue was full).
uint32_t PendingLineErrors = 0;
// Written by tests only.
std::atomic<void (*)()> IdleHook{nullptr};

uint32_t NextIndex(uint32_t index)
{
    return index + 1 >= kChunkQueueSlots ? 0 : index + 1;
}

bool StartsWithFourFF(const uint8_t *data, uint32_t length)
{
    return length >= 4 && data[0] == 0xFF && data[1] == 0xFF && data[2] == 0xFF && data[3] == 0xFF;
}

// Answers a verified wake-up frame with the armed configuration, if any.
// The claim hands over a whole copy of the armed frame; that copy is what
// goes out, whatever the GUI builds or arms meanwhile.
void AnswerWakeUp()
{
    uint8_t answer[kTagConfigFrameLength];
    uint32_t arm = 0;
    if (!ConfigPending.Claim(answer, &arm))
        return;

    // A frame that met no open port (a wake-up still queued when the port
    // closed) went nowhere: no S line, nothing to show.
    if (HookSerialWrite(answer, kTagConfigFrameLength).status == WriteStatus::NoPort)
        return;
    HookLogSent(kTagConfigFrameLength, answer);
    // A write may take up to a second, and the user may have re-armed,
    // unlocked, changed mode or closed meanwhile: the GUI thread decides.
    HookConfigAnswered(arm);
}

void ReportLineErrors(uint32_t flags)
{
    char words[96];
    char console[128]; // what one console message carries at most
    std::snprintf(console, sizeof console, "port error: %s\r\n", LineErrorWords(flags, words, sizeof words));
    HookConsolePrint(console);
    char note[160];
    HookLogNote(LineErrorNote(flags, note, sizeof note));
}

void ProcessChunk(const uint8_t *data, uint32_t length, bool skip_log)
{
    if (!skip_log)
        HookLogReceived(length, data);
    // Every FF FF FF FF chunk is checked as a frame of its own length: the
    // last two bytes are the CRC of everything before them.
    if (!StartsWithFourFF(data, length))
        return;
    if (Crc16Modbus(data, length - 2) != GetCrc16(data + length - 2)) {
        HookConsolePrint(kMsgCheckError);
        return;
    }
    if (length == 9 && data[4] == 0x00)
        AnswerWakeUp();
}

} // namespace

void ChunkQueueInit()
{
    for (ChunkSlot &slot : ChunkQueue.slots) {
        std::free(slot.data);
        slot.data = nullptr;
        slot.length = 0;
    }
    ChunkQueue.head.store(0);
    ChunkQueue.tail.store(0);
    ConfigPending.store(false);
    SkipRxLogServed.store(SkipRxLogRequests.load());
    PendingLineErrors = 0;
    ProducerWaiting.store(false);
    WaitingAllowed.store(true);
    ChunkWorkSignal.Clear();
    ChunkRoomSignal.Clear();
}

namespace {

// Receive thread: true once the slot after head is free, waiting for the
// processor until deadline when it is not.
bool WaitForRoom(uint32_t next, Clock::time_point deadline)
{
    // Acquire: the processor released this slot's old copy before it moved
    // the tail past it, and the slot is about to be refilled.
    if (next != ChunkQueue.tail.load(std::memory_order_acquire))
        return true;
    // Whatever is queued of this read must reach the processor before we
    // sleep, or the two threads would wait for each other.
    ChunkWorkSignal.Notify();
    bool room = false;
    ProducerWaiting.store(true);
    for (;;) {
        if (next != ChunkQueue.tail.load()) {
            room = true;
            break;
        }
        if (!WaitingAllowed.load() || !ProcessorRunning.load())
            break;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        ChunkRoomSignal.WaitFor(static_cast<uint32_t>(left));
    }
    ProducerWaiting.store(false);
    return room;
}

// Receive thread: the slot of pending line errors; false when it found no
// room (the errors stay pending).
bool PushLineErrors(Clock::time_point deadline)
{
    const uint32_t head = ChunkQueue.head.load(std::memory_order_relaxed);
    if (!WaitForRoom(NextIndex(head), deadline))
        return false;
    ChunkSlot &slot = ChunkQueue.slots[head];
    slot.length = 0;
    slot.data = nullptr;
    slot.line_errors = static_cast<uint8_t>(PendingLineErrors & kLineErrorMask);
    PendingLineErrors = 0;
    ChunkQueue.head.store(NextIndex(head), std::memory_order_release);
    return true;
}

// Receive thread: one slot of 1..255 bytes; false when dropped.
bool PushOne(const uint8_t *data, uint8_t length, Clock::time_point deadline)
{
    // Errors reported before these bytes stay before them in the queue.
    if (PendingLineErrors != 0 && !PushLineErrors(deadline)) {
        HookConsolePrint(kMsgBufferFull);
        return false;
    }
    const uint32_t head = ChunkQueue.head.load(std::memory_order_relaxed);
    const uint32_t next = NextIndex(head);
    if (!WaitForRoom(next, deadline)) {
        HookConsolePrint(kMsgBufferFull);
        return false;
    }
    auto *copy = static_cast<uint8_t *>(std::malloc(length));
    if (copy == nullptr) {
        HookConsolePrint(kMsgBufferFull);
        return false;
    }
    std::memcpy(copy, data, length);
    ChunkSlot &slot = ChunkQueue.slots[head];
    slot.length = length;
    slot.line_errors = 0;
    slot.data = copy;
    ChunkQueue.head.store(next, std::memory_order_release);
    return true;
}

Clock::time_point RoomDeadline()
{
    return Clock::now() + std::chrono::milliseconds(RoomWaitMs.load());
}

} // namespace

bool ChunkQueuePush(const uint8_t *data, uint8_t length)
{
    if (length == 0)
        return false;
    const bool queued = PushOne(data, length, RoomDeadline());
    if (queued)
        ChunkWorkSignal.Notify();
    return queued;
}

uint32_t ChunkQueuePushLong(const uint8_t *data, uint32_t length)
{
    // One bound for the whole read: a stuck processor holds the receive
    // thread about a second per read, not per slot.
    const Clock::time_point deadline = RoomDeadline();
    uint32_t queued = 0;
    while (queued < length) {
        const uint32_t piece = length - queued < kChunkMaxLength ? length - queued : kChunkMaxLength;
        if (!PushOne(data + queued, static_cast<uint8_t>(piece), deadline))
            break;
        queued += piece;
    }
    if (queued != 0)
        ChunkWorkSignal.Notify();
    return queued;
}

void ChunkReceiveSink(const uint8_t *data, uint32_t length)
{
    ChunkQueuePushLong(data, length);
}

void ChunkQueueLineErrors(uint32_t flags)
{
    PendingLineErrors |= flags & kLineErrorMask;
    if (PendingLineErrors == 0)
        return;
    if (PushLineErrors(RoomDeadline()))
        ChunkWorkSignal.Notify();
}

const char *LineErrorNote(uint32_t flags, char *out, uint32_t size)
{
    static const struct {
        uint32_t flag;
        const char *word;
    } kWords[] = {
        {kLineErrorOverrun, "硬件溢出"},   {kLineErrorRxOver, "接收队列溢出"}, {kLineErrorFraming, "帧错误"},
        {kLineErrorParity, "校验错误"}, {kLineErrorBreak, "线路中断"},
    };
    std::string words;
    for (const auto &w : kWords) {
        if ((flags & w.flag) == 0)
            continue;
        if (!words.empty())
            words += "、";
        words += w.word;
    }
    std::snprintf(out, size, "串口接收错误（%s），此处有数据丢失", words.c_str());
    return out;
}

uint32_t ChunkQueueCount()
{
    const uint32_t head = ChunkQueue.head.load(std::memory_order_acquire);
    const uint32_t tail = ChunkQueue.tail.load(std::memory_order_acquire);
    return (head + kChunkQueueSlots - tail) % kChunkQueueSlots;
}

bool SkipRxLogActive()
{
    return SkipRxLogRequests.load() != SkipRxLogServed.load();
}

uint32_t ChunkProcessorDrain()
{
    uint32_t taken = 0;
    uint32_t tail = ChunkQueue.tail.load(std::memory_order_relaxed);
    for (;;) {
        // Read before the look at the queue: only the requests made before
        // it is found empty are served by this pass.
        const uint32_t requested = SkipRxLogRequests.load();
        if (tail == ChunkQueue.head.load(std::memory_order_acquire)) {
            if (void (*hook)() = IdleHook.load())
                hook();
            SkipRxLogServed.store(requested);
            return taken;
        }
        ChunkSlot &slot = ChunkQueue.slots[tail];
        if (slot.line_errors != 0)
            ReportLineErrors(slot.line_errors);
        if (slot.length != 0)
            ProcessChunk(slot.data, slot.length, SkipRxLogActive());
        std::free(slot.data);
        slot.data = nullptr;
        slot.length = 0;
        slot.line_errors = 0;
        tail = NextIndex(tail);
        ChunkQueue.tail.store(tail);
        if (ProducerWaiting.load())
            ChunkRoomSignal.Notify();
        ++taken;
    }
}

void SetChunkProcessorIdleHook(void (*hook)())
{
    IdleHook.store(hook);
}

void RequestChunkProcessorStop()
{
    ChunkProcessorStop.store(true);
    ChunkWorkSignal.Notify();
}

void ChunkProcessorLoop(const std::atomic<bool> *stop)
{
    ProcessorRunning.store(true);
    for (;;) {
        ChunkProcessorDrain();
        if (stop != nullptr && stop->load())
            break;
        ChunkWorkSignal.Wait();
    }
    ProcessorRunning.store(false);
    // A producer waiting for this processor must not wait for nothing.
    ChunkRoomSignal.Notify();
}

bool ChunkQueueProducerWaiting()
{
    return ProducerWaiting.load();
}

void WakeChunkProcessor()
{
    ChunkWorkSignal.Notify();
}

void RequestSkipRxLog()
{
    SkipRxLogRequests.fetch_add(1);
    ChunkWorkSignal.Notify();
}

void ChunkQueueStopWaiting()
{
    WaitingAllowed.store(false);
    ChunkRoomSignal.Notify();
}

void ChunkQueuePortOpening()
{
    WaitingAllowed.store(true);
    ConfigPending.store(false);
}

void ChunkQueueSetRoomWaitMs(uint32_t milliseconds)
{
    RoomWaitMs.store(milliseconds);
}
