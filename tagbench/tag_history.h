// What every tag in the table did over the last ten minutes, second by
// second, so that a window opened late on a tag still shows where it has been.
//
// Each tag in TagTable has one TagHistory: 600 one-second buckets in a ring
// (strongest signal of the second, number of reports, under-voltage, offline
// mark) plus when it was first and last heard, when its under-voltage flag
// last changed and how many reports it sent in all. The storage for 3000 tags
// is one static array, so the memory is the same after a minute and after a
// month: kTagHistoryBytes for the table, whatever the report rate, since a
// busy second costs no more than a quiet one.
//
// Records of TagTable move when a smaller ID is inserted before them; the
// histories do not. A tag's history lives in the slot it was given when it
// entered the table (slots are handed out in arrival order, which works
// because records are only ever removed all at once by a reset), and a small
// map from table position to slot moves with the records instead. Keeping a
// report is then O(1): one look into the map, one bucket updated.
//
// Threads: everything here is guarded by TableLock. The table thread writes
// through the Note... calls of EnterFrame, the GUI thread through the ageing
// pass (offline marks) and reads through SnapshotFollowedTag and
// CopySeenTimes. Times are milliseconds of a monotonic clock
// (HistoryNowMs); turning them into local wall-clock time is the reader's
// business (tag_follow_view.h).
#pragma once

#include <cstdint>

#include "tagbench/tag_table.h"

constexpr int kHistorySeconds = 600;

// Bucket flags.
constexpr uint8_t kBucketOffline = 0x01;      // the ageing found the tag offline this second
constexpr uint8_t kBucketUnderVoltage = 0x02; // the second's last report had bit 0 set

struct HistoryBucket {
    int8_t strongest; // strongest signal of the second, dB; meaningful when count > 0
    uint8_t flags;
    uint16_t count; // reports in the second, stops at 65535
};

struct TagHistory {
    uint32_t id;
    uint8_t under_voltage; // of the latest report
    // The second (HistoryNowMs / 1000) that buckets[newest_second % 600]
    // holds; the ring covers newest_second - 599 to newest_second. Seconds
    // after it had no report and no ageing mark yet.
    int64_t newest_second;
    uint64_t total_reports;
    int64_t first_seen_ms;
    int64_t last_seen_ms;
    int64_t under_voltage_changed_ms; // the first report counts as a change
    HistoryBucket buckets[kHistorySeconds];
};

constexpr unsigned long kTagHistoryBytes =
    static_cast<unsigned long>(sizeof(TagHistory)) * kMaxTags + sizeof(uint16_t) * kMaxTags;

// The clock of the histories, in milliseconds, monotonic. Tests put their
// own in place (null restores the steady clock); set it only while no
// worker thread runs.
int64_t HistoryNowMs();
void SetHistoryClock(int64_t (*now_ms)());

// --- writers; caller holds TableLock ----------------------------------------

// Table thread: a record for id was just inserted at index (the records from
// index on have moved up by one; count is TagCount before the insertion).
void NoteTagInserted(int index, int count, uint32_t id, int64_t now_ms);
// Table thread: a report entered into the record at index.
void NoteTagReport(int index, uint8_t status, int8_t signal, int64_t now_ms);
// GUI thread, ageing: the record at index is offline (countdown 0) at this tick.
void NoteTagOffline(int index, int64_t now_ms);
// GUI thread, at the end of every ageing pass: the picture of a tag is known
// up to here, also for tags that are online and silent.
void NoteAgeingTick(int64_t now_ms);

// --- readers ------------------------------------------------------------------

// Caller holds TableLock. Position of id in TagTable (binary search), or -1.
int FindTagIndexLocked(uint32_t id);
// Takes TableLock. Position of id in TagTable, or -1.
int FindTagIndex(uint32_t id);

// First and last seen of the record at index; caller holds TableLock.
void CopySeenTimes(int index, int64_t *first_ms, int64_t *last_ms);
// Reports of the record at index since it entered the table (ageing does
// not restart it, unlike activity); caller holds TableLock.
uint64_t TotalReportsLocked(int index);

// One short locked copy of everything a follow window shows.
struct FollowedTag {
    bool in_table;          // false: the id is not in the table (any more)
    TagRowSnapshot row;     // as the grid would show it
    TagHistory history;
    int64_t now_ms;         // HistoryNowMs at the copy
    int64_t picture_end_ms; // the right edge of the plot (see SnapshotFollowedTag)
    bool capturing;         // CaptureEnabled at the copy
};

// Takes TableLock. While capturing, the picture ends now; with the port
// closed it ends where the data ends (the last ageing tick, or the tag's
// last report if later), so a closed port freezes the picture. Returns
// out->in_table.
bool SnapshotFollowedTag(uint32_t id, FollowedTag *out);
