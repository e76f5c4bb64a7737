// Pellfray's receive path: the chunk queue between the serial receive thread
// and the chunk processor, and the processor's decisions.
//
//   receive thread   -> ChunkQueuePushLong / ChunkQueuePush: copies the chunk
//                       into a heap block, fills the slot at head, then
//                       publishes head (release). Writes head only.
//   processor thread -> ChunkProcessorDrain: loads head (acquire), logs each
//                       chunk, tests the CRC of FF FF FF FF chunks, answers an
//                       armed tag wake-up frame, frees the copy, then
//                       publishes tail (release). Writes tail only.
//
// Waiting. The processor sleeps on ChunkWorkSignal, which the receive thread
// gives after it publishes head, and which whatever else needs a pass gives
// too (RequestSkipRxLog, a test's stop). When the queue is full the receive
// thread does not drop at once: it waits on ChunkRoomSignal for the processor
// to free a slot, about a second in all for one read, while the port's own
// buffer holds the bytes that keep arriving. The processor gives that signal
// only when it sees ProducerWaiting set, so its hot path costs one load per
// chunk. Closing the port (ChunkQueueStopWaiting) ends a wait at once; so a
// producer never waits when no processor runs (single-threaded tests, the
// fuzzer): with nobody to free a slot the wait could only end by its bound.
//
// One slot always stays free, so 999 chunks fit; a queue that stays full past
// the bound drops the newest chunk (the rest of its read with it) and tells
// the debug console at once and the log at the place of the loss: the count
// of bytes dropped rides on the next slot queued, or is told by the
// processor when it finds the queue empty first. A slot carries at most 255
// bytes: longer reads are split into consecutive slots in order, so each
// byte is logged once and counted once, but a frame split this way (or by
// the port itself) is never recognised as a wake-up frame.
//
// Line errors the port reports (bytes lost in the driver or garbled on the
// line) travel through the queue too, as a slot without bytes, so that the
// processor reports them in the log at the place where the bytes went
// missing, between the chunks read before and after, and on the console.
//
// Skipping the log (closing the port, the reader frame) is asked for by
// counting a request up; the processor records, before it looks whether the
// queue is empty, how many requests there were, and serves exactly those
// when it finds it empty. A request made while the processor finishes a
// pass therefore stays standing for the next pass instead of being erased.
// The chunks a skip kept out of the log are counted in a note when the
// requests are served.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kChunkQueueSlots = 1000;
constexpr uint32_t kChunkMaxLength = 255;

extern const char kMsgBufferFull[];   // "msg buffer full\r\n"
extern const char kMsgCheckError[];   // "check error\r\n"
// The log note of a port opening that withdrew an armed configuration.
extern const char kReopenDisarmedNote[];

struct ChunkSlot {
    uint8_t length;
    uint8_t line_errors; // receive_pass.h flags; a slot without bytes carries only these
    uint64_t dropped;    // bytes dropped for want of room just before this slot
    uint8_t *data;       // owned heap copy of exactly length bytes, or null
};

struct ChunkQueueState {
    ChunkSlot slots[kChunkQueueSlots];
    std::atomic<uint32_t> head; // written by the receive thread only
    std::atomic<uint32_t> tail; // written by the processor thread only
};
extern ChunkQueueState ChunkQueue;

// Skip requests made (counted up by RequestSkipRxLog, GUI thread) and
// served (written by the processor when it finds the queue empty). Chunks
// taken from the queue while a request is unserved are not logged.
extern std::atomic<uint32_t> SkipRxLogRequests;
extern std::atomic<uint32_t> SkipRxLogServed;
// Any thread, a snapshot: a skip request is standing.
bool SkipRxLogActive();

// Empties the queue (releasing any copies still held), sets head and tail to
// 0, disarms ConfigPending and drops skip requests. Only while no thread
// uses the queue: the dialog's initialisation, or between tests.
void ChunkQueueInit();

// Receive thread. Queues a copy of one chunk of 1..255 bytes, waiting for
// room (see above) when the queue is full. Returns false when it was dropped
// (still full past the bound: "msg buffer full\r\n" to the console, or out
// of memory) or empty.
bool ChunkQueuePush(const uint8_t *data, uint8_t length);

// Receive thread: the sink the serial link calls with each read (up to 1024
// bytes). Queues the chunk as consecutive slots of at most 255 bytes; when a
// slot cannot be queued the rest of this read is dropped with it, so what is
// queued is always a prefix of the read. Returns the bytes queued.
uint32_t ChunkQueuePushLong(const uint8_t *data, uint32_t length);

// The same with the serial link's sink signature (SerialConfigure takes it).
void ChunkReceiveSink(const uint8_t *data, uint32_t length);

// Receive thread: the port reported line errors (receive_pass.h flags)
// after the bytes queued so far. Queued as a slot of its own, waiting for
// room like a chunk; when even that finds no room the flags are kept and go
// ahead of the next chunk. The processor then prints "port error: ..." on
// the console and a note in the log.
void ChunkQueueLineErrors(uint32_t flags);
// The log note for line errors: what went wrong, and that bytes are missing
// at that point.
const char *LineErrorNote(uint32_t flags, char *out, uint32_t size);

// The log notes for bytes dropped on a full queue, and for chunks a skip
// request kept out of the log.
const char *DroppedBytesNote(uint64_t bytes, char *out, uint32_t size);
const char *SkippedChunksNote(uint32_t chunks, uint64_t bytes, char *out, uint32_t size);

// Any thread, a snapshot: the receive thread is waiting for room.
bool ChunkQueueProducerWaiting();

// Chunks waiting; any thread (a snapshot).
uint32_t ChunkQueueCount();

// Processor thread: one pass of the processor. Takes every chunk queued,
// re-reading head before each one so chunks arriving meanwhile are taken in
// the same pass, then serves the skip requests made before it found the
// queue empty. Returns the number of slots taken.
uint32_t ChunkProcessorDrain();

// The processor's loop: ChunkProcessorDrain, then sleep until the next
// ChunkWorkSignal. Ends when stop is non-null and set and the processor is
// woken (WakeChunkProcessor); the program passes &ChunkProcessorStop.
void ChunkProcessorLoop(const std::atomic<bool> *stop);

// Set by RequestChunkProcessorStop (GUI thread, at exit, after the receive
// thread has stopped); the program's processor runs until it is set.
extern std::atomic<bool> ChunkProcessorStop;
void RequestChunkProcessorStop();

// Any thread: makes the processor run one pass now.
void WakeChunkProcessor();

// Tests: called by the processor each time it has found the queue empty,
// before it serves the skip requests, so that a test can act in that
// moment as the GUI thread may. Null (the program) calls nothing.
void SetChunkProcessorIdleHook(void (*hook)());

// GUI thread: chunks taken from the queue from now until the processor next
// finds it empty are not logged (closing the port, the reader frame). Counts
// a request and wakes the processor, so that an idle processor serves it at
// once rather than silencing the first chunks of a later burst.
void RequestSkipRxLog();

// GUI thread, when the port closes: a receive thread waiting for room gives
// up at once (its read is dropped as on a full queue), and none waits until
// ChunkQueuePortOpening. Bytes read before the close are not worth holding
// the next open for.
void ChunkQueueStopWaiting();
// GUI thread, before a port is published (an open, or a lost port's
// resume): waiting for room is allowed again (as after ChunkQueueInit), and
// the armed configuration is dropped, so that a wake-up frame read from the
// new port is never answered with a frame armed before. A frame dropped so
// is said in the log (kReopenDisarmedNote); true then.
bool ChunkQueuePortOpening();

// Bound of the receive thread's wait for room, for one read in all. 1000 ms
// unless a test shortens or lengthens it. Any thread.
void ChunkQueueSetRoomWaitMs(uint32_t milliseconds);
