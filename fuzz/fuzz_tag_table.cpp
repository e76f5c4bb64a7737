// Fuzzing Tarnwick's inbound path: receive ring, frame assembler, frame
// queue and tag table, driven on one thread in the order the three worker
// threads would run them, with holes in the stream (line errors, a lost
// port) marked between pieces. Beside it runs a reference model written
// from the rules alone: the sliding header search and the cut at 12 +
// (status >> 5), a hole dropping the frame under way, the CRC by header
// kind, status 14, the sorted table of at most 3000 tags with its signal
// window, activity and countdown, the reader indicator and the ageing. The
// table and every record must equal the model's.
//
// Input layout:
//   byte 0  mode: bit 0 structured stream (below) instead of raw bytes;
//           bits 1-2 piece size class (1-4, 1-32, 1-499, 1-700 bytes);
//           bits 3-4 ageing period (never, every piece, every 4th, every 16th);
//           bit 5 holes: before some pieces the port reports line errors
//           or is lost and comes back (the next byte follows a hole);
//           bit 6 the assembler and the table thread lag behind the receiver;
//           bit 7 bytes and frames that do not fit are dropped (ring and queue
//           overflow), as on the line; otherwise the receiver retries.
//   byte 1  seed of the piece sizes and the lag.
//   rest    raw mode: the byte stream itself.
//           structured mode: records that build the stream:
//             op % 4 == 0: raw bytes, (op >> 2) of them, taken from the input
//             op % 4 == 1: one valid frame: flags, ID, status, signal, extras
//             op % 4 == 2: a burst of valid frames over an ID range: up to
//                          256 frames, or with op & 16 up to 4096, enough to
//                          fill the table
//             op % 4 == 3: one frame as op 1 but with a broken CRC
//
// After every piece (every 64th piece once the table holds more than 64
// records) the table, the offline count, the reader indicator and the
// header flag must equal the model's.
#include "fuzz/fuzz_support.h"
#include "serial/crc16.h"
#include "tagbench/frame_assembler.h"
#include "tagbench/tag_table.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace {

// Enough for a burst that fills the table and more; larger streams only
// slow the search down.
constexpr size_t kMaxStream = 64 * 1024;
// A full check of a big table costs thousands of records;
// beyond this size it runs every kCheckEvery pieces (and at the end).
constexpr int32_t kSmallTable = 64;
constexpr uint32_t kCheckEvery = 64;

// Builds one frame; returns its length. kind55aa picks the header; hdr23 are
// bytes 2 and 3 of a 55 AA header.
uint32_t BuildFrame(uint8_t *out, bool kind55aa, uint16_t hdr23, uint32_t id, uint8_t status, int8_t signal,
                    const uint8_t *extra)
{
    const uint32_t n = status >> 5;
    const uint32_t length = 12 + n;
    if (kind55aa) {
        out[0] = 0x55;
        out[1] = 0xAA;
        out[2] = static_cast<uint8_t>(hdr23 >> 8);
        out[3] = static_cast<uint8_t>(hdr23);
    } else {
        out[0] = out[1] = out[2] = out[3] = 0xFF;
    }
    out[4] = static_cast<uint8_t>(id >> 24);
    out[5] = static_cast<uint8_t>(id >> 16);
    out[6] = static_cast<uint8_t>(id >> 8);
    out[7] = static_cast<uint8_t>(id);
    out[8] = status;
    std::memcpy(out + 9, extra, n);
    out[9 + n] = static_cast<uint8_t>(signal);
    const uint16_t crc = kind55aa ? Crc16Modbus(out + 2, length - 4) : Crc16Modbus(out, length - 2);
    PutCrc16(out + 10 + n, crc);
    return length;
}

void AppendFrame(std::vector<uint8_t> &stream, bool kind55aa, uint16_t hdr23, uint32_t id, uint8_t status,
                 int8_t signal, const uint8_t *extra, uint8_t crc_damage)
{
    uint8_t frame[20];
    const uint32_t length = BuildFrame(frame, kind55aa, hdr23, id, status, signal, extra);
    if (crc_damage != 0)
        frame[length - 1 - (crc_damage & 1)] ^= crc_damage;
    stream.insert(stream.end(), frame, frame + length);
}

void BuildStructuredStream(FuzzInput &in, std::vector<uint8_t> &stream)
{
    while (!in.Empty() && stream.size() < kMaxStream) {
        const uint8_t op = in.Byte();
        switch (op & 3) {
        case 0: {
            const uint8_t *raw;
            const size_t n = in.Take(op >> 2, &raw);
            stream.insert(stream.end(), raw, raw + n);
            break;
        }
        case 1:
        case 3: {
            const uint8_t flags = in.Byte();
            // Small IDs from one byte make repeats likely; others take four.
            const uint32_t id = (flags & 2) != 0 ? in.Big32() : in.Byte();
            const uint16_t hdr23 = (flags & 4) != 0 ? 0xFFFF : (flags & 8) != 0 ? 0x55AA : 0;
            const uint8_t status = in.Byte();
            const int8_t signal = static_cast<int8_t>(in.Byte());
            uint8_t extra[7] = {};
            for (uint32_t i = 0; i < static_cast<uint32_t>(status >> 5); ++i)
                extra[i] = in.Byte();
            uint8_t damage = 0;
            if ((op & 3) == 3)
                damage = static_cast<uint8_t>(1 + in.Byte() % 255);
            AppendFrame(stream, (flags & 1) != 0, hdr23, id, status, signal, extra, damage);
            break;
        }
        case 2: {
            uint32_t count = 1 + static_cast<uint32_t>(in.Byte());
            if ((op & 16) != 0)
                count = 1 + (count - 1) * 16 + (in.Byte() & 15);
            const uint32_t base = in.Big32();
            const uint32_t stride = in.Byte();
            const uint8_t status = in.Byte();
            const int8_t signal = static_cast<int8_t>(in.Byte());
            uint8_t extra[7] = {1, 2, 3, 4, 5, 6, 7};
            for (uint32_t i = 0; i < count && stream.size() < kMaxStream; ++i) {
                // Downward strides too, so insertions land at the front.
                const uint32_t id = (op & 4) != 0 ? base - i * stride : base + i * stride;
                extra[0] = static_cast<uint8_t>(i);
                AppendFrame(stream, (op & 8) != 0, static_cast<uint16_t>(i), id, status,
                            static_cast<int8_t>(signal + static_cast<int8_t>(i & 7)), extra, 0);
            }
            break;
        }
        }
    }
}

uint32_t NextRandom(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

uint32_t QueuedFrames()
{
    const uint32_t head = FrameQueue.head.load();
    const uint32_t tail = FrameQueue.tail.load();
    return (head + kFrameQueueSlots - tail) % kFrameQueueSlots;
}

// The rules, kept apart from the code under test.
struct ModelRecord {
    uint8_t status = 0;
    int8_t samples[3] = {};
    uint8_t next_sample = 0;
    uint8_t filling = 1;
    uint8_t extra[7] = {};
    int32_t activity = 0;
    int32_t countdown = 0;
};

struct Model {
    std::vector<uint8_t> assembling;
    bool hole_pending = false;
    uint32_t queued = 0; // frames in FrameQueue
    std::vector<std::vector<uint8_t>> frames;
    std::map<uint32_t, ModelRecord> table;
    int32_t offline = 0;
    int32_t connected = 0;
    int32_t connected_countdown = 10;
    uint32_t last55aa = 0;

    // A stored byte, as the assembler takes it.
    void Byte(uint8_t b, bool hole)
    {
        if (hole)
            assembling.clear();
        assembling.push_back(b);
        const size_t n = assembling.size();
        if (n == 4) {
            const bool h55 = assembling[0] == 0x55 && assembling[1] == 0xAA;
            const bool hff = assembling[0] == 0xFF && assembling[1] == 0xFF && assembling[2] == 0xFF &&
                             assembling[3] == 0xFF;
            if (!h55 && !hff)
                assembling.erase(assembling.begin());
            return;
        }
        if (n >= 9 && n == 12u + (assembling[8] >> 5)) {
            last55aa = assembling[0] == 0x55 && assembling[1] == 0xAA ? 1 : 0;
            if (queued < kFrameQueueSlots - 1) {
                frames.push_back(assembling);
                ++queued;
            }
            assembling.clear();
        }
    }

    void Enter(const std::vector<uint8_t> &f)
    {
        const size_t length = f.size();
        const bool ff = f[0] == 0xFF && f[1] == 0xFF;
        const uint16_t crc = ff ? Crc16Modbus(f.data(), length - 2) : Crc16Modbus(f.data() + 2, length - 4);
        if (crc != ((f[length - 2] << 8) | f[length - 1]))
            return;
        connected = 1;
        connected_countdown = 10;
        const uint8_t status = f[8];
        if (status == 14)
            return;
        const uint32_t id = (uint32_t(f[4]) << 24) | (uint32_t(f[5]) << 16) | (uint32_t(f[6]) << 8) | f[7];
        auto it = table.find(id);
        if (it == table.end()) {
            if (table.size() >= static_cast<size_t>(kMaxTags))
                return;
            it = table.emplace(id, ModelRecord()).first;
        }
        ModelRecord &r = it->second;
        r.status = status;
        r.samples[r.next_sample] = static_cast<int8_t>(f[length - 3]);
        if (++r.next_sample == 3) {
            r.next_sample = 0;
            r.filling = 0;
        }
        ++r.activity;
        r.countdown = 10;
        for (uint32_t i = 0; i < static_cast<uint32_t>(status >> 5); ++i)
            r.extra[i] = f[9 + i];
    }

    void Process()
    {
        for (const auto &f : frames)
            Enter(f);
        frames.clear();
        queued = 0;
    }

    void Age()
    {
        offline = 0;
        for (auto &entry : table) {
            ModelRecord &r = entry.second;
            if (r.countdown == 0) {
                r.activity = 0;
                r.next_sample = 0;
                r.filling = 1;
                ++offline;
            } else {
                --r.countdown;
            }
        }
        if (connected && connected_countdown != 0 && --connected_countdown == 0)
            connected = 0;
    }
};

void CheckTable(const Model &m)
{
    const int32_t count = TagCount.load();
    FUZZ_CHECK(count == static_cast<int32_t>(m.table.size()), "TagCount %d, the rules give %zu", count,
               m.table.size());
    FUZZ_CHECK(OfflineCount.load() == m.offline, "OfflineCount %d, the rules give %d", OfflineCount.load(), m.offline);
    FUZZ_CHECK(ReaderConnected.load() == m.connected && ConnectedCountdown == m.connected_countdown,
               "reader %d/%d, the rules give %d/%d", ReaderConnected.load(), ConnectedCountdown, m.connected,
               m.connected_countdown);
    FUZZ_CHECK(LastFrame55AA.load() == m.last55aa, "LastFrame55AA %u, the rules give %u", LastFrame55AA.load(),
               m.last55aa);
    int32_t i = 0;
    for (const auto &entry : m.table) {
        const TagRecord &r = TagTable[i];
        const ModelRecord &e = entry.second;
        FUZZ_CHECK(r.id == entry.first, "record %d: ID %08x, the rules give %08x", i, r.id, entry.first);
        const bool window = r.next_sample == e.next_sample && r.filling == e.filling &&
                            std::memcmp(r.samples, e.samples, sizeof r.samples) == 0;
        FUZZ_CHECK(r.status == e.status && window && std::memcmp(r.extra, e.extra, sizeof r.extra) == 0,
                   "record %d (ID %08x): status, signal window or extra bytes differ from the rules", i, r.id);
        FUZZ_CHECK(r.activity == e.activity && r.countdown == e.countdown,
                   "record %d (ID %08x): activity %d countdown %d, the rules give %d and %d", i, r.id, r.activity,
                   r.countdown, e.activity, e.countdown);
        // What the grid shows: the strongest of the samples since the
        // window (re)started, or offline.
        const TagRowSnapshot shown = SnapshotTag(i);
        const int used = e.filling ? (e.next_sample <= 1 ? 1 : e.next_sample) : 3;
        const int32_t strongest = *std::max_element(e.samples, e.samples + used);
        const int32_t distance = e.countdown == 0 ? kOfflineDistance : DistanceForSignal(strongest);
        FUZZ_CHECK(shown.distance == distance && (e.countdown == 0 || shown.signal == strongest),
                   "record %d (ID %08x): shown %d dB / %d cm, the rules give %d / %d", i, r.id, shown.signal,
                   shown.distance, strongest, distance);
        ++i;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size, 0};
    const uint8_t mode = in.Byte();
    uint32_t rng = 0x9E3779B9u ^ (static_cast<uint32_t>(in.Byte()) << 8) ^ mode;

    const bool structured = (mode & 1) != 0;
    static const uint32_t kPieceMax[4] = {4, 32, 499, 700};
    const uint32_t piece_max = kPieceMax[(mode >> 1) & 3];
    static const uint32_t kAgePeriod[4] = {0, 1, 4, 16};
    const uint32_t age_period = kAgePeriod[(mode >> 3) & 3];
    const bool holes = (mode & 0x20) != 0;
    const bool lagging = (mode & 0x40) != 0;
    const bool drops = (mode & 0x80) != 0;

    std::vector<uint8_t> stream;
    if (structured)
        BuildStructuredStream(in, stream);
    else
        stream.assign(in.data + in.pos, in.data + in.size);

    // A fresh bench for every input: the assembly buffer survives a reset
    // in the program, but must not carry one input into the next here.
    InitTagBench();
    std::memset(&AssemblyBuffer, 0, sizeof AssemblyBuffer);
    LastFrame55AA.store(0);
    // A hole left pending by the input before is not this input's.
    static const uint8_t kProbe = 0x00;
    RxRingAppend(&kProbe, 1);
    AssembleAvailableBytes();
    std::memset(&AssemblyBuffer, 0, sizeof AssemblyBuffer);
    CaptureEnabled.store(1);
    Model m;
    std::vector<std::pair<uint8_t, bool>> in_ring; // stored, not yet assembled

    uint32_t pieces = 0;
    size_t pos = 0;
    while (pos < stream.size()) {
        uint32_t piece = 1 + NextRandom(rng) % piece_max;
        if (piece > stream.size() - pos)
            piece = static_cast<uint32_t>(stream.size() - pos);
        if (holes && NextRandom(rng) % 8 == 0) {
            if (NextRandom(rng) % 2 == 0)
                NotePortLineErrors(1u << (NextRandom(rng) % 5));
            else
                NotePortLost();
            m.hole_pending = true;
        }
        // What the model sees of the ring is what the assembler takes, in
        // order and when the assembler takes it: each stored byte, the
        // first after a hole marked.
        auto append = [&](size_t at, uint32_t n) {
            const uint32_t stored = RxRingAppend(stream.data() + at, n);
            for (uint32_t k = 0; k < stored; ++k) {
                in_ring.push_back({stream[at + k], m.hole_pending});
                m.hole_pending = false;
            }
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
        uint32_t stored = append(pos, piece);
        FUZZ_CHECK(stored <= piece && stored <= kRxRingSize - 1, "RxRingAppend stored %u of %u", stored, piece);
        // The receiver keeps the bytes that did not fit when drops are off,
        // handing them over once the assembler has made room.
        while (!drops && stored < piece) {
            assemble();
            process();
            stored += append(pos + stored, piece - stored);
        }
        pos += piece;
        ++pieces;

        if (!lagging || NextRandom(rng) % 4 == 0) {
            assemble();
            FUZZ_CHECK(RxRingHead.load() == RxRingTail.load(), "ring not emptied by the assembler");
        }
        FUZZ_CHECK(AssemblyBuffer.fill < 20, "assembly fill %u", AssemblyBuffer.fill);
        // A lagging table thread is forced to catch up before the queue can
        // overflow, unless drops are the point of the run.
        if (!lagging || NextRandom(rng) % 4 == 0 || (!drops && QueuedFrames() > kFrameQueueSlots - 64))
            process();

        const bool check_now = TagCount.load() <= kSmallTable || pieces % kCheckEvery == 0;
        if (age_period != 0 && pieces % age_period == 0) {
            AgeTagTable();
            m.Age();
        }
        if (check_now && RxRingHead.load() == RxRingTail.load() && QueuedFrames() == 0)
            CheckTable(m);
    }
    AssembleAvailableBytes();
    for (const auto &b : in_ring)
        m.Byte(b.first, b.second);
    ProcessQueuedFrames();
    m.Process();
    CheckTable(m);
    return 0;
}
