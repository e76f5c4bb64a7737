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
//
// Doorbells: each waiting thread has one WakeSignal, and whoever may have
// given it something to do notifies it after publishing. A producer that
// waits for room raises its "wanted" flag and then looks at the tail again;
// its consumer stores the tail and then looks at the flag, all four accesses
// sequentially consistent. One of the two stores comes first, so either the
// producer sees the room or the consumer sees the flag and rings: no wake-up
// is lost. While no producer waits the consumer pays one such store and load
// per batch, not per byte.
#include "tagbench/frame_assembler.h"

#include "serial/wake_signal.h"

#include <chrono>
#include <cstring>

uint8_t RxRing[kRxRingSize];
uint8_t RxRingBreak[kRxRingSize];
std::atomic<uint32_t> RxRingHead{0};
std::atomic<uint32_t> RxRingTail{0};

AssemblyBufferState AssemblyBuffer;
FrameQueueState FrameQueue;

std::atomic<uint32_t> CaptureEnabled{0};
std::atomic<uint32_t> LastFrame55AA{0};

std::atomic<bool> RxRoomWanted{false};
std::atomic<bool> FrameSlotWanted{false};
std::atomic<uint32_t> PortErrorCount{0};
std::atomic<bool> InboundStop{false};

namespace {

using Clock = std::chrono::steady_clock;

// The assembler waits on AssemblerWake: notified by the receive thread after
// publishing bytes, by the table thread after freeing slots the assembler
// wants, and by the GUI thread for a reset (and by tests to stop the loop).
WakeSignal AssemblerWake;
// The table thread waits on TableWake: notified by the assembler after
// publishing frames and after serving its part of a reset, by the GUI thread
// for a reset (and by tests).
WakeSignal TableWake;
// The receive thread waits on ReceiverWake for room in RxRing: notified by
// the assembler after freeing room it wants, and by StopCapture.
WakeSignal ReceiverWake;
// RequestRingReset (GUI thread) waits on ResetServed: notified by either
// consumer after it acknowledged a request.
WakeSignal ResetServed;

// A hole precedes the next byte stored. Set by the receive thread (line
// errors, a loss, a dropped chunk) and by the GUI thread (a loss it found
// itself); taken by the receive thread when it stores a byte.
std::atomic<bool> BreakPending{false};

// Assembler thread only: frames queued since TableWake was last notified,
// and the stop flag of the loop it runs in (tests), which also ends a wait
// for a slot.
uint32_t FramesSinceWake = 0;
const std::atomic<bool> *AssemblerStop = nullptr;

// Written by the GUI thread (RequestRingReset): number of the latest request.
std::atomic<uint32_t> RingResetRequest{0};
// Written by the assembler thread: number of the last request it served.
std::atomic<uint32_t> RxRingResetAck{0};
// Written by the tag table thread: number of the last request it served.
std::atomic<uint32_t> FrameQueueResetAck{0};

constexpr uint32_t kResetWaitMs = 200;

inline uint32_t NextRxIndex(uint32_t i) { return i + 1 == kRxRingSize ? 0 : i + 1; }
inline uint32_t NextSlot(uint32_t i) { return i + 1 == kFrameQueueSlots ? 0 : i + 1; }

inline bool IsFrameHeader(const uint8_t *b)
{
    if (b[0] == 0x55 && b[1] == 0xAA) {
        return true;
    }
    return b[0] == 0xFF && b[1] == 0xFF && b[2] == 0xFF && b[3] == 0xFF;
}

uint32_t MillisecondsLeft(Clock::time_point deadline)
{
    const auto now = Clock::now();
    if (now >= deadline) {
        return 0;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<uint32_t>(left) + 1; // never 0 while time is left
}

// Assembler thread, after moving RxRingTail on to tail: rings the receive
// thread if it waits for room.
void OfferRoomToReceiver(uint32_t tail)
{
    RxRingTail.store(tail, std::memory_order_seq_cst);
    if (RxRoomWanted.load(std::memory_order_seq_cst)) {
        ReceiverWake.Notify();
    }
}

// Assembler thread: tells the table thread about the frames queued since.
void WakeTableForFrames()
{
    if (FramesSinceWake != 0) {
        FramesSinceWake = 0;
        TableWake.Notify();
    }
}

// Assembler thread: a reset request it has not served yet.
bool RxRingResetPending()
{
    return RingResetRequest.load(std::memory_order_acquire) != RxRingResetAck.load(std::memory_order_relaxed);
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
    OfferRoomToReceiver(tail);
    TableWake.Notify(); // its half of the reset waits for ours
    ResetServed.Notify();
    return tail;
}

// Assembler thread: the queue is full (next is the slot after head). Waits
// for the table thread to free a slot. True when one is free.
bool WaitForFrameSlot(uint32_t next, uint32_t slot_wait_ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(slot_wait_ms);
    // The table thread must know of every frame already queued, and the
    // receive thread may refill what this batch has freed meanwhile.
    FramesSinceWake = 0;
    TableWake.Notify();
    OfferRoomToReceiver(RxRingTail.load(std::memory_order_relaxed));
    FrameSlotWanted.store(true, std::memory_order_seq_cst);
    bool free = false;
    for (;;) {
        if (next != FrameQueue.tail.load(std::memory_order_seq_cst)) {
            free = true;
            break;
        }
        if (RxRingResetPending()) {
            break; // the frame is made of bytes the reset discards
        }
        if (AssemblerStop != nullptr && AssemblerStop->load(std::memory_order_acquire)) {
            break;
        }
        const uint32_t left = MillisecondsLeft(deadline);
        if (left == 0 || !AssemblerWake.WaitFor(left)) {
            break;
        }
    }
    FrameSlotWanted.store(false, std::memory_order_relaxed);
    return free;
}

} // namespace

uint32_t RxRingAppend(const uint8_t *data, uint32_t length)
{
    if (data == nullptr) {
        return 0;
    }
    uint32_t head = RxRingHead.load(std::memory_order_relaxed);
    // Sequentially consistent: RxRingDeliver pairs this load with its flag.
    uint32_t tail = RxRingTail.load(std::memory_order_seq_cst);
    uint32_t stored = 0;
    const bool hole = length != 0 && BreakPending.exchange(false, std::memory_order_acq_rel);
    while (stored < length) {
        const uint32_t next = NextRxIndex(head);
        if (next == tail) {
            break; // full: this byte and the rest are left to the caller
        }
        RxRing[head] = data[stored];
        RxRingBreak[head] = stored == 0 && hole ? 1 : 0;
        head = next;
        ++stored;
    }
    if (stored == 0 && hole) {
        BreakPending.store(true, std::memory_order_release); // still before the next byte
    }
    if (stored != 0) {
        RxRingHead.store(head, std::memory_order_release);
        AssemblerWake.Notify();
    }
    return stored;
}

RxDelivery RxRingDeliver(const uint8_t *data, uint32_t length, uint32_t bound_ms)
{
    if (data == nullptr) {
        return {0, RxDeliveryEnd::Complete};
    }
    uint32_t stored = RxRingAppend(data, length);
    if (stored == length) {
        return {stored, RxDeliveryEnd::Complete};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(bound_ms);
    RxRoomWanted.store(true, std::memory_order_seq_cst);
    RxDeliveryEnd end = RxDeliveryEnd::TimedOut;
    for (;;) {
        if (CaptureEnabled.load(std::memory_order_acquire) == 0) {
            end = RxDeliveryEnd::CaptureOff;
            break;
        }
        stored += RxRingAppend(data + stored, length - stored);
        if (stored == length) {
            end = RxDeliveryEnd::Complete;
            break;
        }
        const uint32_t left = MillisecondsLeft(deadline);
        if (left == 0 || !ReceiverWake.WaitFor(left)) {
            break; // past the bound: the rest of the chunk is dropped
        }
    }
    RxRoomWanted.store(false, std::memory_order_relaxed);
    if (stored != length) {
        BreakPending.store(true, std::memory_order_release);
    }
    return {stored, end};
}

void RxRingMarkBreak()
{
    BreakPending.store(true, std::memory_order_release);
}

void NotePortLineErrors(uint32_t flags)
{
    if (flags == 0) {
        return;
    }
    PortErrorCount.fetch_add(1, std::memory_order_relaxed);
    RxRingMarkBreak();
}

namespace {
// PortErrorCount at the last reset; GUI thread only.
uint32_t PortErrorsAtReset = 0;
} // namespace

void RestartPortErrorCount()
{
    PortErrorsAtReset = PortErrorCount.load(std::memory_order_relaxed);
}

uint32_t PortErrorsSinceReset()
{
    return PortErrorCount.load(std::memory_order_relaxed) - PortErrorsAtReset;
}

void NotePortLost()
{
    RxRingMarkBreak();
}

void StopCapture()
{
    CaptureEnabled.store(0, std::memory_order_release);
    ReceiverWake.Notify();
}

bool PushFrame(const uint8_t *frame, uint32_t length, uint32_t slot_wait_ms)
{
    if (length > kMaxFrameLength) {
        return false;
    }
    // The flag follows every complete frame, even one the full queue drops:
    // the reminder answers in the reader's header kind, not the queue's.
    LastFrame55AA.store(length >= 2 && frame[0] == 0x55 && frame[1] == 0xAA ? 1 : 0,
                        std::memory_order_relaxed);

    const uint32_t head = FrameQueue.head.load(std::memory_order_relaxed);
    const uint32_t next = NextSlot(head);
    if (next == FrameQueue.tail.load(std::memory_order_acquire)) {
        if (slot_wait_ms == 0 || !WaitForFrameSlot(next, slot_wait_ms)) {
            return false;
        }
    }
    FrameSlot &slot = FrameQueue.slots[head];
    std::memcpy(slot.bytes, frame, length);
    slot.bytes[19] = static_cast<uint8_t>(length);
    FrameQueue.head.store(next, std::memory_order_release);
    ++FramesSinceWake;
    return true;
}

void AssembleByte(uint8_t byte, uint32_t slot_wait_ms)
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
            PushFrame(a.bytes, a.fill, slot_wait_ms);
        }
        a.fill = 0;
    }
}

uint32_t AssembleAvailableBytes(uint32_t slot_wait_ms)
{
    uint32_t taken = 0;
    uint32_t tail = RxRingTail.load(std::memory_order_relaxed);
    for (;;) {
        tail = ServeRxRingReset(tail);
        const uint32_t head = RxRingHead.load(std::memory_order_acquire);
        if (tail == head) {
            WakeTableForFrames();
            return taken;
        }
        while (tail != head) {
            const uint8_t byte = RxRing[tail];
            if (RxRingBreak[tail] != 0) {
                AssemblyBuffer.fill = 0; // the frame under way spans a hole
            }
            tail = NextRxIndex(tail);
            // Released at once: the receive thread gets the room back byte by
            // byte, which matters when a burst meets an almost full ring.
            RxRingTail.store(tail, std::memory_order_release);
            AssembleByte(byte, slot_wait_ms);
            ++taken;
        }
        OfferRoomToReceiver(tail);
        WakeTableForFrames();
    }
}

void RequestInboundStop()
{
    InboundStop.store(true, std::memory_order_release);
    StopCapture();
    WakeInboundWorkers();
}

void FrameAssemblerLoop(const std::atomic<bool> *stop, uint32_t slot_wait_ms)
{
    AssemblerStop = stop;
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_acquire)) {
            AssemblerStop = nullptr;
            return;
        }
        AssembleAvailableBytes(slot_wait_ms);
        // A wait for a slot inside the pass may have taken the wake-up that
        // came with the stop: look again before sleeping.
        if (stop != nullptr && stop->load(std::memory_order_acquire)) {
            AssemblerStop = nullptr;
            return;
        }
        AssemblerWake.Wait();
    }
}

void WaitForQueuedFrames()
{
    TableWake.Wait();
}

void OfferFrameSlots()
{
    // The table thread is the tail's only writer: storing its own value
    // again is the sequentially consistent store the doorbell needs.
    FrameQueue.tail.store(FrameQueue.tail.load(std::memory_order_relaxed), std::memory_order_seq_cst);
    if (FrameSlotWanted.load(std::memory_order_seq_cst)) {
        AssemblerWake.Notify();
    }
}

void WakeInboundWorkers()
{
    AssemblerWake.Notify();
    TableWake.Notify();
}

void RequestRingReset()
{
    RingResetRequest.fetch_add(1, std::memory_order_acq_rel);
    AssemblerWake.Notify();
    TableWake.Notify();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kResetWaitMs);
    for (;;) {
        if (!RingResetPending()) {
            return;
        }
        const uint32_t left = MillisecondsLeft(deadline);
        if (left == 0) {
            return;
        }
        ResetServed.WaitFor(left);
    }
}

bool RingResetPending()
{
    const uint32_t request = RingResetRequest.load(std::memory_order_acquire);
    return RxRingResetAck.load(std::memory_order_acquire) != request ||
           FrameQueueResetAck.load(std::memory_order_acquire) != request;
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
    OfferFrameSlots();
    ResetServed.Notify();
}

void ResetRingIndicesUnthreaded()
{
    RxRingHead.store(0, std::memory_order_relaxed);
    RxRingTail.store(0, std::memory_order_relaxed);
    FrameQueue.head.store(0, std::memory_order_relaxed);
    FrameQueue.tail.store(0, std::memory_order_relaxed);
    RxRoomWanted.store(false, std::memory_order_relaxed);
    FrameSlotWanted.store(false, std::memory_order_relaxed);
    const uint32_t request = RingResetRequest.load(std::memory_order_relaxed);
    RxRingResetAck.store(request, std::memory_order_relaxed);
    FrameQueueResetAck.store(request, std::memory_order_release);
}
