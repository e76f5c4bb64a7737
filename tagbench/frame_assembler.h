// Tarnwick's inbound path from raw bytes to complete tag-report frames.
//
// Three threads meet here, with no lock:
//   receive thread   -> RxRing (writes RxRingHead only)
//   assembler thread -> takes bytes (writes RxRingTail only), cuts frames,
//                       pushes them into FrameQueue (writes FrameQueue.head)
//   tag table thread -> drains FrameQueue (writes FrameQueue.tail only)
// Every byte or slot is written before the index that publishes it is stored
// (release) and read after that index is loaded (acquire). Each ring holds one
// entry less than it has slots; a full ring drops the newest data.
//
// A frame starts with 55 AA xx xx or FF FF FF FF and is 12 + (byte 8 >> 5)
// bytes long. No CRC is checked here; the tag table rejects damaged frames.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kRxRingSize = 500;
constexpr uint32_t kFrameQueueSlots = 2048;
constexpr uint32_t kMaxFrameLength = 19;

extern uint8_t RxRing[kRxRingSize];
extern std::atomic<uint32_t> RxRingHead; // written by the receive thread only
extern std::atomic<uint32_t> RxRingTail; // written by the assembler thread only

// Receive thread: appends a chunk in order; stops at the first byte that does
// not fit and drops it and the rest. Publishes the head once, after the last
// byte stored. Returns the number of bytes stored.
uint32_t RxRingAppend(const uint8_t *data, uint32_t length);

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

// Assembler thread only.
void PushFrame(const uint8_t *frame, uint32_t length);

// Assembler thread only: one byte through the header search and the cut.
void AssembleByte(uint8_t byte);

// One wake-up of the assembler: takes every byte the ring holds (re-reading
// the head until it stays put) and cuts and queues frames. Returns the number
// of bytes taken. Also honours a pending ring reset.
uint32_t AssembleAvailableBytes();

// The assembler's endless loop: 1 ms sleep, then AssembleAvailableBytes.
// Returns only when *stop becomes true (tests); the program passes nullptr.
void FrameAssemblerLoop(const std::atomic<bool> *stop);

// Emptying both rings while their threads run. Only an index's own thread
// may store it, so the GUI thread raises a request and each consumer empties
// its ring by moving its tail up to the head it sees (the assembler for
// RxRing, the tag table thread for FrameQueue). The table thread serves a
// request only after the assembler has, so every frame cut from bytes that
// were in the ring before the reset is also gone from the queue after it.
// RequestRingReset returns once both have done so, or after about 200 ms if
// a consumer is not running (the request then stays pending and is served at
// the consumer's next wake-up). Bytes or frames in flight at that moment may
// be lost; none is half-read. The partial frame in AssemblyBuffer survives,
// as it survives a close and reopen.
void RequestRingReset();
// Called by the tag table thread at each wake-up (see tag_table.h).
void ServeFrameQueueReset();
// Sets all four indices to 0. Only safe while no thread uses the rings
// (start-up, before the worker threads exist).
void ResetRingIndicesUnthreaded();
