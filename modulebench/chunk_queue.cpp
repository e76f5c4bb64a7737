#include "modulebench/chunk_queue.h"

#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/sent_frames.h"
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
const char kReopenDisarmedNote[] = "打开串口时取消了之前等待生效的配置（未发出）";

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
// Bytes dropped for want of room and not yet told in the log. Added to by
// the receive thread; taken whole (exchange) by the receive thread into the
// next slot it queues, or by the processor when it finds the queue empty,
// so each dropped byte is told once, at its place in the stream.
std::atomic<uint64_t> UntoldDroppedBytes{0};
// Processor thread only: chunks (and their bytes) taken unlogged under the
// skip requests not yet served.
uint32_t SkippedChunks = 0;
uint64_t SkippedBytes = 0;
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

    const SerialWriteOutcome outcome = HookSerialWrite(answer, kTagConfigFrameLength);
    if (LogWriteOutcome(SentFrame::ConfigAnswer, answer, kTagConfigFrameLength, outcome)) {
        // A write may take up to a second, and the user may have re-armed,
        // unlocked, changed mode or closed meanwhile: the GUI thread decides.
        HookConfigAnswered(arm);
        return;
    }
    // The tag got nothing whole: the arming waits for its next wake-up,
    // unless the user has replaced or withdrawn it meanwhile.
    ConfigPending.Restore(answer, arm);
    HookConfigNotSent(arm, outcome, kTagConfigFrameLength);
}

void ReportDropped(uint64_t bytes)
{
    char note[160];
    HookLogNote(DroppedBytesNote(bytes, note, sizeof note));
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
        slot.line_errors = 0;
        slot.dropped = 0;
    }
    ChunkQueue.head.store(0);
    ChunkQueue.tail.store(0);
    ConfigPending.store(false);
    SkipRxLogServed.store(SkipRxLogRequests.load());
    PendingLineErrors = 0;
    UntoldDroppedBytes.store(0);
    SkippedChunks = 0;
    SkippedBytes = 0;
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
    slot.dropped = UntoldDroppedBytes.exchange(0);
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
    slot.dropped = UntoldDroppedBytes.exchange(0);
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
    if (!queued)
        UntoldDroppedBytes.fetch_add(length);
    // Also after a drop: the processor tells it once it finds room.
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
    if (queued != length)
        UntoldDroppedBytes.fetch_add(length - queued);
    if (length != 0)
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

const char *DroppedBytesNote(uint64_t bytes, char *out, uint32_t size)
{
    std::snprintf(out, size, "接收队列已满，等待后仍无空位：此处丢失 %llu 字节", static_cast<unsigned long long>(bytes));
    return out;
}

const char *SkippedChunksNote(uint32_t chunks, uint64_t bytes, char *out, uint32_t size)
{
    std::snprintf(out, size, "关闭串口或切换透传时队列中还有 %u 块数据（%llu 字节），已处理，未记入日志", chunks,
                  static_cast<unsigned long long>(bytes));
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
            // Drops after the last chunk queued: told here, after it.
            if (const uint64_t dropped = UntoldDroppedBytes.exchange(0))
                ReportDropped(dropped);
            if (requested == SkipRxLogRequests.load() && SkippedChunks != 0) {
                char note[192];
                HookLogNote(SkippedChunksNote(SkippedChunks, SkippedBytes, note, sizeof note));
                SkippedChunks = 0;
                SkippedBytes = 0;
            }
            SkipRxLogServed.store(requested);
            return taken;
        }
        ChunkSlot &slot = ChunkQueue.slots[tail];
        if (slot.dropped != 0)
            ReportDropped(slot.dropped);
        if (slot.line_errors != 0)
            ReportLineErrors(slot.line_errors);
        if (slot.length != 0) {
            const bool skip = SkipRxLogActive();
            if (skip) {
                ++SkippedChunks;
                SkippedBytes += slot.length;
            }
            ProcessChunk(slot.data, slot.length, skip);
        }
        std::free(slot.data);
        slot.data = nullptr;
        slot.length = 0;
        slot.line_errors = 0;
        slot.dropped = 0;
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

bool ChunkQueuePortOpening()
{
    WaitingAllowed.store(true);
    const bool armed = ConfigPending.load();
    // Always: an arming whose answer is being written now must not be put
    // back if that write fails.
    ConfigPending.store(false);
    if (armed)
        HookLogNote(kReopenDisarmedNote);
    return armed;
}

void ChunkQueueSetRoomWaitMs(uint32_t milliseconds)
{
    RoomWaitMs.store(milliseconds);
}
