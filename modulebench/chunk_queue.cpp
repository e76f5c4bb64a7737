#include "modulebench/chunk_queue.h"

#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/crc16.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

const char kMsgBufferFull[] = "msg buffer full\r\n";
const char kMsgCheckError[] = "check error\r\n";

ChunkQueueState ChunkQueue{};
std::atomic<bool> SkipRxLog{false};

namespace {

uint32_t NextIndex(uint32_t index)
{
    return index + 1 >= kChunkQueueSlots ? 0 : index + 1;
}

bool StartsWithFourFF(const uint8_t *data, uint32_t length)
{
    return length >= 4 && data[0] == 0xFF && data[1] == 0xFF && data[2] == 0xFF && data[3] == 0xFF;
}

// Answers a verified wake-up frame with the armed configuration, if any. The
// frame is copied before the arm is claimed: once the flag reads clear the
// GUI thread may build the next frame in OutFrame, and the copy is what goes
// out. A disarm that lands between the copy and the claim wins.
void AnswerWakeUp()
{
    if (!ConfigPending.load(std::memory_order_acquire))
        return;
    uint8_t answer[kTagConfigFrameLength];
    std::memcpy(answer, OutFrame, sizeof answer);
    if (!ConfigPending.exchange(false, std::memory_order_acq_rel))
        return;

    // The write reports nothing; the answer counts as sent in any case.
    HookSerialWrite(answer, kTagConfigFrameLength);
    HookLogSent(kTagConfigFrameLength, answer);
    // A write may take up to a second. If the user armed a new configuration
    // meanwhile, the label already says it is waiting and must stay so.
    if (!ConfigPending.load(std::memory_order_acquire))
        HookShowConfigStatus(kStatusConfigured);
}

void ProcessChunk(const uint8_t *data, uint32_t length)
{
    if (!SkipRxLog.load())
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
    SkipRxLog.store(false);
}

bool ChunkQueuePush(const uint8_t *data, uint8_t length)
{
    if (length == 0)
        return false;
    const uint32_t head = ChunkQueue.head.load(std::memory_order_relaxed);
    const uint32_t next = NextIndex(head);
    // Acquire: the processor released this slot's old copy before it moved
    // the tail past it, and the slot is about to be refilled.
    if (next == ChunkQueue.tail.load(std::memory_order_acquire)) {
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
    slot.data = copy;
    ChunkQueue.head.store(next, std::memory_order_release);
    return true;
}

uint32_t ChunkQueuePushLong(const uint8_t *data, uint32_t length)
{
    uint32_t queued = 0;
    while (queued < length) {
        const uint32_t piece = length - queued < kChunkMaxLength ? length - queued : kChunkMaxLength;
        if (!ChunkQueuePush(data + queued, static_cast<uint8_t>(piece)))
            break;
        queued += piece;
    }
    return queued;
}

void ChunkReceiveSink(const uint8_t *data, uint32_t length)
{
    ChunkQueuePushLong(data, length);
}

uint32_t ChunkQueueCount()
{
    const uint32_t head = ChunkQueue.head.load(std::memory_order_acquire);
    const uint32_t tail = ChunkQueue.tail.load(std::memory_order_acquire);
    return (head + kChunkQueueSlots - tail) % kChunkQueueSlots;
}

uint32_t ChunkProcessorDrain()
{
    uint32_t taken = 0;
    uint32_t tail = ChunkQueue.tail.load(std::memory_order_relaxed);
    while (tail != ChunkQueue.head.load(std::memory_order_acquire)) {
        ChunkSlot &slot = ChunkQueue.slots[tail];
        ProcessChunk(slot.data, slot.length);
        std::free(slot.data);
        slot.data = nullptr;
        slot.length = 0;
        tail = NextIndex(tail);
        ChunkQueue.tail.store(tail, std::memory_order_release);
        ++taken;
    }
    SkipRxLog.store(false);
    return taken;
}

void ChunkProcessorLoop(const std::atomic<bool> *stop)
{
    while (stop == nullptr || !stop->load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ChunkProcessorDrain();
    }
}
