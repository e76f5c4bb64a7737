// Tarnwick's inbound path from raw bytes to complete tag-report frames.
//
// Three threads meet here, with no lock:
//   receive thread   -> RxRing (writes RxRingHead only)
//   assembler thread -> takes bytes (writes RxRingTail only), cuts frames,
//                       pushes them into FrameQueue (writes FrameQueue.head)
//   tag table thread -> drains FrameQueue (writes FrameQueue.tail only)
// Every byte or slot is written before the index that publishes it is stored
// (release) and read after that index is loaded (acquire). Each ring holds one
// entry less than it has slots.
//
// Nobody polls. Each worker sleeps on its own WakeSignal: the assembler until
// the receive thread publishes bytes, the table thread until the assembler
// publishes frames, both also on a ring reset request. A producer that meets
// a full ring does not drop what arrived intact: it stores what fits and waits
// for its consumer to free room, for a bounded time (about a second); the
// port's own buffer holds the bytes meanwhile. Only past that bound, or when
// capture stops (the port is closing), is the rest dropped. The consumer
// rings a producer's doorbell only while that producer says it waits, so the
// consumer's hot path stays a plain index store.
//
// A frame starts with 55 AA xx xx or FF FF FF FF and is 12 + (byte 8 >> 5)
// bytes long. No CRC is checked here; the tag table rejects damaged frames.
//
// Holes in the stream. When bytes went missing before they reached the ring
// (the port reported a line error, the port was lost, or the receive thread
// had to drop the rest of a chunk), the next byte stored carries a mark in
// RxRingBreak, in the same slot, published with it. The assembler drops the
// partial frame it holds when it takes a marked byte, so the frame that
// spans the hole is never cut at a length read from someone else's bytes,
// and the header search starts afresh at the byte after the hole. The mark
// travels with the bytes: bytes that arrived before the hole are assembled
// as they were, however long they wait in the ring.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kRxRingSize = 500;
// The fuzz build shrinks the queue (BENCH_FUZZ_FRAME_QUEUE_SLOTS), as it does
// the tag table, so that a full queue is a short input away.
#ifdef BENCH_FUZZ_FRAME_QUEUE_SLOTS
constexpr uint32_t kFrameQueueSlots = BENCH_FUZZ_FRAME_QUEUE_SLOTS;
#else
constexpr uint32_t kFrameQueueSlots = 2048;
#endif
constexpr uint32_t kMaxFrameLength = 19;

// How long a producer waits for its consumer to free room before it drops
// (per chunk for the receive thread, per frame for the assembler). Long
// enough for any scheduling hiccup of a busy machine, short enough that a
// consumer that is really stuck costs no more than a second per wait.
constexpr uint32_t kRxRoomWaitMs = 1000;
constexpr uint32_t kFrameSlotWaitMs = 1000;

extern uint8_t RxRing[kRxRingSize];
// 1 when the stream has a hole just before the byte in the same slot of
// RxRing; written with that byte by the receive thread only.
extern uint8_t RxRingBreak[kRxRingSize];
extern std::atomic<uint32_t> RxRingHead; // written by the receive thread only
extern std::atomic<uint32_t> RxRingTail; // written by the assembler thread only

// Any thread: the next byte stored follows a hole in the stream.
void RxRingMarkBreak();
// Receive thread: the port reported line errors after the bytes stored so
// far. Counts them in PortErrorCount and marks the hole.
void NotePortLineErrors(uint32_t flags);
// Receive thread: the port was lost; what arrives after a resume does not
// continue what came before.
void NotePortLost();
// Line error reports since start-up; written by the receive thread only.
extern std::atomic<uint32_t> PortErrorCount;
// GUI thread: the reports since the last ResetTagBench (the user's open;
// a resume after a loss goes on counting), for the dialog's label.
void RestartPortErrorCount(); // by ResetTagBench
uint32_t PortErrorsSinceReset();

// Receive thread: appends a chunk in order; stops at the first byte that does
// not fit and leaves it and the rest to the caller. Publishes the head once,
// after the last byte stored, and wakes the assembler. Returns the number of
// bytes stored.
uint32_t RxRingAppend(const uint8_t *data, uint32_t length);

// How a delivery ended: every byte stored; capture was off (port closing or
// not yet capturing), the rest dropped; the bound passed, the rest dropped.
enum class RxDeliveryEnd : uint8_t { Complete, CaptureOff, TimedOut };
struct RxDelivery {
    uint32_t stored;
    RxDeliveryEnd end;
};

// Receive thread: the hand-off of one chunk read from the port. Stores what
// fits, then waits for the assembler to free room for the rest, at most
// bound_ms in all; a full ring with capture off drops at once, and
// StopCapture ends a wait at once. Bytes are stored in order and only ever
// dropped from the end of the chunk; a drop marks a hole before the next
// byte stored.
RxDelivery RxRingDeliver(const uint8_t *data, uint32_t length, uint32_t bound_ms);

// Set by the receive thread (its only writer) while it waits for room in
// RxRing; the assembler wakes it after freeing room only then.
extern std::atomic<bool> RxRoomWanted;
// Set by the assembler thread (its only writer) while it waits for a free
// slot in FrameQueue; the table thread wakes it after freeing slots only then.
extern std::atomic<bool> FrameSlotWanted;

// The frame being assembled; assembler thread only. Survives close/reopen.
struct AssemblyBufferState {
    uint8_t bytes[20];
    uint8_t fill;
};
extern AssemblyBufferState AssemblyBuffer;

// A queued frame: bytes from slot byte 0, length L in byte 19.
struct FrameSlot {
    uint8_t bytes[20];
};

struct FrameQueueState {
    FrameSlot slots[kFrameQueueSlots];
    std::atomic<uint32_t> head; // written by the assembler thread only
    std::atomic<uint32_t> tail; // written by the tag table thread only
};
extern FrameQueueState FrameQueue;

// Written by the GUI thread, read by the assembler: frames are queued only
// while set. Written by the assembler, read by the GUI thread: the last
// complete frame began 55 AA.
extern std::atomic<uint32_t> CaptureEnabled;
extern std::atomic<uint32_t> LastFrame55AA;

// GUI thread, port closing: frames are no longer queued, and a receive
// thread that waits for room in RxRing gives up at once.
void StopCapture();

// Assembler thread only. Queues a frame; when the queue is full, waits up to
// slot_wait_ms for the table thread to free a slot (0: drops at once, as a
// caller that is itself the consumer must). The wait also ends when a ring
// reset is requested: the frame was cut from bytes the reset discards.
// Returns false when the frame was dropped.
bool PushFrame(const uint8_t *frame, uint32_t length, uint32_t slot_wait_ms = 0);

// Assembler thread only: one byte through the header search and the cut.
void AssembleByte(uint8_t byte, uint32_t slot_wait_ms = 0);

// One wake-up of the assembler: takes every byte the ring holds (re-reading
// the head until it stays put), cuts and queues frames, and wakes the table
// thread for what it queued. Returns the number of bytes taken. Also honours
// a pending ring reset.
uint32_t AssembleAvailableBytes(uint32_t slot_wait_ms = 0);

// The assembler's loop: AssembleAvailableBytes, then sleep until the
// receive thread publishes bytes or a reset is requested. Returns when *stop
// becomes true and WakeInboundWorkers is called (the program passes
// &InboundStop and stops it with RequestInboundStop at exit).
void FrameAssemblerLoop(const std::atomic<bool> *stop, uint32_t slot_wait_ms = kFrameSlotWaitMs);

// Set at exit by RequestInboundStop (GUI thread); the program's assembler
// and table loops run until it is set.
extern std::atomic<bool> InboundStop;
// GUI thread, at exit, after the receive thread has stopped: ends capture
// and both worker loops; the caller then waits for their threads.
void RequestInboundStop();

// Table thread: sleeps until the assembler has queued frames, a reset is
// requested or WakeInboundWorkers is called. May return with nothing to do.
void WaitForQueuedFrames();
// Table thread, after moving FrameQueue.tail on: wakes the assembler if it
// waits for a free slot.
void OfferFrameSlots();
// Wakes both worker loops, so that they look at their stop flag (tests).
void WakeInboundWorkers();

// Emptying both rings while their threads run. Only an index's own thread
// may store it, so the GUI thread raises a request and each consumer empties
// its ring by moving its tail up to the head it sees (the assembler for
// RxRing, the tag table thread for FrameQueue). The table thread serves a
// request only after the assembler has, so every frame cut from bytes that
// were in the ring before the reset is also gone from the queue after it.
// RequestRingReset wakes both and returns once both have done so, or after
// about 200 ms if a consumer is not running (the request then stays pending
// and is served at the consumer's next wake-up). A producer waiting for room
// gets it from the emptied ring. Bytes or frames in flight at that moment may
// be lost; none is half-read. The partial frame in AssemblyBuffer survives,
// as it survives a close and reopen.
void RequestRingReset();
// Any thread: a reset was requested that a consumer has not served yet.
bool RingResetPending();
// Called by the tag table thread at each wake-up (see tag_table.h).
void ServeFrameQueueReset();
// Sets all four indices to 0 and clears both waiting flags. Only safe while
// no thread uses the rings (start-up, before the worker threads exist).
void ResetRingIndicesUnthreaded();
