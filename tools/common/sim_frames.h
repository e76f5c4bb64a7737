// Frames of the bench devices, seen from the device side.
//
// The simulated reader builds tag reports and decodes the reminder frames the
// tag bench sends it; the simulated module builds wake-up frames and decodes
// the tag configuration and reader transparent-mode frames the module bench
// sends it. Everything here is plain byte work on caller buffers, so the host
// tests can pin every layout to exact bytes.
//
// FrameStream cuts a received byte stream into frames without any help from
// timing: at each position it asks every enabled frame kind whether a frame
// can start there and how long it would be. A candidate whose CRC checks is
// taken at once; when every candidate is complete and none checks, the first
// one in priority order is reported with a bad CRC and its bytes consumed.
// Bytes that cannot start any enabled frame come out as "other" runs. Several
// kinds share a header (a tag report, a reminder, a configuration frame and a
// wake-up all may begin FF FF FF FF), so the CRC is what tells them apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// printf-style checking that matches the runtime: MinGW's ANSI stdio takes
// the GNU conversions (%zu), which plain "printf" checking there refuses.
#if defined(__MINGW_PRINTF_FORMAT)
#define SIM_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define SIM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

namespace sim {

enum class Header : uint8_t { kFF, k55AA };

// ---- Tag reports (reader -> tag bench) -------------------------------------

constexpr size_t kMinReportLength = 12;
constexpr size_t kMaxReportLength = 19;
constexpr size_t kMaxExtraBytes = 7;

struct TagReport {
    Header header = Header::kFF;
    uint8_t header_tail[2] = {0, 0}; // offsets 2 and 3 of a 55 AA header
    uint32_t id = 0;
    bool under_voltage = false;
    uint8_t extra_count = 0; // 0..7, becomes bits 5-7 of the status byte
    uint8_t extra[kMaxExtraBytes] = {};
    int8_t signal = -50; // dB
};

// Status byte of a report: extra count in bits 5-7, under-voltage in bit 0.
uint8_t ReportStatus(const TagReport &report);

// Length of a report from its status byte: 12 + (status >> 5).
size_t ReportLength(uint8_t status);

// Writes the report to out (room for kMaxReportLength bytes) and returns its
// length. An extra_count above 7 is taken as 7.
size_t BuildTagReport(const TagReport &report, uint8_t *out);

// Checks the CRC of a complete report with its header's range: FF FF FF FF
// frames cover everything before the CRC, 55 AA frames skip the 55 AA.
bool TagReportCrcOk(const uint8_t *frame, size_t length);

// Decodes a report. False when the bytes are not laid out as one (header,
// length against the status byte); *crc_ok tells whether the CRC checks.
bool ParseTagReport(const uint8_t *frame, size_t length, TagReport *out, bool *crc_ok);

// ---- Reminder frames (tag bench -> reader) ---------------------------------

// The one-byte length field describes at most 51 entries of 5 bytes.
constexpr size_t kMaxReminderEntries = 51;

struct ReminderFrame {
    Header layout = Header::kFF;
    size_t entry_count = 0;
    uint32_t ids[kMaxReminderEntries] = {};
    uint8_t modes[kMaxReminderEntries] = {};
};

// Reminder frame of n entries for first_id, first_id + 1, ... (mod 2^32), all
// with one mode byte. Returns the length, or 0 when n is above 51. out needs
// 5n + 8 bytes.
size_t BuildReminderFrame(Header layout, uint32_t first_id, size_t n, uint8_t mode, uint8_t *out);

bool ParseReminderFrame(const uint8_t *frame, size_t length, ReminderFrame *out, bool *crc_ok);

// ---- Module frames ---------------------------------------------------------

constexpr size_t kWakeupLength = 9;
constexpr size_t kTagConfigLength = 12;
constexpr size_t kReaderModeLength = 13;

// Tag -> module bench: FF FF FF FF 00 x y CRC over bytes 0..6.
void BuildWakeupFrame(uint16_t data, uint8_t *out);
bool ParseWakeupFrame(const uint8_t *frame, size_t length, uint16_t *data, bool *crc_ok);

struct TagConfig {
    uint32_t id = 0; // only bits 0-23 travel
    uint8_t send_period_s = 0;
    uint8_t battery_period_min = 0;
};

// Module bench -> tag: FF FF FF FF 00 id24 send battery CRC over bytes 0..9.
void BuildTagConfigFrame(const TagConfig &config, uint8_t *out);
bool ParseTagConfigFrame(const uint8_t *frame, size_t length, TagConfig *out, bool *crc_ok);

struct ReaderMode {
    uint32_t id = 0;
    uint8_t channel = 0;
    uint8_t create_timeout_s = 10;
    uint8_t exit_timeout_s = 30;
};

// Module bench -> reader: 55 AA 03 07 id32 channel create exit, CRC over 2..10.
void BuildReaderModeFrame(const ReaderMode &mode, uint8_t *out);
bool ParseReaderModeFrame(const uint8_t *frame, size_t length, ReaderMode *out, bool *crc_ok);

// ---- Stream decoding -------------------------------------------------------

enum class FrameKind : uint8_t { kOther, kReminder, kReaderMode, kTagConfig, kWakeup, kTagReport };

// Enable masks for FrameStream.
constexpr uint32_t KindBit(FrameKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr uint32_t kReaderSideKinds = KindBit(FrameKind::kReminder) | KindBit(FrameKind::kTagReport);
constexpr uint32_t kModuleSideKinds =
    KindBit(FrameKind::kReaderMode) | KindBit(FrameKind::kTagConfig) | KindBit(FrameKind::kWakeup);

struct DecodedFrame {
    FrameKind kind = FrameKind::kOther;
    bool crc_ok = false; // meaningless for kOther
    std::vector<uint8_t> bytes;
};

class FrameStream {
public:
    explicit FrameStream(uint32_t kinds) : kinds_(kinds) {}

    void Feed(const uint8_t *data, size_t length);

    // Next complete frame or run of other bytes; false when the bytes held
    // could still be the start of a frame and more are needed.
    bool Next(DecodedFrame *out);

    // Hands out whatever is held as other bytes (for a line that went quiet
    // in the middle of a frame). False when nothing is held.
    bool Flush(DecodedFrame *out);

    size_t Pending() const { return buffer_.size() - start_; }

private:
    enum class Verdict : uint8_t { kNone, kWait, kFrame };
    Verdict Evaluate(size_t pos, FrameKind *kind, size_t *length, bool *crc_ok) const;
    void Take(size_t length, DecodedFrame *out);

    uint32_t kinds_;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
};

// ---- Text ------------------------------------------------------------------

// "FF FF 00 1A" (upper case, single spaces).
std::string FormatHex(const uint8_t *data, size_t length);

// One line (no newline) describing a decoded frame: the fields, the CRC
// verdict and, for short or damaged frames, the bytes.
std::string DescribeFrame(const DecodedFrame &frame);

const char *FrameKindName(FrameKind kind);

} // namespace sim
