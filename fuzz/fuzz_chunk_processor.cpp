// Fuzzing Pellfray's receive path: reads of any size and content pushed
// through ChunkQueuePushLong, line errors reported by the port, drained by
// ChunkProcessorDrain, with the GUI thread's moves (arming and disarming a
// tag configuration, skip requests, the port closing under an answer)
// interleaved, all on one thread.
//
// Input layout: a sequence of operations, each an op byte and its data:
//   0x00-0x7F  a read of (op & 0x7F) bytes taken from the input
//   0x80-0xBF  a long read: ((op & 0x3F) << 4 | next & 15) + 1 bytes, so up
//              to 1024, split into 255-byte slots by the queue
//   0xC0-0xFF  op & 7 selects: 0 drain; 1 arm a configuration (ID as 4
//              bytes, send period, battery period); 2 disarm; 3 set a skip
//              request; 4 a valid-CRC wake-up frame (byte 4 zero, or taken
//              from the input when op & 8); 5 a valid-CRC FF FF FF FF chunk
//              of a chosen length (6 to 1024); 6 line errors (the next
//              byte's low five bits), or with op & 8 the port opens or
//              closes; 7 move the empty queue's indices to a chosen slot, so
//              wrapping is reached.
//
// The harness keeps its own account of the queue and predicts every event
// the hooks record: each queued byte logged once and in order unless a skip
// request covered its drain; "msg buffer full" exactly for a slot that found
// the queue full; "check error" exactly for an FF FF FF FF chunk whose last
// two bytes are not its CRC; line errors on the console and as a note where
// they were reported in the stream (or ahead of the next chunk once the
// queue had room); and the armed frame written, logged and answered with
// its arming's number at most once, only for a valid 9-byte wake-up frame
// with byte 4 zero, and only while a port is open.
#include "fuzz/fuzz_support.h"
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/crc16.h"
#include "serial/receive_pass.h"

#include <deque>
#include <string>
#include <vector>

namespace {

// W serial write, R received line, S sent line, A answered arming, C console
// message, N note; with its bytes or text.
using Event = std::pair<char, std::string>;
std::vector<Event> Recorded;
bool PortOpen = true;

std::string Str(const uint8_t *data, size_t length)
{
    return std::string(reinterpret_cast<const char *>(data), length);
}

// The harness's own account of the queue (each slot bytes, or line errors
// alone) and of the arming.
struct Model {
    std::deque<std::pair<std::string, uint32_t>> queued;
    uint32_t pending_errors = 0;
    bool armed = false;
    uint32_t armed_number = 0;
    bool skip_log = false;
    std::vector<Event> expected;

    bool Full() const { return queued.size() == kChunkQueueSlots - 1; }
    void QueuePendingErrors()
    {
        if (pending_errors == 0 || Full())
            return;
        queued.push_back({std::string(), pending_errors});
        pending_errors = 0;
    }
};

// A read: the model queues a prefix of it, which the queue must take.
void Push(Model &m, const std::string &read)
{
    const auto *data = reinterpret_cast<const uint8_t *>(read.data());
    const auto length = static_cast<uint32_t>(read.size());
    uint32_t done = 0;
    while (done < length) {
        m.QueuePendingErrors();
        if (m.pending_errors != 0 || m.Full()) {
            m.expected.push_back({'C', kMsgBufferFull});
            break;
        }
        const uint32_t piece = length - done < kChunkMaxLength ? length - done : kChunkMaxLength;
        m.queued.push_back({Str(data + done, piece), 0});
        done += piece;
    }
    const uint32_t queued = ChunkQueuePushLong(data, length);
    FUZZ_CHECK(queued == done, "queued %u of %u bytes, expected %u", queued, length, done);
}

void Drain(Model &m)
{
    const uint32_t taken = ChunkProcessorDrain();
    FUZZ_CHECK(taken == m.queued.size(), "drain took %u chunks, %zu were queued", taken, m.queued.size());
    for (const auto &slot : m.queued) {
        if (slot.second != 0) {
            char words[96];
            char note[160];
            m.expected.push_back({'C', std::string("port error: ") + LineErrorWords(slot.second, words, 96) + "\r\n"});
            m.expected.push_back({'N', LineErrorNote(slot.second, note, sizeof note)});
        }
        const std::string &c = slot.first;
        if (!c.empty() && !m.skip_log)
            m.expected.push_back({'R', c});
        if (c.compare(0, 4, std::string(4, '\xFF')) != 0)
            continue;
        const auto *b = reinterpret_cast<const uint8_t *>(c.data());
        if (Crc16Modbus(b, c.size() - 2) != GetCrc16(b + c.size() - 2)) {
            m.expected.push_back({'C', kMsgCheckError});
        } else if (c.size() == 9 && b[4] == 0x00 && m.armed) {
            m.armed = false;
            if (!PortOpen)
                continue; // the frame went nowhere: no line, no answer
            const std::string armed = Str(OutFrame, kTagConfigFrameLength);
            m.expected.insert(m.expected.end(), {{'W', armed}, {'S', armed}, {'A', std::to_string(m.armed_number)}});
        }
    }
    m.queued.clear();
    m.skip_log = false;
}

// A valid-CRC FF FF FF FF chunk: four 0xFF, the body, the CRC of it all.
std::string FFChunk(FuzzInput &in, size_t body_length, bool zero_byte_4)
{
    std::string c(4, '\xFF');
    for (size_t i = 0; i < body_length; ++i)
        c += static_cast<char>(i == 0 && zero_byte_4 ? 0 : in.Byte());
    uint8_t crc[2];
    PutCrc16(crc, Crc16Modbus(reinterpret_cast<const uint8_t *>(c.data()), c.size()));
    return c + Str(crc, 2);
}

void CheckState(const Model &m)
{
    FUZZ_CHECK(ChunkQueueCount() == m.queued.size(), "%u chunks queued, %zu expected", ChunkQueueCount(),
               m.queued.size());
    FUZZ_CHECK(ConfigPending.load() == m.armed, "ConfigPending %d, expected %d", ConfigPending.load(), m.armed);
    FUZZ_CHECK(SkipRxLogActive() == m.skip_log, "skip request %d, expected %d", SkipRxLogActive(), m.skip_log);
    FUZZ_CHECK(Recorded.size() == m.expected.size(), "%zu events, %zu expected", Recorded.size(), m.expected.size());
    for (size_t i = 0; i < Recorded.size(); ++i)
        FUZZ_CHECK(Recorded[i] == m.expected[i], "event %zu is %c of %zu bytes, expected %c of %zu bytes", i,
                   Recorded[i].first, Recorded[i].second.size(), m.expected[i].first, m.expected[i].second.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SetModuleHooks(ModuleHooks{
        [](const uint8_t *d, uint32_t n) { return PortOpen && (Recorded.push_back({'W', Str(d, n)}), true); },
        [](uint32_t n, const uint8_t *d) { Recorded.push_back({'R', Str(d, n)}); },
        [](uint32_t n, const uint8_t *d) { Recorded.push_back({'S', Str(d, n)}); },
        [](uint32_t arm) { Recorded.push_back({'A', std::to_string(arm)}); },
        nullptr,
        [](const char *text) { Recorded.push_back({'C', text}); },
        [](const char *text) { Recorded.push_back({'N', text}); },
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size, 0};
    ChunkQueueInit();
    Recorded.clear();
    PortOpen = true;
    Model m;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        const uint8_t *chunk = nullptr;
        if (op < 0xC0) {
            const size_t wanted = op < 0x80 ? op : ((static_cast<size_t>(op & 0x3F) << 4) | (in.Byte() & 15)) + 1;
            const size_t n = in.Take(wanted, &chunk);
            Push(m, Str(chunk, n));
        } else if ((op & 7) == 0) {
            Drain(m);
        } else if ((op & 7) == 1) {
            // As the dialog: build completely, then arm.
            const int32_t id = static_cast<int32_t>(in.Big32());
            const uint8_t send = in.Byte();
            BuildTagConfigFrame(id, send, in.Byte());
            m.armed_number = ConfigPending.Arm();
            m.armed = true;
            FUZZ_CHECK(ConfigPending.IsCurrent(m.armed_number), "the arming just made is not current");
        } else if ((op & 7) == 2) {
            ConfigPending.store(false);
            m.armed = false;
        } else if ((op & 7) == 3) {
            RequestSkipRxLog();
            m.skip_log = true;
        } else if ((op & 7) == 4) {
            Push(m, FFChunk(in, 3, (op & 8) == 0));
        } else if ((op & 7) == 5) {
            Push(m, FFChunk(in, (static_cast<size_t>(in.Byte()) << 2 | (in.Byte() & 3)) % 1019, false));
        } else if ((op & 7) == 6 && (op & 8) != 0) {
            PortOpen = !PortOpen;
        } else if ((op & 7) == 6) {
            const uint32_t flags = in.Byte() & 0x1F;
            m.pending_errors |= flags & kLineErrorMask;
            m.QueuePendingErrors();
            ChunkQueueLineErrors(flags);
        } else {
            const uint32_t slot = ((static_cast<uint32_t>(in.Byte()) << 8) | in.Byte()) % kChunkQueueSlots;
            if (m.queued.empty()) {
                ChunkQueue.head.store(slot);
                ChunkQueue.tail.store(slot);
            }
        }
        CheckState(m);
    }
    // Everything still queued is processed, which also frees the copies.
    Drain(m);
    CheckState(m);
    return 0;
}
