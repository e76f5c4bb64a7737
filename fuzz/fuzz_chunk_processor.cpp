// Fuzzing Pellfray's receive path: reads of any size and content pushed
// through ChunkQueuePushLong, line errors reported by the port, drained by
// ChunkProcessorDrain, with the GUI thread's moves (arming and disarming a
// tag configuration, skip requests, the port closing under an answer)
// interleaved, all on one thread. The hooks record every write, log line,
// note, answer and console message.
//
// Input layout: a sequence of operations, each an op byte and its data:
//   0x00-0x7F  a read of (op & 0x7F) bytes taken from the input
//   0x80-0xBF  a long read: ((op & 0x3F) << 4 | next & 15) + 1 bytes, so up
//              to 1024, split into 255-byte slots by the queue
//   0xC0-0xFF  op & 7 selects: 0 drain; 1 arm a configuration (ID as 4
//              bytes, send period, battery period); 2 disarm; 3 set
//              a skip request; 4 a read holding a valid-CRC wake-up frame
//              (byte 4 zero, or taken from the input when op & 8); 5 a read
//              of a valid-CRC FF FF FF FF chunk of a chosen length; 6 line
//              errors (the next byte's low five bits), or with op & 8 the
//              port opens or closes; 7 move the empty queue's indices to a
//              chosen slot, so wrapping is reached.
//
// Alongside, the harness keeps its own account of the queue and predicts
// every recorded event: each queued byte logged exactly once and in order
// unless a skip request covered its drain, "msg buffer full" exactly for a
// slot that found the queue full, "check error" exactly for an FF FF FF FF
// chunk whose last two bytes are not its CRC, line errors on the console and
// as a note exactly where they were reported in the stream (or ahead of the
// next chunk once the queue had room), and the armed frame written, logged
// and answered with its arming's number at most once, only for a valid
// 9-byte wake-up frame with byte 4 zero, and only while a port is open.
#include "fuzz/fuzz_support.h"
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/crc16.h"
#include "serial/receive_pass.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

struct Event {
    char kind; // W serial write, R received line, S sent line, A answered arming, C console message, N note
    std::string bytes;
    bool operator==(const Event &o) const { return kind == o.kind && bytes == o.bytes; }
};

std::vector<Event> Recorded;
bool PortOpen = true;

std::string Bytes(const uint8_t *data, uint32_t length)
{
    return std::string(reinterpret_cast<const char *>(data), length);
}

bool RecordWrite(const uint8_t *data, uint32_t length)
{
    if (!PortOpen)
        return false;
    Recorded.push_back({'W', Bytes(data, length)});
    return true;
}
void RecordReceived(uint32_t count, const uint8_t *bytes) { Recorded.push_back({'R', Bytes(bytes, count)}); }
void RecordSent(uint32_t count, const uint8_t *bytes) { Recorded.push_back({'S', Bytes(bytes, count)}); }
void RecordAnswered(uint32_t arm) { Recorded.push_back({'A', std::to_string(arm)}); }
void RecordConsole(const char *text) { Recorded.push_back({'C', text}); }
void RecordNote(const char *text) { Recorded.push_back({'N', text}); }

// A queued slot: bytes, or line errors alone.
struct Slot {
    std::string bytes;
    uint32_t errors = 0;
};

// The harness's own account of the queue and the arming.
struct Model {
    std::deque<Slot> queued;
    uint32_t pending_errors = 0;
    bool armed = false;
    std::string armed_frame;
    uint32_t armed_number = 0;
    bool skip_log = false;
    std::vector<Event> expected;
};

bool Full(const Model &m)
{
    return m.queued.size() == kChunkQueueSlots - 1;
}

bool FourFF(const std::string &c)
{
    return c.size() >= 4 && static_cast<uint8_t>(c[0]) == 0xFF && static_cast<uint8_t>(c[1]) == 0xFF &&
           static_cast<uint8_t>(c[2]) == 0xFF && static_cast<uint8_t>(c[3]) == 0xFF;
}

// Returns the bytes that must be queued: a prefix of the read.
uint32_t ModelPush(Model &m, const uint8_t *data, uint32_t length)
{
    uint32_t done = 0;
    while (done < length) {
        const uint32_t piece = length - done < kChunkMaxLength ? length - done : kChunkMaxLength;
        if (m.pending_errors != 0 && !Full(m)) {
            m.queued.push_back({std::string(), m.pending_errors});
            m.pending_errors = 0;
        }
        if (m.pending_errors != 0 || Full(m)) {
            m.expected.push_back({'C', kMsgBufferFull});
            break;
        }
        m.queued.push_back({Bytes(data + done, piece), 0});
        done += piece;
    }
    return done;
}

void ModelLineErrors(Model &m, uint32_t flags)
{
    m.pending_errors |= flags & kLineErrorMask;
    if (m.pending_errors != 0 && !Full(m)) {
        m.queued.push_back({std::string(), m.pending_errors});
        m.pending_errors = 0;
    }
}

void ModelDrain(Model &m)
{
    for (const Slot &slot : m.queued) {
        if (slot.errors != 0) {
            char words[96];
            m.expected.push_back({'C', std::string("port error: ") + LineErrorWords(slot.errors, words, sizeof words) +
                                           "\r\n"});
            char note[160];
            m.expected.push_back({'N', LineErrorNote(slot.errors, note, sizeof note)});
        }
        const std::string &c = slot.bytes;
        if (c.empty())
            continue;
        if (!m.skip_log)
            m.expected.push_back({'R', c});
        if (!FourFF(c))
            continue;
        const uint8_t *b = reinterpret_cast<const uint8_t *>(c.data());
        if (Crc16Modbus(b, c.size() - 2) != GetCrc16(b + c.size() - 2)) {
            m.expected.push_back({'C', kMsgCheckError});
            continue;
        }
        if (c.size() == 9 && b[4] == 0x00 && m.armed) {
            m.armed = false;
            if (!PortOpen)
                continue; // the frame went nowhere: no line, no answer
            m.expected.push_back({'W', m.armed_frame});
            m.expected.push_back({'S', m.armed_frame});
            m.expected.push_back({'A', std::to_string(m.armed_number)});
        }
    }
    m.queued.clear();
    m.skip_log = false;
}

void Push(Model &m, const uint8_t *data, uint32_t length)
{
    const uint32_t expected = ModelPush(m, data, length);
    const uint32_t queued = ChunkQueuePushLong(data, length);
    FUZZ_CHECK(queued == expected, "ChunkQueuePushLong queued %u of %u bytes, expected %u", queued, length, expected);
}

void Drain(Model &m)
{
    const uint32_t expected = static_cast<uint32_t>(m.queued.size());
    ModelDrain(m);
    const uint32_t taken = ChunkProcessorDrain();
    FUZZ_CHECK(taken == expected, "drain took %u chunks, %u were queued", taken, expected);
}

// Valid-CRC FF FF FF FF chunk: four 0xFF, the body, the CRC of it all.
std::string FFChunk(const std::string &body)
{
    std::string c("\xFF\xFF\xFF\xFF", 4);
    c += body;
    uint8_t crc[2];
    PutCrc16(crc, Crc16Modbus(reinterpret_cast<const uint8_t *>(c.data()), c.size()));
    c += Bytes(crc, 2);
    return c;
}

void CheckState(const Model &m)
{
    FUZZ_CHECK(ChunkQueueCount() == m.queued.size(), "%u chunks in the queue, %zu expected", ChunkQueueCount(),
               m.queued.size());
    FUZZ_CHECK(ConfigPending.load() == m.armed, "ConfigPending %d, expected %d", ConfigPending.load(), m.armed);
    FUZZ_CHECK(SkipRxLogActive() == m.skip_log, "skip request standing %d, expected %d", SkipRxLogActive(),
               m.skip_log);
    FUZZ_CHECK(Recorded.size() == m.expected.size(), "%zu events recorded, %zu expected", Recorded.size(),
               m.expected.size());
    for (size_t i = 0; i < Recorded.size(); ++i)
        FUZZ_CHECK(Recorded[i] == m.expected[i], "event %zu is %c of %zu bytes, expected %c of %zu bytes", i,
                   Recorded[i].kind, Recorded[i].bytes.size(), m.expected[i].kind, m.expected[i].bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ModuleHooks hooks{};
    hooks.serial_write = RecordWrite;
    hooks.log_received = RecordReceived;
    hooks.log_sent = RecordSent;
    hooks.config_answered = RecordAnswered;
    hooks.console_print = RecordConsole;
    hooks.log_note = RecordNote;
    SetModuleHooks(hooks);
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
        if (op < 0x80) {
            const uint8_t *chunk;
            const size_t n = in.Take(op & 0x7F, &chunk);
            Push(m, chunk, static_cast<uint32_t>(n));
        } else if (op < 0xC0) {
            const size_t wanted = ((static_cast<size_t>(op & 0x3F) << 4) | (in.Byte() & 15)) + 1;
            const uint8_t *chunk;
            const size_t n = in.Take(wanted, &chunk);
            Push(m, chunk, static_cast<uint32_t>(n));
        } else {
            switch (op & 7) {
            case 0:
                Drain(m);
                break;
            case 1: {
                const uint32_t id = in.Big32();
                const uint8_t send = in.Byte();
                const uint8_t battery = in.Byte();
                // As the dialog: build completely, then arm.
                BuildTagConfigFrame(static_cast<int32_t>(id), send, battery);
                const uint8_t body[4] = {static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8),
                                         static_cast<uint8_t>(id), send};
                std::string expected_frame = FFChunk(std::string("\x00", 1) + Bytes(body, 4) + Bytes(&battery, 1));
                FUZZ_CHECK(Bytes(OutFrame, kTagConfigFrameLength) == expected_frame, "tag configuration frame");
                m.armed_number = ConfigPending.Arm();
                m.armed = true;
                m.armed_frame = expected_frame;
                FUZZ_CHECK(ConfigPending.IsCurrent(m.armed_number), "the arming just made is not current");
                break;
            }
            case 2:
                ConfigPending.store(false);
                m.armed = false;
                break;
            case 3:
                RequestSkipRxLog();
                m.skip_log = true;
                break;
            case 4: {
                uint8_t body[3] = {0, in.Byte(), in.Byte()};
                if ((op & 8) != 0)
                    body[0] = in.Byte();
                const std::string c = FFChunk(Bytes(body, 3));
                Push(m, reinterpret_cast<const uint8_t *>(c.data()), static_cast<uint32_t>(c.size()));
                break;
            }
            case 5: {
                // Lengths 6 to 1024 in all: the body fills what the CRC leaves.
                const size_t total = 6 + ((static_cast<size_t>(in.Byte()) << 2 | (in.Byte() & 3)) % 1019);
                std::string body(total - 6, '\0');
                for (char &b : body)
                    b = static_cast<char>(in.Byte());
                const std::string c = FFChunk(body);
                Push(m, reinterpret_cast<const uint8_t *>(c.data()), static_cast<uint32_t>(c.size()));
                break;
            }
            case 6:
                if ((op & 8) != 0) {
                    PortOpen = !PortOpen;
                } else {
                    const uint32_t flags = in.Byte() & 0x1F;
                    ModelLineErrors(m, flags);
                    ChunkQueueLineErrors(flags);
                }
                break;
            case 7: {
                const uint32_t slot = ((static_cast<uint32_t>(in.Byte()) << 8) | in.Byte()) % kChunkQueueSlots;
                if (m.queued.empty()) {
                    ChunkQueue.head.store(slot);
                    ChunkQueue.tail.store(slot);
                }
                break;
            }
            }
        }
        CheckState(m);
    }
    // Everything still queued is processed, which also frees the copies.
    Drain(m);
    CheckState(m);
    return 0;
}
