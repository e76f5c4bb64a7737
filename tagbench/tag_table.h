// Tarnwick's table of the tags the reader hears.
//
// TagTableThread drains FrameQueue, checks each frame's CRC (FF header: over
// everything before the CRC; 55 AA header: leaving out 55 AA), marks the
// reader connected and enters the tag under TableLock, keeping at most 3000
// records sorted by unsigned ID. The GUI thread ages the table once a second,
// takes locked snapshots of the visible rows, and resets it when the port
// opens. TableLock is the only lock of the program; nothing else is done
// while holding it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The fuzz build shrinks the table (BENCH_FUZZ_MAX_TAGS) so that a full
// table, and every path near it, is a few dozen reports away for each input.
#ifdef BENCH_FUZZ_MAX_TAGS
constexpr int kMaxTags = BENCH_FUZZ_MAX_TAGS;
#else
constexpr int kMaxTags = 3000;
#endif
constexpr int kOfflineDistance = 65535;

struct TagRecord {
    uint32_t id;
    uint8_t status;      // latest status byte; bit 0 under-voltage, bits 5-7 extra count
    int8_t samples[3];   // rotating signal window, dB
    uint8_t next_sample; // 0..2
    uint8_t filling;     // 1 until the window has been filled once
    uint8_t extra[7];
    int32_t activity;    // reports since created or last counted offline
    int32_t countdown;   // ageing ticks left; 0 = offline
};

// Guarded by TableLock: TagTable, TagCount, ReaderConnected, ConnectedCountdown.
// The GUI thread may read TagCount, OfflineCount and ReaderConnected without
// it for labels and paging (one step old is fine), hence the atomics.
//   TagTable, TagCount: written by the table thread (reports) and the GUI
//     thread (reset), always under the lock.
//   ReaderConnected, ConnectedCountdown: set by the table thread on every
//     valid frame, counted down and cleared by the GUI thread (ageing, reset,
//     port close), always under the lock.
//   OfflineCount: written by the GUI thread only (ageing, reset).
extern TagRecord TagTable[kMaxTags];
extern std::atomic<int32_t> TagCount;
extern std::mutex TableLock;
extern std::atomic<int32_t> ReaderConnected;
extern int32_t ConnectedCountdown;
extern std::atomic<int32_t> OfflineCount;

// Tags a full table could not take since the last reset: distinct IDs, so a
// refused tag that keeps reporting counts once. Written by the table thread
// under TableLock (and zeroed by the GUI thread's reset under it); read
// without the lock for the label. Counted exactly up to kMaxRefusedIds,
// after which it stays there and means "at least".
constexpr int32_t kMaxRefusedIds = kMaxTags;
extern std::atomic<int32_t> RefusedTagCount;

// Page shown by the grid; GUI thread only. Reset with the table.
extern int32_t PageIndex;

struct TagRowSnapshot {
    int32_t index;
    uint32_t id;
    uint8_t status;
    uint8_t extra[7];
    int32_t signal;   // not set when offline
    int32_t distance; // centimetres; 65535 = offline
    int32_t activity;
};

// Start-up, before the table and assembler threads exist.
void InitTagBench();

// One wake-up of the table thread: serves a pending queue reset, then enters
// every queued frame, waking an assembler that waits for a slot as it frees
// them. Returns the number of frames taken from the queue.
uint32_t ProcessQueuedFrames();
// Enters one frame (bytes and length as in a FrameSlot). Table thread only.
// A frame whose CRC fails, or whose length is not 12 + (status >> 5), changes
// nothing; a valid one marks the reader connected even when status 14 keeps
// it out of the table or the table is full.
void EnterFrame(const uint8_t *frame, uint32_t length);
// The same, the report arriving at now_ms of the history clock
// (tag_history.h); EnterFrame reads the clock itself.
void EnterFrameAt(const uint8_t *frame, uint32_t length, int64_t now_ms);
// The table thread's endless loop: ProcessQueuedFrames, then sleep until the
// assembler queues frames or a reset is requested. Returns only when *stop
// becomes true and WakeInboundWorkers is called (tests).
void TagTableLoop(const std::atomic<bool> *stop);

// GUI thread, after a successful port open, with the worker threads running
// (the rings are emptied through RequestRingReset). clear_display resets the
// labels and rows, outside TableLock (may be null in tests). Ends by setting
// CaptureEnabled.
void ResetTagBench(void (*clear_display)());

// GUI thread, every 1000 ms tick while capturing.
void AgeTagTable();

// GUI thread, when the port is closed: clears ReaderConnected under TableLock
// (the table thread may be setting it at the same moment).
void ClearReaderConnected();

// Caller holds TableLock. Returns the distance in cm (65535 offline) and
// sets *signal to the strongest recent sample unless offline.
int32_t EstimateDistance(int index, int32_t *signal);
// Pure form of the distance steps, for a known strongest signal m.
int32_t DistanceForSignal(int32_t m);

// Takes TableLock itself; index must be below TagCount (an index that is not
// gives an empty offline row rather than reading a stale record).
TagRowSnapshot SnapshotTag(int index);
// The same for a caller that holds TableLock; index below TagCount.
TagRowSnapshot SnapshotTagLocked(int index);

// The whole table, record by record in table order, as SnapshotTag would
// give each: the records are copied in one pass under TableLock and the
// snapshots formed after it is released. Any thread (the table export).
void SnapshotTagTable(std::vector<TagRowSnapshot> &out);
// The same, with each tag's first and last report (HistoryNowMs clock,
// tag_history.h), taken in the same hold of the lock.
struct TagSeenTimes {
    int64_t first_ms;
    int64_t last_ms;
};
void SnapshotTagTable(std::vector<TagRowSnapshot> &out, std::vector<TagSeenTimes> *seen);
