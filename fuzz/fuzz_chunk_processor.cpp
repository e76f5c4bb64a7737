// Fuzzing Pellfray's receive path: reads of any size and content pushed
// through ChunkQueuePushLong, drained by ChunkProcessorDrain, with the GUI
// thread's moves (arming and disarming a tag configuration,
// SkipRxLog) interleaved, all on one thread. The hooks record every
// write, log line, status text and console message.
//
// Input layout: a sequence of operations, each an op byte and its data:
//   0x00-0x7F  a read of (op & 0x7F) bytes taken from the input
//   0x80-0xBF  a long read: ((op & 0x3F) << 4 | next & 15) + 1 bytes, so up
//              to 1024, split into 255-byte slots by the queue
//   0xC0-0xFF  op & 7 selects: 0 drain; 1 arm a configuration (ID as 4
//              bytes, send period, battery period); 2 disarm; 3 set
//              SkipRxLog; 4 a read holding a valid-CRC wake-up frame (byte 4
//              zero, or taken from the input when op & 8); 5 a read of a
//              valid-CRC FF FF FF FF chunk of a chosen length; 6 nothing;
//              7 move the empty queue's indices to a chosen slot, so
//              wrapping is reached.
//
// Alongside, the harness keeps its own account of the queue and predicts
// every recorded event: each queued byte logged exactly once and in order
// unless SkipRxLog covered its drain, "msg buffer full" exactly for a slot
// that found the queue full, "check error" exactly for an FF FF FF FF chunk
// whose last two bytes are not its CRC, and the armed frame written, logged
// and reported at most once, and only for a valid 9-byte wake-up frame with
// byte 4 zero.
#include "fuzz/fuzz_support.h"
#include "modulebench/chunk_queue.h"
#include "modulebench/config_frames.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"
#include "serial/crc16.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

struct Event {
    char kind; // W serial write, R received line, S sent line, T status text, C console message
    std::string bytes;
    bool operator==(const Event &o) const { return kind == o.kind && bytes == o.bytes; }
};

std::vector<Event> Recorded;

std::string Bytes(const uint8_t *data, uint32_t length)
{
    return std::string(reinterpret_cast<const char *>(data), length);
}

void RecordWrite(const uint8_t *data, uint32_t length) { Recorded.push_back({'W', Bytes(data, length)}); }
void RecordReceived(uint32_t count, const uint8_t *bytes) { Recorded.push_back({'R', Bytes(bytes, count)}); }
void RecordSent(uint32_t count, const uint8_t *bytes) { Recorded.push_back({'S', Bytes(bytes, count)}); }
void RecordStatus(const char *text) { Recorded.push_back({'T', text}); }
void RecordConsole(const char *text) { Recorded.push_back({'C', text}); }

// The harness's own account of the queue and the arming.
struct Model {
    std::deque<std::string> queued;
    bool armed = false;
    std::string armed_frame;
    bool skip_log = false;
    std::vector<Event> expected;
};

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
        if (m.queued.size() == kChunkQueueSlots - 1) {
            m.expected.push_back({'C', kMsgBufferFull});
            break;
        }
        m.queued.push_back(Bytes(data + done, piece));
        done += piece;
    }
    return done;
}

void ModelDrain(Model &m)
{
    for (const std::string &c : m.queued) {
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
            m.expected.push_back({'W', m.armed_frame});
            m.expected.push_back({'S', m.armed_frame});
            m.expected.push_back({'T', kStatusConfigured});
            m.armed = false;
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
    FUZZ_CHECK(SkipRxLog.load() == m.skip_log, "SkipRxLog %d, expected %d", SkipRxLog.load(), m.skip_log);
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
    hooks.show_config_status = RecordStatus;
    hooks.console_print = RecordConsole;
    SetModuleHooks(hooks);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size, 0};
    ChunkQueueInit();
    Recorded.clear();
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
                ConfigPending.store(true);
                m.armed = true;
                m.armed_frame = expected_frame;
                break;
            }
            case 2:
                ConfigPending.store(false);
                m.armed = false;
                break;
            case 3:
                SkipRxLog.store(true);
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
