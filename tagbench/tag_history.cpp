// Per-tag history: the slot map, the bucket ring, the locked copies.
//
// A slot is initialised when its tag enters the table, so a reset only has
// to empty the table: the next tag to arrive gets slot 0 again and starts
// from zeroed buckets. Nothing is allocated after start-up.
//
// The storage is split: the few fields every report updates (Heads, 144 kB
// for the table) apart from the rings of buckets (7.2 MB), so that a report
// usually finds its tag's head in cache and misses only on its bucket.
#include "tagbench/tag_history.h"

#include <chrono>
#include <cstring>

#include "tagbench/frame_assembler.h"
#include "tagbench/local_time.h"

namespace {

// TagHistory without its buckets.
struct HistoryHead {
    uint32_t id;
    uint8_t under_voltage;
    int64_t newest_second;
    uint64_t total_reports;
    int64_t first_seen_ms;
    int64_t last_seen_ms;
    int64_t under_voltage_changed_ms;
};
static_assert(sizeof(HistoryHead) + sizeof(HistoryBucket) * kHistorySeconds == sizeof(TagHistory),
              "the copy holds exactly what is kept");

HistoryHead Heads[kMaxTags];
HistoryBucket Rings[kMaxTags][kHistorySeconds];
uint16_t SlotOfRecord[kMaxTags]; // moves with TagTable's records
int64_t LastAgeingTickMs = 0;

int64_t SteadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t (*Clock)() = SteadyNowMs;

HistoryBucket &BucketOf(HistoryBucket *ring, int64_t second)
{
    const int64_t i = second % kHistorySeconds;
    return ring[i < 0 ? i + kHistorySeconds : i];
}

// Moves the ring on to second, emptying the seconds it skips: they had
// nothing to keep. Each bucket is emptied at most once per second of time
// passed, so this stays O(1) per report taken over a run.
void AdvanceTo(HistoryHead &h, HistoryBucket *ring, int64_t second)
{
    if (second <= h.newest_second)
        return;
    if (second - h.newest_second >= kHistorySeconds) {
        std::memset(ring, 0, sizeof(HistoryBucket) * kHistorySeconds);
    } else {
        for (int64_t s = h.newest_second + 1; s <= second; ++s)
            BucketOf(ring, s) = HistoryBucket{0, 0, 0};
    }
    h.newest_second = second;
}

} // namespace

int64_t HistoryNowMs()
{
    return Clock();
}

void SetHistoryClock(int64_t (*now_ms)())
{
    Clock = now_ms != nullptr ? now_ms : SteadyNowMs;
}

void NoteTagInserted(int index, int count, uint32_t id, int64_t now_ms)
{
    std::memmove(&SlotOfRecord[index + 1], &SlotOfRecord[index], sizeof SlotOfRecord[0] * (count - index));
    // Slots 0 .. count-1 belong to the records already in the table.
    SlotOfRecord[index] = static_cast<uint16_t>(count);
    HistoryHead &h = Heads[count];
    std::memset(&h, 0, sizeof h);
    std::memset(Rings[count], 0, sizeof Rings[count]);
    h.id = id;
    h.newest_second = SecondOfMs(now_ms);
    h.first_seen_ms = now_ms;
    h.under_voltage_changed_ms = now_ms;
}

void NoteTagReport(int index, uint8_t status, int8_t signal, int64_t now_ms)
{
    const uint16_t slot = SlotOfRecord[index];
    HistoryHead &h = Heads[slot];
    const int64_t second = SecondOfMs(now_ms);
    AdvanceTo(h, Rings[slot], second);
    // A clock that stepped back (it should not) still lands in the newest
    // bucket rather than in one the ring has already given up.
    HistoryBucket &b = BucketOf(Rings[slot], second < h.newest_second ? h.newest_second : second);
    if (b.count == 0 || signal > b.strongest)
        b.strongest = signal;
    if (b.count != UINT16_MAX)
        ++b.count;
    const uint8_t under_voltage = status & 0x01;
    b.flags = static_cast<uint8_t>((b.flags & ~kBucketUnderVoltage) | (under_voltage ? kBucketUnderVoltage : 0));
    if (h.total_reports != 0 && under_voltage != h.under_voltage)
        h.under_voltage_changed_ms = now_ms;
    h.under_voltage = under_voltage;
    ++h.total_reports;
    h.last_seen_ms = now_ms;
}

void NoteTagOffline(int index, int64_t now_ms)
{
    const uint16_t slot = SlotOfRecord[index];
    HistoryHead &h = Heads[slot];
    AdvanceTo(h, Rings[slot], SecondOfMs(now_ms));
    BucketOf(Rings[slot], h.newest_second).flags |= kBucketOffline;
}

void NoteAgeingTick(int64_t now_ms)
{
    LastAgeingTickMs = now_ms;
}

int FindTagIndexLocked(uint32_t id)
{
    int low = 0;
    int high = TagCount.load(std::memory_order_relaxed);
    high = high > kMaxTags ? kMaxTags : high;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (TagTable[mid].id < id)
            low = mid + 1;
        else
            high = mid;
    }
    return low < TagCount.load(std::memory_order_relaxed) && TagTable[low].id == id ? low : -1;
}

int FindTagIndex(uint32_t id)
{
    std::lock_guard<std::mutex> lock(TableLock);
    return FindTagIndexLocked(id);
}

void CopySeenTimes(int index, int64_t *first_ms, int64_t *last_ms)
{
    const HistoryHead &h = Heads[SlotOfRecord[index]];
    *first_ms = h.first_seen_ms;
    *last_ms = h.last_seen_ms;
}

uint64_t TotalReportsLocked(int index)
{
    return Heads[SlotOfRecord[index]].total_reports;
}

bool SnapshotFollowedTag(uint32_t id, FollowedTag *out)
{
    out->in_table = false;
    std::lock_guard<std::mutex> lock(TableLock);
    out->now_ms = HistoryNowMs();
    out->capturing = CaptureEnabled.load(std::memory_order_acquire) != 0;
    const int index = FindTagIndexLocked(id);
    if (index < 0)
        return false;
    out->row = SnapshotTagLocked(index);
    const uint16_t slot = SlotOfRecord[index];
    const HistoryHead &h = Heads[slot];
    TagHistory &copy = out->history;
    copy.id = h.id;
    copy.under_voltage = h.under_voltage;
    copy.newest_second = h.newest_second;
    copy.total_reports = h.total_reports;
    copy.first_seen_ms = h.first_seen_ms;
    copy.last_seen_ms = h.last_seen_ms;
    copy.under_voltage_changed_ms = h.under_voltage_changed_ms;
    std::memcpy(copy.buckets, Rings[slot], sizeof copy.buckets);
    if (out->capturing) {
        out->picture_end_ms = out->now_ms;
    } else {
        const int64_t last_report = out->history.last_seen_ms;
        out->picture_end_ms = LastAgeingTickMs > last_report ? LastAgeingTickMs : last_report;
    }
    out->in_table = true;
    return true;
}
