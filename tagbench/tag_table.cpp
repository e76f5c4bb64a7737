// Tag table: entering reports, ageing, snapshots, reset.
//
// The table is a plain sorted array so that the grid can page through it by
// position; a linear scan is plenty for 3000 records at the reader's frame
// rate (see the benchmark). TableLock is held for one frame, one ageing pass
// or one snapshot, never while calling out, so the GUI thread never waits
// long. A new record starts from zeroed bytes rather than from whatever the
// shifted neighbour left in its slot, so no stale sample or extra byte of
// another tag can ever surface.
#include "tagbench/tag_table.h"

#include "serial/crc16.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/tag_history.h"

#include <cmath>
#include <cstring>

TagRecord TagTable[kMaxTags];
std::atomic<int32_t> TagCount{0};
std::mutex TableLock;
std::atomic<int32_t> ReaderConnected{0};
int32_t ConnectedCountdown = 10;
std::atomic<int32_t> OfflineCount{0};
std::atomic<int32_t> RefusedTagCount{0};
int32_t PageIndex = 0;

namespace {

constexpr int32_t kCountdownTicks = 10;
constexpr uint8_t kStatusReaderOnly = 14; // keeps the reader alive, enters nothing
constexpr uint32_t kSlotsPerOffer = 64;

void StoreReport(TagRecord &r, uint8_t status, int8_t signal, const uint8_t *extra, uint32_t n)
{
    r.status = status;
    r.samples[r.next_sample] = signal;
    ++r.next_sample;
    if (r.next_sample == 3) {
        r.next_sample = 0;
        r.filling = 0;
    }
    ++r.activity;
    r.countdown = kCountdownTicks;
    std::memcpy(r.extra, extra, n);
}

// The IDs behind RefusedTagCount, sorted; guarded by TableLock. A refused
// tag reports again and again, so the lookup is a binary search and only a
// new ID pays for the insertion.
uint32_t RefusedIds[kMaxRefusedIds];

void NoteRefusedTag(uint32_t id)
{
    const int32_t count = RefusedTagCount.load(std::memory_order_relaxed);
    int32_t low = 0;
    int32_t high = count;
    while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        if (RefusedIds[mid] < id)
            low = mid + 1;
        else
            high = mid;
    }
    if ((low < count && RefusedIds[low] == id) || count >= kMaxRefusedIds)
        return;
    std::memmove(&RefusedIds[low + 1], &RefusedIds[low], sizeof RefusedIds[0] * static_cast<size_t>(count - low));
    RefusedIds[low] = id;
    // Release: whoever reads a refusal also reads the full count before it.
    RefusedTagCount.store(count + 1, std::memory_order_release);
}

} // namespace

void InitTagBench()
{
    CaptureEnabled.store(0, std::memory_order_relaxed);
    ResetRingIndicesUnthreaded();
    std::lock_guard<std::mutex> lock(TableLock);
    TagCount.store(0, std::memory_order_relaxed);
    PageIndex = 0;
    ReaderConnected.store(0, std::memory_order_relaxed);
    ConnectedCountdown = kCountdownTicks;
    std::memset(TagTable, 0, sizeof TagTable);
    OfflineCount.store(0, std::memory_order_relaxed);
    RefusedTagCount.store(0, std::memory_order_relaxed);
}

void EnterFrame(const uint8_t *frame, uint32_t length)
{
    EnterFrameAt(frame, length, HistoryNowMs());
}

void EnterFrameAt(const uint8_t *frame, uint32_t length, int64_t now_ms)
{
    if (frame == nullptr || length < 12 || length > kMaxFrameLength) {
        return;
    }
    const uint8_t status = frame[8];
    const uint32_t n = status >> 5;
    // The assembler cuts every frame at exactly this length; anything else
    // would make the extra bytes and the signal come from outside the frame.
    if (length != 12 + n) {
        return;
    }
    const bool ff_header = frame[0] == 0xFF && frame[1] == 0xFF;
    const uint16_t crc = ff_header ? Crc16Modbus(frame, length - 2) : Crc16Modbus(frame + 2, length - 4);
    if (crc != GetCrc16(frame + length - 2)) {
        return;
    }
    const uint32_t id = (static_cast<uint32_t>(frame[4]) << 24) | (static_cast<uint32_t>(frame[5]) << 16) |
                        (static_cast<uint32_t>(frame[6]) << 8) | frame[7];
    const int8_t signal = static_cast<int8_t>(frame[length - 3]);
    const uint8_t *extra = frame + 9;

    std::lock_guard<std::mutex> lock(TableLock);
    ReaderConnected.store(1, std::memory_order_relaxed);
    ConnectedCountdown = kCountdownTicks;
    if (status == kStatusReaderOnly) {
        return;
    }
    const int32_t count = TagCount.load(std::memory_order_relaxed);
    // Sorted and unique: the scan can stop at the first ID not below ours.
    int32_t k = 0;
    while (k < count && TagTable[k].id < id) {
        ++k;
    }
    if (k < count && TagTable[k].id == id) {
        StoreReport(TagTable[k], status, signal, extra, n);
        NoteTagReport(k, status, signal, now_ms);
        return;
    }
    if (count >= kMaxTags) {
        NoteRefusedTag(id);
        return;
    }
    std::memmove(&TagTable[k + 1], &TagTable[k], sizeof(TagRecord) * static_cast<size_t>(count - k));
    TagRecord &r = TagTable[k];
    std::memset(&r, 0, sizeof r);
    r.id = id;
    r.filling = 1;
    StoreReport(r, status, signal, extra, n);
    NoteTagInserted(k, count, id, now_ms);
    NoteTagReport(k, status, signal, now_ms);
    TagCount.store(count + 1, std::memory_order_relaxed);
}

uint32_t ProcessQueuedFrames()
{
    ServeFrameQueueReset();
    uint32_t taken = 0;
    uint32_t tail = FrameQueue.tail.load(std::memory_order_relaxed);
    // The clock is read once per wake-up and then every kSlotsPerOffer
    // frames (8 ms of the fastest line): plenty for one-second histories,
    // and a frame costs no clock read.
    int64_t now_ms = HistoryNowMs();
    while (tail != FrameQueue.head.load(std::memory_order_acquire)) {
        const FrameSlot &slot = FrameQueue.slots[tail];
        EnterFrameAt(slot.bytes, slot.bytes[19], now_ms);
        tail = tail + 1 == kFrameQueueSlots ? 0 : tail + 1;
        FrameQueue.tail.store(tail, std::memory_order_release);
        ++taken;
        // An assembler waiting for a slot gets room well before a full
        // queue is drained.
        if (taken % kSlotsPerOffer == 0) {
            OfferFrameSlots();
            now_ms = HistoryNowMs();
        }
    }
    if (taken % kSlotsPerOffer != 0) {
        OfferFrameSlots();
    }
    return taken;
}

void TagTableLoop(const std::atomic<bool> *stop)
{
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_acquire)) {
            return;
        }
        ProcessQueuedFrames();
        WaitForQueuedFrames();
    }
}

void ResetTagBench(void (*clear_display)())
{
    RequestRingReset();
    {
        // The records are zeroed in the same hold as TagCount: a frame that
        // the table thread enters right after this block then lands in a
        // clean table instead of being wiped while still counted.
        std::lock_guard<std::mutex> lock(TableLock);
        TagCount.store(0, std::memory_order_relaxed);
        ReaderConnected.store(0, std::memory_order_relaxed);
        ConnectedCountdown = kCountdownTicks;
        std::memset(TagTable, 0, sizeof TagTable);
        RefusedTagCount.store(0, std::memory_order_relaxed);
    }
    PageIndex = 0;
    RestartPortErrorCount();
    if (clear_display != nullptr) {
        clear_display();
    }
    OfflineCount.store(0, std::memory_order_relaxed);
    CaptureEnabled.store(1, std::memory_order_release);
}

void AgeTagTable()
{
    const int64_t now_ms = HistoryNowMs();
    std::lock_guard<std::mutex> lock(TableLock);
    int32_t offline = 0;
    const int32_t count = TagCount.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < count; ++i) {
        TagRecord &r = TagTable[i];
        if (r.countdown == 0) {
            r.activity = 0;
            r.next_sample = 0;
            r.filling = 1;
            ++offline;
        } else {
            --r.countdown;
        }
        if (r.countdown == 0)
            NoteTagOffline(i, now_ms);
    }
    NoteAgeingTick(now_ms);
    OfflineCount.store(offline, std::memory_order_relaxed);
    if (ReaderConnected.load(std::memory_order_relaxed) != 0 && ConnectedCountdown != 0) {
        --ConnectedCountdown;
        if (ConnectedCountdown == 0) {
            ReaderConnected.store(0, std::memory_order_relaxed);
        }
    }
}

int32_t DistanceForSignal(int32_t m)
{
    if (m >= -22) {
        return 0;
    }
    const int32_t magnitude = -m;
    if (m >= -32) {
        return (40 * magnitude - 880) / 10;
    }
    // Each step rounds to single precision exactly where the reference
    // values (-33 -> 43, -50 -> 208, -67 -> 1000) expect it; pow in double
    // rounded to float gives the same p on every C runtime, which powf does
    // not promise.
    const float e = static_cast<float>((magnitude - 42) / 25.0);
    const float p = static_cast<float>(std::pow(10.0, static_cast<double>(e)));
    const float centimetres = p * 100.0f;
    return static_cast<int32_t>(centimetres);
}

namespace {

// The distance steps on a record, which may be the table's own (under
// TableLock) or a copy taken under it.
int32_t RecordDistance(const TagRecord &r, int32_t *signal)
{
    if (r.countdown == 0) {
        return kOfflineDistance;
    }
    int32_t used = 3;
    if (r.filling != 0) {
        used = r.next_sample <= 1 ? 1 : r.next_sample;
    }
    int32_t m = r.samples[0];
    for (int32_t i = 1; i < used; ++i) {
        if (r.samples[i] > m) {
            m = r.samples[i];
        }
    }
    if (signal != nullptr) {
        *signal = m;
    }
    return DistanceForSignal(m);
}

TagRowSnapshot RecordSnapshot(const TagRecord &r, int index)
{
    TagRowSnapshot s;
    std::memset(&s, 0, sizeof s);
    s.index = index;
    s.id = r.id;
    s.status = r.status;
    std::memcpy(s.extra, r.extra, sizeof s.extra);
    s.distance = RecordDistance(r, &s.signal);
    s.activity = r.activity;
    return s;
}

} // namespace

TagRowSnapshot SnapshotTagLocked(int index)
{
    return RecordSnapshot(TagTable[index], index);
}

int32_t EstimateDistance(int index, int32_t *signal)
{
    return RecordDistance(TagTable[index], signal);
}

TagRowSnapshot SnapshotTag(int index)
{
    TagRowSnapshot s;
    std::memset(&s, 0, sizeof s);
    s.index = index;
    s.distance = kOfflineDistance;
    std::lock_guard<std::mutex> lock(TableLock);
    if (index < 0 || index >= TagCount.load(std::memory_order_relaxed)) {
        return s; // a stale count from the caller: show the row as offline
    }
    return RecordSnapshot(TagTable[index], index);
}

void SnapshotTagTable(std::vector<TagRowSnapshot> &out)
{
    SnapshotTagTable(out, nullptr);
}

void SnapshotTagTable(std::vector<TagRowSnapshot> &out, std::vector<TagSeenTimes> *seen)
{
    // Allocated before the lock is taken, so that under it there is only
    // one copy of the records in use: the table thread waits for that and
    // nothing else, and distances and texts are worked out after.
    std::vector<TagRecord> records;
    records.reserve(kMaxTags);
    if (seen != nullptr)
        seen->reserve(kMaxTags);
    {
        std::lock_guard<std::mutex> lock(TableLock);
        int32_t count = TagCount.load(std::memory_order_relaxed);
        count = count < 0 ? 0 : (count > kMaxTags ? kMaxTags : count);
        records.assign(TagTable, TagTable + count);
        if (seen != nullptr) {
            seen->resize(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; ++i)
                CopySeenTimes(i, &(*seen)[i].first_ms, &(*seen)[i].last_ms);
        }
    }
    out.clear();
    out.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i)
        out.push_back(RecordSnapshot(records[i], static_cast<int>(i)));
}

void ClearReaderConnected()
{
    std::lock_guard<std::mutex> lock(TableLock);
    ReaderConnected.store(0, std::memory_order_relaxed);
}
