#include "tools/common/sim_frames.h"

#include "serial/crc16.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

const uint8_t kFFHeader[4] = {0xFF, 0xFF, 0xFF, 0xFF};

void PutU32(uint8_t *out, uint32_t value)
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

uint32_t GetU32(const uint8_t *in)
{
    return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

// CRC over [from, length - 2) checked against the last two bytes.
bool TailCrcOk(const uint8_t *frame, size_t length, size_t from)
{
    if (length < from + 2)
        return false;
    return Crc16Modbus(frame + from, length - 2 - from) == GetCrc16(frame + length - 2);
}

bool IsFFHeader(const uint8_t *p, size_t length) { return length >= 4 && std::memcmp(p, kFFHeader, 4) == 0; }

bool Is55AAHeader(const uint8_t *p, size_t length) { return length >= 2 && p[0] == 0x55 && p[1] == 0xAA; }

} // namespace

// ---- Tag reports -----------------------------------------------------------

uint8_t ReportStatus(const TagReport &report)
{
    const unsigned n = report.extra_count > kMaxExtraBytes ? kMaxExtraBytes : report.extra_count;
    return static_cast<uint8_t>((n << 5) | (report.under_voltage ? 1u : 0u));
}

size_t ReportLength(uint8_t status) { return kMinReportLength + (status >> 5); }

size_t BuildTagReport(const TagReport &report, uint8_t *out)
{
    const uint8_t status = ReportStatus(report);
    const size_t n = status >> 5;
    if (report.header == Header::kFF) {
        std::memcpy(out, kFFHeader, 4);
    } else {
        out[0] = 0x55;
        out[1] = 0xAA;
        out[2] = report.header_tail[0];
        out[3] = report.header_tail[1];
    }
    PutU32(out + 4, report.id);
    out[8] = status;
    std::memcpy(out + 9, report.extra, n);
    out[9 + n] = static_cast<uint8_t>(report.signal);
    const size_t from = report.header == Header::kFF ? 0 : 2;
    PutCrc16(out + 10 + n, Crc16Modbus(out + from, 10 + n - from));
    return 12 + n;
}

bool TagReportCrcOk(const uint8_t *frame, size_t length)
{
    if (length < kMinReportLength)
        return false;
    return TailCrcOk(frame, length, Is55AAHeader(frame, length) ? 2 : 0);
}

bool ParseTagReport(const uint8_t *frame, size_t length, TagReport *out, bool *crc_ok)
{
    if (length < kMinReportLength || length > kMaxReportLength)
        return false;
    TagReport r;
    if (IsFFHeader(frame, length)) {
        r.header = Header::kFF;
    } else if (Is55AAHeader(frame, length)) {
        r.header = Header::k55AA;
        r.header_tail[0] = frame[2];
        r.header_tail[1] = frame[3];
    } else {
        return false;
    }
    if (ReportLength(frame[8]) != length)
        return false;
    r.id = GetU32(frame + 4);
    r.under_voltage = (frame[8] & 1) != 0;
    r.extra_count = static_cast<uint8_t>(frame[8] >> 5);
    std::memcpy(r.extra, frame + 9, r.extra_count);
    r.signal = static_cast<int8_t>(frame[9 + r.extra_count]);
    *out = r;
    *crc_ok = TagReportCrcOk(frame, length);
    return true;
}

// ---- Reminder frames -------------------------------------------------------

size_t BuildReminderFrame(Header layout, uint32_t first_id, size_t n, uint8_t mode, uint8_t *out)
{
    if (n > kMaxReminderEntries)
        return 0;
    size_t pos;
    if (layout == Header::kFF) {
        std::memcpy(out, kFFHeader, 4);
        out[4] = 0x01;
        out[5] = static_cast<uint8_t>(5 * n);
        pos = 6;
    } else {
        out[0] = 0x55;
        out[1] = 0xAA;
        out[2] = 0x02;
        out[3] = static_cast<uint8_t>(5 * n);
        pos = 4;
    }
    for (size_t i = 0; i < n; ++i) {
        PutU32(out + pos, first_id + static_cast<uint32_t>(i));
        out[pos + 4] = mode;
        pos += 5;
    }
    const size_t from = layout == Header::kFF ? 0 : 2;
    PutCrc16(out + pos, Crc16Modbus(out + from, pos - from));
    return pos + 2;
}

bool ParseReminderFrame(const uint8_t *frame, size_t length, ReminderFrame *out, bool *crc_ok)
{
    size_t body;
    size_t from;
    Header layout;
    if (IsFFHeader(frame, length) && length >= 8 && frame[4] == 0x01) {
        layout = Header::kFF;
        body = 6;
        from = 0;
    } else if (Is55AAHeader(frame, length) && length >= 6 && frame[2] == 0x02) {
        layout = Header::k55AA;
        body = 4;
        from = 2;
    } else {
        return false;
    }
    const size_t entry_bytes = frame[body - 1];
    if (entry_bytes % 5 != 0 || length != body + entry_bytes + 2)
        return false;
    out->layout = layout;
    out->entry_count = entry_bytes / 5;
    for (size_t i = 0; i < out->entry_count; ++i) {
        out->ids[i] = GetU32(frame + body + 5 * i);
        out->modes[i] = frame[body + 5 * i + 4];
    }
    *crc_ok = TailCrcOk(frame, length, from);
    return true;
}

// ---- Module frames ---------------------------------------------------------

void BuildWakeupFrame(uint16_t data, uint8_t *out)
{
    std::memcpy(out, kFFHeader, 4);
    out[4] = 0x00;
    out[5] = static_cast<uint8_t>(data >> 8);
    out[6] = static_cast<uint8_t>(data);
    PutCrc16(out + 7, Crc16Modbus(out, 7));
}

bool ParseWakeupFrame(const uint8_t *frame, size_t length, uint16_t *data, bool *crc_ok)
{
    if (length != kWakeupLength || !IsFFHeader(frame, length) || frame[4] != 0x00)
        return false;
    *data = static_cast<uint16_t>((frame[5] << 8) | frame[6]);
    *crc_ok = TailCrcOk(frame, length, 0);
    return true;
}

void BuildTagConfigFrame(const TagConfig &config, uint8_t *out)
{
    std::memcpy(out, kFFHeader, 4);
    out[4] = 0x00;
    out[5] = static_cast<uint8_t>(config.id >> 16);
    out[6] = static_cast<uint8_t>(config.id >> 8);
    out[7] = static_cast<uint8_t>(config.id);
    out[8] = config.send_period_s;
    out[9] = config.battery_period_min;
    PutCrc16(out + 10, Crc16Modbus(out, 10));
}

bool ParseTagConfigFrame(const uint8_t *frame, size_t length, TagConfig *out, bool *crc_ok)
{
    if (length != kTagConfigLength || !IsFFHeader(frame, length) || frame[4] != 0x00)
        return false;
    out->id = (uint32_t{frame[5]} << 16) | (uint32_t{frame[6]} << 8) | frame[7];
    out->send_period_s = frame[8];
    out->battery_period_min = frame[9];
    *crc_ok = TailCrcOk(frame, length, 0);
    return true;
}

void BuildReaderModeFrame(const ReaderMode &mode, uint8_t *out)
{
    out[0] = 0x55;
    out[1] = 0xAA;
    out[2] = 0x03;
    out[3] = 0x07;
    PutU32(out + 4, mode.id);
    out[8] = mode.channel;
    out[9] = mode.create_timeout_s;
    out[10] = mode.exit_timeout_s;
    PutCrc16(out + 11, Crc16Modbus(out + 2, 9));
}

bool ParseReaderModeFrame(const uint8_t *frame, size_t length, ReaderMode *out, bool *crc_ok)
{
    if (length != kReaderModeLength || !Is55AAHeader(frame, length) || frame[2] != 0x03 || frame[3] != 0x07)
        return false;
    out->id = GetU32(frame + 4);
    out->channel = frame[8];
    out->create_timeout_s = frame[9];
    out->exit_timeout_s = frame[10];
    *crc_ok = TailCrcOk(frame, length, 2);
    return true;
}

// ---- Stream decoding -------------------------------------------------------

namespace {

// Priority when nothing checks: the kinds with the most fixed bytes first, so
// a damaged frame is named after the layout it most plausibly had.
const FrameKind kPriority[] = {FrameKind::kReminder, FrameKind::kReaderMode, FrameKind::kTagConfig,
                               FrameKind::kWakeup, FrameKind::kTagReport};

enum class Fit : uint8_t { kNo, kMore, kLength };

// Compares the available bytes with a fixed pattern.
Fit MatchPrefix(const uint8_t *p, size_t avail, const uint8_t *pattern, size_t n)
{
    const size_t k = avail < n ? avail : n;
    if (std::memcmp(p, pattern, k) != 0)
        return Fit::kNo;
    return avail < n ? Fit::kMore : Fit::kLength;
}

// Whether a frame of this kind can start at p, and if so its total length
// once the bytes that decide it are there.
Fit Classify(FrameKind kind, const uint8_t *p, size_t avail, size_t *length)
{
    static const uint8_t kFFOne[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    static const uint8_t kFFZero[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    static const uint8_t k55Two[3] = {0x55, 0xAA, 0x02};
    static const uint8_t k55Three[4] = {0x55, 0xAA, 0x03, 0x07};
    static const uint8_t k55[2] = {0x55, 0xAA};
    Fit fit;
    switch (kind) {
    case FrameKind::kReminder: {
        Fit ff = MatchPrefix(p, avail, kFFOne, 5);
        size_t body = 6;
        if (ff == Fit::kNo) {
            ff = MatchPrefix(p, avail, k55Two, 3);
            body = 4;
        }
        if (ff != Fit::kLength)
            return ff;
        if (avail < body)
            return Fit::kMore;
        if (p[body - 1] % 5 != 0)
            return Fit::kNo;
        *length = body + p[body - 1] + 2;
        return Fit::kLength;
    }
    case FrameKind::kReaderMode:
        fit = MatchPrefix(p, avail, k55Three, 4);
        *length = kReaderModeLength;
        return fit;
    case FrameKind::kTagConfig:
        fit = MatchPrefix(p, avail, kFFZero, 5);
        *length = kTagConfigLength;
        return fit;
    case FrameKind::kWakeup:
        fit = MatchPrefix(p, avail, kFFZero, 5);
        *length = kWakeupLength;
        return fit;
    case FrameKind::kTagReport:
        fit = MatchPrefix(p, avail, kFFHeader, 4);
        if (fit == Fit::kNo)
            fit = MatchPrefix(p, avail, k55, 2);
        if (fit != Fit::kLength)
            return fit;
        if (avail < 9)
            return Fit::kMore;
        *length = ReportLength(p[8]);
        return Fit::kLength;
    case FrameKind::kOther:
        break;
    }
    return Fit::kNo;
}

bool KindCrcOk(FrameKind kind, const uint8_t *p, size_t length)
{
    switch (kind) {
    case FrameKind::kReminder:
        return TailCrcOk(p, length, p[0] == 0x55 ? 2 : 0);
    case FrameKind::kReaderMode:
        return TailCrcOk(p, length, 2);
    case FrameKind::kTagConfig:
    case FrameKind::kWakeup:
        return TailCrcOk(p, length, 0);
    case FrameKind::kTagReport:
        return TagReportCrcOk(p, length);
    case FrameKind::kOther:
        break;
    }
    return false;
}

} // namespace

void FrameStream::Feed(const uint8_t *data, size_t length)
{
    // Drop what has been handed out before growing, so a long session keeps
    // the buffer at about one frame.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + length);
}

FrameStream::Verdict FrameStream::Evaluate(size_t pos, FrameKind *kind, size_t *length, bool *crc_ok) const
{
    const uint8_t *p = buffer_.data() + pos;
    const size_t avail = buffer_.size() - pos;
    bool waiting = false;
    bool have_bad = false;
    FrameKind bad_kind = FrameKind::kOther;
    size_t bad_length = 0;
    for (FrameKind k : kPriority) {
        if ((kinds_ & KindBit(k)) == 0)
            continue;
        size_t len = 0;
        const Fit fit = Classify(k, p, avail, &len);
        if (fit == Fit::kNo)
            continue;
        if (fit == Fit::kMore || len > avail) {
            waiting = true;
            continue;
        }
        if (KindCrcOk(k, p, len)) {
            *kind = k;
            *length = len;
            *crc_ok = true;
            return Verdict::kFrame;
        }
        if (!have_bad) {
            have_bad = true;
            bad_kind = k;
            bad_length = len;
        }
    }
    if (waiting)
        return Verdict::kWait;
    if (!have_bad)
        return Verdict::kNone;
    *kind = bad_kind;
    *length = bad_length;
    *crc_ok = false;
    return Verdict::kFrame;
}

void FrameStream::Take(size_t length, DecodedFrame *out)
{
    out->bytes.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start_),
                      buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + length));
    start_ += length;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
}

bool FrameStream::Next(DecodedFrame *out)
{
    size_t pos = start_;
    FrameKind kind = FrameKind::kOther;
    size_t length = 0;
    bool crc_ok = false;
    Verdict verdict = Verdict::kNone;
    while (pos < buffer_.size()) {
        verdict = Evaluate(pos, &kind, &length, &crc_ok);
        if (verdict != Verdict::kNone)
            break;
        ++pos;
    }
    if (pos > start_) {
        // A run of bytes that start nothing goes out before whatever follows.
        out->kind = FrameKind::kOther;
        out->crc_ok = false;
        Take(pos - start_, out);
        return true;
    }
    if (pos == buffer_.size() || verdict != Verdict::kFrame)
        return false;
    out->kind = kind;
    out->crc_ok = crc_ok;
    Take(length, out);
    return true;
}

bool FrameStream::Flush(DecodedFrame *out)
{
    if (Pending() == 0)
        return false;
    out->kind = FrameKind::kOther;
    out->crc_ok = false;
    Take(Pending(), out);
    return true;
}

// ---- Text ------------------------------------------------------------------

std::string FormatHex(const uint8_t *data, size_t length)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i)
            text += ' ';
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

const char *FrameKindName(FrameKind kind)
{
    switch (kind) {
    case FrameKind::kOther:
        return "other";
    case FrameKind::kReminder:
        return "reminder";
    case FrameKind::kReaderMode:
        return "reader-mode";
    case FrameKind::kTagConfig:
        return "tag-config";
    case FrameKind::kWakeup:
        return "wake-up";
    case FrameKind::kTagReport:
        return "tag-report";
    }
    return "?";
}

namespace {

std::string Printf(const char *format, ...) SIM_PRINTF_FORMAT(1, 2);

std::string Printf(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// "IDs 1000..1034 mode 01" when the entries run on with one mode, else each
// entry as id:mode.
std::string DescribeEntries(const ReminderFrame &r)
{
    if (r.entry_count == 0)
        return "no entries";
    bool run = true;
    for (size_t i = 1; i < r.entry_count; ++i)
        run = run && r.ids[i] == r.ids[0] + static_cast<uint32_t>(i) && r.modes[i] == r.modes[0];
    if (run && r.entry_count == 1)
        return Printf("ID %u mode %02X", r.ids[0], r.modes[0]);
    if (run)
        return Printf("IDs %u..%u mode %02X", r.ids[0], r.ids[r.entry_count - 1], r.modes[0]);
    std::string text = "entries";
    for (size_t i = 0; i < r.entry_count; ++i)
        text += Printf(" %u:%02X", r.ids[i], r.modes[i]);
    return text;
}

std::string CrcVerdict(const DecodedFrame &frame)
{
    if (frame.crc_ok)
        return "CRC OK";
    const size_t n = frame.bytes.size();
    return Printf("CRC BAD (carried %04X)", n >= 2 ? GetCrc16(frame.bytes.data() + n - 2) : 0);
}

} // namespace

std::string DescribeFrame(const DecodedFrame &frame)
{
    const uint8_t *p = frame.bytes.data();
    const size_t n = frame.bytes.size();
    bool crc_ok = false;
    std::string text;
    switch (frame.kind) {
    case FrameKind::kReminder: {
        ReminderFrame r;
        if (!ParseReminderFrame(p, n, &r, &crc_ok))
            break;
        text = Printf("reminder %s layout, %zu entries: ", r.layout == Header::kFF ? "FF" : "55AA", r.entry_count) +
               DescribeEntries(r);
        break;
    }
    case FrameKind::kReaderMode: {
        ReaderMode m;
        if (!ParseReaderModeFrame(p, n, &m, &crc_ok))
            break;
        text = Printf("reader transparent mode: ID %u (0x%08X) channel %u create %u s exit %u s", m.id, m.id,
                      m.channel, m.create_timeout_s, m.exit_timeout_s);
        break;
    }
    case FrameKind::kTagConfig: {
        TagConfig c;
        if (!ParseTagConfigFrame(p, n, &c, &crc_ok))
            break;
        text = Printf("tag config: ID %u (0x%06X) send period %u s battery period %u min", c.id, c.id,
                      c.send_period_s, c.battery_period_min);
        break;
    }
    case FrameKind::kWakeup: {
        uint16_t data = 0;
        if (!ParseWakeupFrame(p, n, &data, &crc_ok))
            break;
        text = Printf("wake-up: data %04X", data);
        break;
    }
    case FrameKind::kTagReport: {
        TagReport r;
        if (!ParseTagReport(p, n, &r, &crc_ok))
            break;
        text = Printf("tag report %s: ID %u status %02X%s signal %d dB", r.header == Header::kFF ? "FF" : "55AA", r.id,
                      ReportStatus(r), r.under_voltage ? " under-voltage" : "", r.signal);
        if (r.extra_count)
            text += " extra " + FormatHex(r.extra, r.extra_count);
        break;
    }
    case FrameKind::kOther:
        break;
    }
    if (text.empty())
        return Printf("other (%zu bytes): ", n) + FormatHex(p, n);
    text += ", " + CrcVerdict(frame);
    if (!frame.crc_ok || n <= 32)
        text += " | " + FormatHex(p, n);
    return text;
}

} // namespace sim
