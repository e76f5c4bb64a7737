// Receive ring, frame assembler and frame queue.
//
// The assembler reads the ring one byte at a time because the reader gives no
// framing beyond its headers: a 4-byte window slides along the stream until
// it reads 55 AA xx xx or FF FF FF FF, and the frame is then cut at the length
// its own status byte announces. Damaged frames are cut anyway and left to
// the CRC check of the tag table, which keeps this thread trivial and fast.
//
// Index ownership never changes, not even for a reset: the GUI thread only
// raises RingResetRequest, and each consumer catches its own tail up with the
// head it sees, then acknowledges with the request number it served.
#include "tagbench/frame_assembler.h"

#include <chrono>
#include <cstring>
#include <thread>

uint8_t RxRing[kRxRingSize];
std::atomic<uint32_t> RxRingHead{0};
std::atomic<uint32_t> RxRingTail{0};

AssemblyBufferState AssemblyBuffer;
FrameQueueState FrameQueue;

std::atomic<uint32_t> CaptureEnabled{0};
std::atomic<uint32_t> LastFrame55AA{0};

namespace {

// Written by the GUI thread (RequestRingReset): number of the latest request.
std::atomic<uint32_t> RingResetRequest{0};
// Written by the assembler thread: number of the last request it served.
std::atomic<uint32_t> RxRingResetAck{0};
// Written by the tag table thread: number of the last request it served.
std::atomic<uint32_t> FrameQueueResetAck{0};

constexpr uint32_t kResetWaitSteps = 200; // 1 ms each

inline uint32_t NextRxIndex(uint32_t i) { return i + 1 == kRxRingSize ? 0 : i + 1; }
inline uint32_t NextSlot(uint32_t i) { return i + 1 == kFrameQueueSlots ? 0 : i + 1; }

inline bool IsFrameHeader(const uint8_t *b)
{
    if (b[0] == 0x55 && b[1] == 0xAA) {
        return true;
    }
    return b[0] == 0xFF && b[1] == 0xFF && b[2] == 0xFF && b[3] == 0xFF;
}

// Assembler thread. Returns the tail to continue from.
uint32_t ServeRxRingReset(uint32_t tail)
{
    const uint32_t request = RingResetRequest.load(std::memory_order_acquire);
    if (request == RxRingResetAck.load(std::memory_order_relaxed)) {
        return tail;
    }
    tail = RxRingHead.load(std::memory_order_acquire);
    RxRingTail.store(tail, std::memory_order_release);
    RxRingResetAck.store(request, std::memory_order_release);
    return tail;
}

} // namespace

uint32_t RxRingAppend(const uint8_t *data, uint32_t length)
{
    if (data == nullptr) {
        return 0;
    }
    uint32_t head = RxRingHead.load(std::memory_order_relaxed);
    uint32_t tail = RxRingTail.load(std::memory_order_acquire);
    uint32_t stored = 0;
    while (stored < length) {
        const uint32_t next = NextRxIndex(head);
        if (next == tail) {
            break; // full: this byte and the rest of the block are dropped
        }
        RxRing[head] = data[stored];
        head = next;
        ++stored;
    }
    if (stored != 0) {
        RxRingHead.store(head, std::memory_order_release);
    }
    return stored;
}

void PushFrame(const uint8_t *frame, uint32_t length)
{
    if (length > kMaxFrameLength) {
        return;
    }
    // The flag follows every complete frame, even one the full queue drops:
    // the reminder answers in the reader's header kind, not the queue's.
    LastFrame55AA.store(length >= 2 && frame[0] == 0x55 && frame[1] == 0xAA ? 1 : 0,
                        std::memory_order_relaxed);

    const uint32_t head = FrameQueue.head.load(std::memory_order_relaxed);
    const uint32_t next = NextSlot(head);
    if (next == FrameQueue.tail.load(std::memory_order_acquire)) {
        return;
    }
    FrameSlot &slot = FrameQueue.slots[head];
    std::memcpy(slot.bytes, frame, length);
    slot.bytes[19] = static_cast<uint8_t>(length);
    FrameQueue.head.store(next, std::memory_order_release);
}

void AssembleByte(uint8_t byte)
{
    AssemblyBufferState &a = AssemblyBuffer;
    a.bytes[a.fill] = byte;
    ++a.fill;
    if (a.fill < 4) {
        return;
    }
    if (a.fill == 4) {
        if (!IsFrameHeader(a.bytes)) {
            a.bytes[0] = a.bytes[1];
            a.bytes[1] = a.bytes[2];
            a.bytes[2] = a.bytes[3];
            a.fill = 3;
        }
        return;
    }
    // Byte 8 may still hold an older frame's status while fill is 5 to 8, but
    // no length is below 12, so the cut cannot happen before byte 8 is ours.
    // The longest frame is 19 bytes, so fill never passes 19.
    if (a.fill == 12u + (a.bytes[8] >> 5)) {
        if (CaptureEnabled.load(std::memory_order_relaxed) != 0) {
            PushFrame(a.bytes, a.fill);
        }
        a.fill = 0;
    }
}

uint32_t AssembleAvailableBytes()
{
    uint32_t taken = 0;
    uint32_t tail = RxRingTail.load(std::memory_order_relaxed);
    for (;;) {
        tail = ServeRxRingReset(tail);
        const uint32_t head = RxRingHead.load(std::memory_order_acquire);
        if (tail == head) {
            return taken;
        }
        while (tail != head) {
            const uint8_t byte = RxRing[tail];
            tail = NextRxIndex(tail);
            // Released at once: the receive thread gets the room back byte by
            // byte, which matters when a burst meets an almost full ring.
            RxRingTail.store(tail, std::memory_order_release);
            AssembleByte(byte);
            ++taken;
        }
    }
}

void FrameAssemblerLoop(const std::atomic<bool> *stop)
{
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_acquire)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        AssembleAvailableBytes();
    }
}

void RequestRingReset()
{
    const uint32_t request = RingResetRequest.fetch_add(1, std::memory_order_acq_rel) + 1;
    for (uint32_t step = 0; step < kResetWaitSteps; ++step) {
        if (RxRingResetAck.load(std::memory_order_acquire) == request &&
            FrameQueueResetAck.load(std::memory_order_acquire) == request) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ServeFrameQueueReset()
{
    const uint32_t request = RingResetRequest.load(std::memory_order_acquire);
    if (request == FrameQueueResetAck.load(std::memory_order_relaxed)) {
        return;
    }
    // Only after the assembler has emptied RxRing: until then it may still
    // push frames cut from bytes received before the reset.
    if (RxRingResetAck.load(std::memory_order_acquire) != request) {
        return;
    }
    FrameQueue.tail.store(FrameQueue.head.load(std::memory_order_acquire), std::memory_order_release);
    FrameQueueResetAck.store(request, std::memory_order_release);
}

void ResetRingIndicesUnthreaded()
{
    RxRingHead.store(0, std::memory_order_relaxed);
    RxRingTail.store(0, std::memory_order_relaxed);
    FrameQueue.head.store(0, std::memory_order_relaxed);
    FrameQueue.tail.store(0, std::memory_order_relaxed);
    const uint32_t request = RingResetRequest.load(std::memory_order_relaxed);
    RxRingResetAck.store(request, std::memory_order_relaxed);
    FrameQueueResetAck.store(request, std::memory_order_release);
}
