// Fuzzing Tarnwick's inbound path (receive ring, frame assembler, frame
// queue, tag table) on one thread, in the order the worker threads would run
// it, with holes in the stream marked between pieces. Beside it runs a model
// written from the rules alone (header search, the cut at 12 + (status >> 5),
// a hole dropping the frame under way, the CRC by header kind, status 14, the
// sorted table of at most kMaxTags tags, signal window, ageing, reader
// indicator); the table and every record must equal the model's.
//
// Speed is what finds faults here: this build's table holds 48 tags and its
// frame queue 96 frames (see CMakeLists.txt), so a full table, the shifts at
// its front and a full queue are a few hundred bytes of input away, a stream
// stops at 2 KiB, and an input starts
// from the bench's own reset with buffers kept from the input before, at
// well over 1000 inputs a second.
//
// Input: byte 0 mode (bit 0 structured stream; bits 1-2 piece size class;
// bits 3-4 ageing period; bit 5 holes; bit 6 consumers lag; bit 7 what does
// not fit is dropped), byte 1 seed, then the stream: raw bytes, or records
// (op % 4: 0 raw bytes, 1 a frame, 2 a run of frames, 3 a run with broken
// CRCs).
#include "fuzz/fuzz_support.h"
#include "tagbench/tests/tag_frames.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// Enough for a full table (kMaxTags is small in the fuzz build) several
// times over; longer streams only slow the search down.
constexpr size_t kMaxStream = 2048;
// A full check costs every record: past this size it runs every 8th piece
// (and at the end). A record that went wrong stays wrong until then.
constexpr int32_t kSmallTable = 16;
constexpr uint32_t kCheckEvery = 8;

void BuildStructuredStream(FuzzInput &in, Bytes &stream)
{
    while (!in.Empty() && stream.size() < kMaxStream) {
        const uint8_t op = in.Byte();
        if ((op & 3) == 0) {
            const uint8_t *raw;
            const size_t n = in.Take(op >> 2, &raw);
            stream.insert(stream.end(), raw, raw + n);
            continue;
        }
        // A run of frames over an ID range (downward too, so insertions
        // land at the front), 1 to 256 of them, or with op & 16 enough to
        // fill the table; small IDs from one byte make repeats likely.
        uint32_t count = (op & 3) == 2 ? 1 + in.Byte() : 1;
        if ((op & 16) != 0)
            count = 1 + (count - 1) * 16 + (in.Byte() & 15);
        const uint32_t base = (op & 32) != 0 ? in.Big32() : in.Byte(), stride = count > 1 ? in.Byte() : 0;
        const uint8_t status = in.Byte();
        const int8_t signal = static_cast<int8_t>(in.Byte());
        uint8_t extra[7] = {};
        for (uint32_t i = 0; i < static_cast<uint32_t>(status >> 5); ++i)
            extra[i] = in.Byte();
        for (uint32_t i = 0; i < count && stream.size() < kMaxStream; ++i) {
            const uint32_t id = (op & 4) != 0 ? base - i * stride : base + i * stride;
            const uint8_t b23 = static_cast<uint8_t>((op & 64) != 0 ? 0x55 + i : i);
            const Bytes f = MakeReport((op & 8) != 0, id, status, static_cast<int8_t>(signal + (i & 7)), extra,
                                       (op & 3) == 3, b23, (op & 128) != 0 ? 0xAA : 0xFF);
            stream.insert(stream.end(), f.begin(), f.end());
        }
    }
}

// The histories' clock, driven by the input rather than the wall: every
// piece moves it on a little, every ageing tick a second, and now and then a
// silence longer than the ten minutes a history holds.
int64_t FuzzNowMs = 0;
int64_t FuzzClockMs() { return FuzzNowMs; }

uint32_t NextRandom(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

struct ModelRecord {
    uint8_t status = 0;
    int8_t samples[3] = {};
    uint8_t next_sample = 0, filling = 1;
    uint8_t extra[7] = {};
    int32_t activity = 0, countdown = 0;
};

// A frame as the model queues it (at most 19 bytes).
struct ModelFrame {
    uint8_t bytes[20];
    uint8_t length;
};

// The rules, kept apart from the code under test. One model lives for the
// whole run and is emptied for each input, so its buffers are allocated once.
struct Model {
    Bytes assembling;
    bool hole_pending = false;
    std::vector<ModelFrame> frames; // in FrameQueue
    std::map<uint32_t, ModelRecord> table;
    int32_t offline = 0, connected = 0, connected_countdown = 10;
    uint32_t last55aa = 0;

    void Clear()
    {
        assembling.clear();
        hole_pending = false;
        frames.clear();
        table.clear();
        offline = connected = 0;
        connected_countdown = 10;
        last55aa = 0;
    }

    // A stored byte, as the assembler takes it.
    void Byte(uint8_t b, bool hole)
    {
        if (hole)
            assembling.clear();
        assembling.push_back(b);
        const Bytes &a = assembling;
        if (a.size() == 4) {
            if (!(a[0] == 0x55 && a[1] == 0xAA) && !(a[0] == 0xFF && a[1] == 0xFF && a[2] == 0xFF && a[3] == 0xFF))
                assembling.erase(assembling.begin());
        } else if (a.size() >= 9 && a.size() == 12u + (a[8] >> 5)) {
            last55aa = a[0] == 0x55 ? 1 : 0;
            if (frames.size() < kFrameQueueSlots - 1) {
                ModelFrame f;
                std::copy(a.begin(), a.end(), f.bytes);
                f.length = static_cast<uint8_t>(a.size());
                frames.push_back(f);
            }
            assembling.clear();
        }
    }

    void Enter(const ModelFrame &frame)
    {
        const uint8_t *f = frame.bytes;
        const size_t n = frame.length;
        const uint16_t crc = f[0] == 0xFF ? Crc16Modbus(f, n - 2) : Crc16Modbus(f + 2, n - 4);
        if (crc != ((f[n - 2] << 8) | f[n - 1]))
            return;
        connected = 1;
        connected_countdown = 10;
        if (f[8] == 14)
            return;
        const uint32_t id = (uint32_t(f[4]) << 24) | (uint32_t(f[5]) << 16) | (uint32_t(f[6]) << 8) | f[7];
        if (table.count(id) == 0 && table.size() >= static_cast<size_t>(kMaxTags))
            return;
        ModelRecord &r = table[id];
        r.status = f[8];
        r.samples[r.next_sample] = static_cast<int8_t>(f[n - 3]);
        if (++r.next_sample == 3)
            r.next_sample = r.filling = 0;
        ++r.activity;
        r.countdown = 10;
        std::copy(f + 9, f + 9 + (f[8] >> 5), r.extra);
    }

    void Process()
    {
        for (const auto &f : frames)
            Enter(f);
        frames.clear();
    }

    void Age()
    {
        offline = 0;
        for (auto &entry : table) {
            ModelRecord &r = entry.second;
            if (r.countdown != 0) {
                --r.countdown;
                continue;
            }
            r.activity = r.next_sample = 0;
            r.filling = 1;
            ++offline;
        }
        if (connected && connected_countdown != 0 && --connected_countdown == 0)
            connected = 0;
    }
};

void CheckTable(const Model &m)
{
    FUZZ_CHECK(TagCount.load() == static_cast<int32_t>(m.table.size()) && OfflineCount.load() == m.offline,
               "%d tags, %d offline; the rules give %zu, %d", TagCount.load(), OfflineCount.load(), m.table.size(),
               m.offline);
    FUZZ_CHECK(ReaderConnected.load() == m.connected && ConnectedCountdown == m.connected_countdown &&
                   LastFrame55AA.load() == m.last55aa,
               "reader %d/%d header %u; the rules give %d/%d, %u", ReaderConnected.load(), ConnectedCountdown,
               LastFrame55AA.load(), m.connected, m.connected_countdown, m.last55aa);
    int32_t i = 0;
    for (const auto &entry : m.table) {
        const TagRecord &r = TagTable[i];
        const ModelRecord &e = entry.second;
        FUZZ_CHECK(r.id == entry.first && r.status == e.status && r.next_sample == e.next_sample &&
                       r.filling == e.filling && std::memcmp(r.samples, e.samples, sizeof r.samples) == 0 &&
                       std::memcmp(r.extra, e.extra, sizeof r.extra) == 0 && r.activity == e.activity &&
                       r.countdown == e.countdown,
                   "record %d (ID %08x) differs from the rules (ID %08x)", i, r.id, entry.first);
        // What the grid shows: the strongest sample since the window
        // (re)started, or offline.
        const TagRowSnapshot shown = SnapshotTag(i++);
        const int used = e.filling ? std::max<int>(1, e.next_sample) : 3;
        const int32_t strongest = *std::max_element(e.samples, e.samples + used);
        const int32_t distance = e.countdown == 0 ? kOfflineDistance : DistanceForSignal(strongest);
        FUZZ_CHECK(shown.distance == distance && (e.countdown == 0 || shown.signal == strongest),
                   "ID %08x shown %d dB / %d cm, the rules give %d / %d", r.id, shown.signal, shown.distance,
                   strongest, distance);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size, 0};
    const uint8_t mode = in.Byte();
    uint32_t rng = 0x9E3779B9u ^ (static_cast<uint32_t>(in.Byte()) << 8) ^ mode;
    static const uint32_t kPieceMax[4] = {4, 32, 499, 700};
    static const uint32_t kAgePeriod[4] = {0, 1, 4, 16};
    const uint32_t piece_max = kPieceMax[(mode >> 1) & 3], age_period = kAgePeriod[(mode >> 3) & 3];
    const bool holes = (mode & 0x20) != 0, lagging = (mode & 0x40) != 0, drops = (mode & 0x80) != 0;

    // Kept from one input to the next, with room for the largest input
    // reserved once: an input allocates only the model's table, and frees it
    // again (libFuzzer checks for a leak after any input that does not).
    static Bytes stream;
    static Model m;
    static std::vector<std::pair<uint8_t, bool>> in_ring; // stored, not yet assembled; the first after a hole marked
    if (stream.capacity() == 0) {
        stream.reserve(kMaxStream + 64);
        m.assembling.reserve(32);
        m.frames.reserve(kFrameQueueSlots);
        in_ring.reserve(2 * kRxRingSize);
    }
    stream.clear();
    m.Clear();
    in_ring.clear();
    if ((mode & 1) != 0)
        BuildStructuredStream(in, stream);
    else
        stream.assign(in.data + in.pos, in.data + std::min(in.size, in.pos + kMaxStream));

    // A fresh bench for every input; a hole left pending by the input
    // before is taken by a probe byte.
    SetHistoryClock(FuzzClockMs);
    InitTagBench();
    std::memset(&AssemblyBuffer, 0, sizeof AssemblyBuffer);
    static const uint8_t kProbe = 0x00;
    RxRingAppend(&kProbe, 1);
    AssembleAvailableBytes();
    std::memset(&AssemblyBuffer, 0, sizeof AssemblyBuffer);
    LastFrame55AA.store(0);
    CaptureEnabled.store(1);
    auto append = [&](size_t at, uint32_t n) {
        const uint32_t stored = RxRingAppend(stream.data() + at, n);
        for (uint32_t k = 0; k < stored; ++k, m.hole_pending = false)
            in_ring.push_back({stream[at + k], m.hole_pending});
        return stored;
    };
    auto assemble = [&] {
        AssembleAvailableBytes();
        for (const auto &b : in_ring)
            m.Byte(b.first, b.second);
        in_ring.clear();
    };
    auto process = [&] {
        ProcessQueuedFrames();
        m.Process();
    };

    for (uint32_t pieces = 1, pos = 0; pos < stream.size(); ++pieces) {
        const uint32_t piece = std::min<uint32_t>(1 + NextRandom(rng) % piece_max, stream.size() - pos);
        if (holes && NextRandom(rng) % 8 == 0) {
            if (NextRandom(rng) % 2 == 0)
                NotePortLineErrors(1u << (NextRandom(rng) % 5));
            else
                NotePortLost();
            m.hole_pending = true;
        }
        uint32_t stored = append(pos, piece);
        FUZZ_CHECK(stored <= piece && stored <= kRxRingSize - 1, "RxRingAppend stored %u of %u", stored, piece);
        // Without drops the receiver hands on the rest once there is room.
        while (!drops && stored < piece) {
            assemble();
            process();
            stored += append(pos + stored, piece - stored);
        }
        pos += piece;
        if (!lagging || NextRandom(rng) % 4 == 0) {
            assemble();
            FUZZ_CHECK(RxRingHead.load() == RxRingTail.load(), "ring not emptied by the assembler");
        }
        FUZZ_CHECK(AssemblyBuffer.fill < 20, "assembly fill %u", AssemblyBuffer.fill);
        // A lagging table thread catches up before the queue overflows,
        // unless drops are the point of the run.
        if (!lagging || NextRandom(rng) % 4 == 0 || (!drops && QueuedFrames() > kFrameQueueSlots - 64))
            process();
        FuzzNowMs += NextRandom(rng) % 64 == 0 ? 700000 : NextRandom(rng) % 300;
        if (age_period != 0 && pieces % age_period == 0) {
            FuzzNowMs += 1000;
            AgeTagTable();
            m.Age();
        }
        if ((TagCount.load() <= kSmallTable || pieces % kCheckEvery == 0) && RxRingHead.load() == RxRingTail.load() &&
            QueuedFrames() == 0)
            CheckTable(m);
    }
    assemble();
    process();
    CheckTable(m);
    m.Clear();
    return 0;
}
