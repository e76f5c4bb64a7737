// SimModule: a simulated three-in-one module for Pellfray, working as a tag
// or as a reader, for benches without the hardware and for latency and load
// measurements.
//
// Usage: SimModule --port COMn [options]
//
//   --baud B            line rate, 8N1 (default 115200)
//   --role tag|reader   (default tag)
//   As a tag:
//   --id N              tag ID (default 1; only 24 bits travel in a config)
//   --period MS         wake-up frame FF FF FF FF 00 x y CRC every MS ms
//                       (default 1000; 0: none)
//   --wake-data HHHH    the two bytes x y (default: low 16 bits of the ID)
//   --wakeups N         stop sending wake-ups after N of them
//   --fixed-period      keep --period when a configuration sets a new one
//   --tags K            play K tags one after another, as a batch on the
//                       bench sees them: each wakes every --period ms until
//                       it gets a configuration, wakes once more (as a real
//                       tag may before it is taken away), and is replaced
//                       --swap ms later by the next, unconfigured tag (ID
//                       --id), which wakes at once. Prints the ID each got;
//                       the summary lists the IDs in order, IDs given to more
//                       than one tag, tags configured more than once, and
//                       the seconds per tag. --period is kept throughout.
//   --swap MS           time to take a tag away and put the next (default 1000)
//   A configuration frame received is checked and printed (ID, send period,
//   battery period, CRC OK/BAD); with a good CRC the tag takes the new ID,
//   battery period and (unless --fixed-period) send period as its wake-up
//   period.
//   As a reader: transparent-mode frames received are printed (ID, channel,
//   create and exit time-outs, CRC OK/BAD).
//   Both roles:
//   --hex "01 02 0a"    send these bytes once at the start
//   --burst N           send N bursts for load tests (0: until --duration)
//   --size S            bytes per burst (default 64, counting pattern)
//   --fill HH           every burst byte is HH instead (ff: each chunk the
//                       program reads begins FF FF FF FF and fails its CRC,
//                       so every one makes a console message)
//   --rate R            bursts per second (default 10)
//   --line-rate         bursts back to back at baud/10 bytes/s
//   --latency N         send N wake-ups one after another and time each
//                       answer: from the completion of the wake-up's write
//                       to the arrival of the first byte back; prints the
//                       median and 99th percentile in ms, and the same from
//                       the start of the write (Wine may report a write's
//                       completion after the answer has already arrived;
//                       such answers count as 0 ms from completion and are
//                       counted as "stamped before the write completed")
//   --gap MS            pause between latency wake-ups (default 100)
//   --answer-timeout MS how long to wait for an answer (default 1000)
//   --duration S        stop after S seconds (without it: run until Ctrl+C,
//                       or until the --wakeups N / --burst N are done)
//   --quiet             no line per frame sent
//   --replay FILE       send the received chunks of a Pellfray recording of a
//                       module, with their spacing, instead of the role's own
//                       frames; what comes back is decoded and a
//                       configuration taken as usual (--speed F, --loop:
//                       tools/common/win32/sim_replay.h)
// Everything received is logged with the time and the gap since the
// previous frame, frames decoded, anything else as hex. A summary closes the
// run; Ctrl+C ends it early.

#include "tools/common/sim_args.h"
#include "tools/common/sim_frames.h"
#include "tools/common/sim_plan.h"
#include "tools/common/win32/sim_port.h"
#include "tools/common/win32/sim_replay.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace sim;

const char kUsage[] =
    "Usage: SimModule --port COMn [options]   (a simulated three-in-one module)\n"
    "  --baud B            line rate, 8N1 (default 115200)\n"
    "  --role tag|reader   (default tag)\n"
    " tag role:\n"
    "  --id N              tag ID (default 1)\n"
    "  --period MS         wake-up frame every MS ms (default 1000; 0: none)\n"
    "  --wake-data HHHH    the two free bytes of the wake-up (default: ID low 16 bits)\n"
    "  --wakeups N         stop sending wake-ups after N of them\n"
    "  --fixed-period      keep --period when a configuration sets a new one\n"
    "  --tags K            K tags one after another: each wakes until configured,\n"
    "                      once more, then is replaced --swap ms later (a batch)\n"
    "  --swap MS           time to replace a configured tag (default 1000)\n"
    "  (a configuration frame received is checked, printed and, with a good CRC, taken)\n"
    " reader role: transparent-mode frames received are printed\n"
    " both roles:\n"
    "  --hex \"01 02 0a\"    send these bytes once at the start\n"
    "  --burst N           send N bursts (0: until --duration)\n"
    "  --size S            bytes per burst (default 64)\n"
    "  --fill HH           burst bytes all HH (default: counting pattern)\n"
    "  --rate R            bursts per second (default 10)\n"
    "  --line-rate         bursts back to back at baud/10 bytes/s\n"
    "  --latency N         time N wake-up answers (write completion to first byte\n"
    "                      back); prints median and p99 in ms\n"
    "  --gap MS            pause between latency wake-ups (default 100)\n"
    "  --answer-timeout MS wait for an answer at most MS ms (default 1000)\n"
    "  --duration S        stop after S seconds (without it: until Ctrl+C, or\n"
    "                      until the --wakeups N / --burst N are done)\n"
    "  --quiet             no line per frame sent\n";

enum class Role { kTag, kReader };

struct Options {
    ReplayOptions replay; // --replay FILE sends the file instead
    std::string port;
    uint32_t baud = 115200;
    Role role = Role::kTag;
    uint32_t id = 1;
    double period_ms = 1000;
    bool period_given = false;
    int wake_data = -1; // -1: from the ID
    long long wakeups = -1;
    bool fixed_period = false;
    std::vector<uint8_t> hex;
    bool have_hex = false;
    long long bursts = -1; // -1: no bursts
    uint32_t burst_size = 64;
    int fill = -1; // -1: counting pattern
    double burst_rate = 10;
    bool line_rate = false;
    uint32_t latency = 0;
    double gap_ms = 100;
    double answer_timeout_ms = 1000;
    double duration = 0;
    bool quiet = false;
    uint32_t tags = 0; // 0: one tag, as ever
    double swap_ms = 1000;
};

// Tag identity: the main thread starts it, the reader thread changes it when
// a configuration frame arrives, the main thread reads it for every wake-up.
std::atomic<uint32_t> TagId{1};
std::atomic<uint32_t> WakePeriodMs{1000};
std::atomic<uint32_t> BatteryPeriodMin{0};
std::atomic<int> WakeData{-1};
bool FixedPeriod = false; // set before the reader starts, then only read

// --tags: the configurations the tag on the bench took. The reader thread
// stores the first one's ID and time and then counts it up; the main thread
// reads the ID and time only after it saw the count move, and zeroes the
// count when it puts the next tag down.
std::atomic<uint32_t> TagConfigs{0};
std::atomic<uint32_t> TagFirstConfigId{0};
std::atomic<double> TagFirstConfigAt{0};

// Latency probe. The main thread arms it with the number of the wake-up
// just before that frame goes out; the reader thread takes the number (so
// only one chunk answers it), stamps the chunk's arrival in AnswerAt, stores
// the number in AnswerFor and sets AnswerEvent. The main thread reads
// AnswerAt only after the event, and only if AnswerFor names the wake-up it
// is waiting for, so a late answer to a timed-out probe is not counted.
std::atomic<uint32_t> AnswerArmed{0};
std::atomic<uint32_t> AnswerFor{0};
double AnswerAt = 0;
HANDLE AnswerEvent = nullptr;

// Receive side, written only by the reader thread; read for the summary
// after StopReader.
FrameStream RxStream(kModuleSideKinds);
double RxLastFrameAt = -1;
double RxLastByteAt = 0;
uint64_t RxBytes = 0;
uint64_t RxChunks = 0;
uint64_t RxOtherBytes = 0;
uint64_t RxConfigs = 0;
uint64_t RxReaderFrames = 0;
uint64_t RxWakeups = 0;
uint64_t RxBadFrames = 0;

uint16_t CurrentWakeData()
{
    const int data = WakeData.load();
    return static_cast<uint16_t>(data >= 0 ? data : TagId.load() & 0xFFFF);
}

void TakeConfig(const DecodedFrame &frame)
{
    TagConfig c;
    bool crc_ok = false;
    if (!ParseTagConfigFrame(frame.bytes.data(), frame.bytes.size(), &c, &crc_ok) || !crc_ok)
        return;
    if (TagConfigs.load() == 0) {
        TagFirstConfigId = c.id;
        TagFirstConfigAt = Now();
    }
    TagConfigs.fetch_add(1);
    TagId = c.id;
    BatteryPeriodMin = c.battery_period_min;
    if (!FixedPeriod && c.send_period_s > 0)
        WakePeriodMs = c.send_period_s * 1000u;
    Out("             config taken: ID %u, wake-up period %u ms%s, battery period %u min\n", c.id,
        WakePeriodMs.load(), FixedPeriod ? " (fixed)" : (c.send_period_s ? "" : " (kept: period 0 refused)"),
        c.battery_period_min);
}

void PrintReceived(const DecodedFrame &frame, double when)
{
    if (frame.kind == FrameKind::kOther) {
        RxOtherBytes += frame.bytes.size();
        Out("[%10.4f] RX %s\n", when, DescribeFrame(frame).c_str());
        return;
    }
    if (!frame.crc_ok)
        RxBadFrames++;
    if (frame.kind == FrameKind::kTagConfig)
        RxConfigs++;
    else if (frame.kind == FrameKind::kReaderMode)
        RxReaderFrames++;
    else if (frame.kind == FrameKind::kWakeup)
        RxWakeups++;
    const double gap = RxLastFrameAt < 0 ? 0 : (when - RxLastFrameAt) * 1000;
    RxLastFrameAt = when;
    Out("[%10.4f] RX +%8.1f ms %s\n", when, gap, DescribeFrame(frame).c_str());
    if (frame.kind == FrameKind::kTagConfig)
        TakeConfig(frame);
}

void OnChunk(const uint8_t *data, size_t length, double when)
{
    DecodedFrame frame;
    if (length == 0) {
        if (RxStream.Pending() && when - RxLastByteAt > 0.09 && RxStream.Flush(&frame))
            PrintReceived(frame, when);
        return;
    }
    const uint32_t probe = AnswerArmed.exchange(0);
    if (probe != 0) {
        AnswerAt = when;
        AnswerFor = probe;
        SetEvent(AnswerEvent);
    }
    RxLastByteAt = when;
    RxBytes += length;
    RxChunks++;
    RxStream.Feed(data, length);
    while (RxStream.Next(&frame))
        PrintReceived(frame, when);
}

bool Fail(const char *what, const char *value)
{
    fprintf(stderr, "SimModule: bad %s '%s'\n%s", what, value ? value : "", kUsage);
    return false;
}

bool ParseOptions(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        const ReplayArg replay_arg = ParseReplayArg(arg, value, &o->replay);
        if (replay_arg == ReplayArg::kBadValue)
            return Fail("replay option (or missing value)", arg.c_str());
        if (replay_arg != ReplayArg::kNotReplay) {
            i += replay_arg == ReplayArg::kValue ? 1 : 0;
            continue;
        }
        uint64_t u = 0;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            fputs(kReplayUsage, stdout);
            exit(0);
        } else if (arg == "--fixed-period") {
            o->fixed_period = true;
        } else if (arg == "--line-rate") {
            o->line_rate = true;
        } else if (arg == "--quiet") {
            o->quiet = true;
        } else if (!value) {
            return Fail("option (or missing value)", arg.c_str());
        } else {
            ++i;
            if (arg == "--port") {
                o->port = value;
            } else if (arg == "--baud") {
                if (!ParseUnsigned(value, 4000000, &u) || u < 50)
                    return Fail("baud rate", value);
                o->baud = static_cast<uint32_t>(u);
            } else if (arg == "--role") {
                if (std::strcmp(value, "tag") == 0)
                    o->role = Role::kTag;
                else if (std::strcmp(value, "reader") == 0)
                    o->role = Role::kReader;
                else
                    return Fail("role (tag or reader)", value);
            } else if (arg == "--id") {
                if (!ParseUnsigned(value, 0xFFFFFFFFu, &u))
                    return Fail("ID", value);
                o->id = static_cast<uint32_t>(u);
            } else if (arg == "--period") {
                if (!ParseNumber(value, &o->period_ms))
                    return Fail("period", value);
                o->period_given = true;
            } else if (arg == "--wake-data") {
                if (!ParseUnsigned(value, 0xFFFF, &u) &&
                    !ParseUnsigned(("0x" + std::string(value)).c_str(), 0xFFFF, &u))
                    return Fail("wake-up data (16 bits)", value);
                o->wake_data = static_cast<int>(u);
            } else if (arg == "--wakeups") {
                if (!ParseUnsigned(value, 1ull << 40, &u))
                    return Fail("wake-up count", value);
                o->wakeups = static_cast<long long>(u);
            } else if (arg == "--hex") {
                if (!ParseHexBytes(value, &o->hex) || o->hex.empty())
                    return Fail("hex bytes", value);
                o->have_hex = true;
            } else if (arg == "--burst") {
                if (!ParseUnsigned(value, 1ull << 40, &u))
                    return Fail("burst count", value);
                o->bursts = static_cast<long long>(u);
            } else if (arg == "--size") {
                if (!ParseUnsigned(value, 65536, &u) || u == 0)
                    return Fail("burst size", value);
                o->burst_size = static_cast<uint32_t>(u);
            } else if (arg == "--fill") {
                std::vector<uint8_t> fill;
                if (!ParseHexBytes(value, &fill) || fill.size() != 1)
                    return Fail("fill byte", value);
                o->fill = fill[0];
            } else if (arg == "--rate") {
                if (!ParseNumber(value, &o->burst_rate) || o->burst_rate <= 0)
                    return Fail("burst rate", value);
            } else if (arg == "--latency") {
                if (!ParseUnsigned(value, 1000000, &u) || u == 0)
                    return Fail("latency count", value);
                o->latency = static_cast<uint32_t>(u);
            } else if (arg == "--gap") {
                if (!ParseNumber(value, &o->gap_ms))
                    return Fail("gap", value);
            } else if (arg == "--answer-timeout") {
                if (!ParseNumber(value, &o->answer_timeout_ms) || o->answer_timeout_ms < 1)
                    return Fail("answer time-out", value);
            } else if (arg == "--tags") {
                if (!ParseUnsigned(value, 1000000, &u) || u == 0)
                    return Fail("tag count", value);
                o->tags = static_cast<uint32_t>(u);
            } else if (arg == "--swap") {
                if (!ParseNumber(value, &o->swap_ms) || o->swap_ms < 0)
                    return Fail("swap time", value);
            } else if (arg == "--duration") {
                if (!ParseNumber(value, &o->duration))
                    return Fail("duration", value);
            } else {
                return Fail("option", arg.c_str());
            }
        }
    }
    if (o->port.empty())
        return Fail("port (--port COMn is required)", "");
    return true;
}

void SendWakeup(const Options &o, uint64_t number)
{
    uint8_t frame[kWakeupLength];
    BuildWakeupFrame(CurrentWakeData(), frame);
    const size_t written = PortWrite(frame, sizeof frame);
    if (!o.quiet)
        Out("[%10.4f] TX wake-up #%llu (ID %u)%s | %s\n", Now(), static_cast<unsigned long long>(number),
            TagId.load(), written == sizeof frame ? "" : " WRITE INCOMPLETE", FormatHex(frame, sizeof frame).c_str());
}

struct Totals {
    uint64_t wakeups = 0;
    uint64_t bursts = 0;
    uint64_t burst_bytes = 0;
    uint64_t bytes_written = 0;
};

void MeasureLatency(const Options &o, Totals *totals)
{
    std::vector<double> from_completion;
    std::vector<double> from_start;
    uint32_t missing = 0;
    uint32_t early = 0;
    uint8_t frame[kWakeupLength];
    for (uint32_t i = 0; i < o.latency && !StopRequested; ++i) {
        BuildWakeupFrame(CurrentWakeData(), frame);
        ResetEvent(AnswerEvent);
        AnswerArmed = i + 1;
        const double t_start = Now();
        const size_t written = PortWrite(frame, sizeof frame);
        const double t_done = Now();
        totals->wakeups++;
        totals->bytes_written += written;
        const DWORD wait = WaitForSingleObject(AnswerEvent, static_cast<DWORD>(o.answer_timeout_ms));
        if (wait != WAIT_OBJECT_0 || AnswerFor != i + 1 || written != sizeof frame) {
            AnswerArmed = 0;
            ++missing;
            Out("[%10.4f] latency #%u: no answer within %.0f ms%s\n", Now(), i + 1, o.answer_timeout_ms,
                written == sizeof frame ? "" : " (write incomplete)");
        } else {
            // The first byte can be stamped before this thread saw its own
            // write complete; such an answer counts as 0 from completion.
            double ms = (AnswerAt - t_done) * 1000;
            if (ms < 0) {
                ms = 0;
                ++early;
            }
            from_completion.push_back(ms);
            from_start.push_back((AnswerAt - t_start) * 1000);
            if (!o.quiet)
                Out("[%10.4f] latency #%u: %.3f ms after write completion (%.3f ms after write start)\n", AnswerAt,
                    i + 1, ms, from_start.back());
        }
        SleepUnlessStopped(o.gap_ms / 1000.0);
    }
    Out("latency: %zu answered, %u without answer, %u stamped before the write completed\n",
        from_completion.size(), missing, early);
    if (!from_completion.empty()) {
        Out("latency from write completion: median %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms\n",
            Median(from_completion), Percentile(from_completion, 99),
            *std::min_element(from_completion.begin(), from_completion.end()),
            *std::max_element(from_completion.begin(), from_completion.end()));
        Out("latency from write start:      median %.3f ms, p99 %.3f ms\n", Median(from_start),
            Percentile(from_start, 99));
    }
}

void RunLoop(const Options &o, Totals *t)
{
    const double started = Now();
    const bool wakeups_on = o.role == Role::kTag ? o.period_ms > 0 : (o.period_given && o.period_ms > 0);
    double next_wakeup = started;
    const bool finite_job = (wakeups_on && o.wakeups >= 0) || o.bursts > 0;
    const bool by_bytes = o.line_rate;
    Pacer pacer(by_bytes ? o.baud / 10.0 : o.burst_rate, 0.020, by_bytes ? 2.0 * o.burst_size : 2.0);
    pacer.Start(started);
    std::vector<uint8_t> burst(o.burst_size);
    uint8_t pattern = 0;
    double next_flush = started + 0.2;
    for (;;) {
        if (StopRequested)
            break;
        const double now = Now();
        if (o.duration > 0 && now - started >= o.duration)
            break;
        const bool wakeups_left = wakeups_on && (o.wakeups < 0 || t->wakeups < static_cast<uint64_t>(o.wakeups));
        const bool bursts_left = o.bursts == 0 || (o.bursts > 0 && t->bursts < static_cast<uint64_t>(o.bursts));
        // Without --duration the module runs until Ctrl+C, unless it was
        // given a finite job (--wakeups N, --burst N) and has done it.
        if (finite_job && !wakeups_left && !bursts_left && o.duration <= 0)
            break;
        bool busy = false;
        if (wakeups_left && now >= next_wakeup) {
            SendWakeup(o, ++t->wakeups);
            t->bytes_written += kWakeupLength;
            next_wakeup += WakePeriodMs.load() / 1000.0;
            if (next_wakeup < now)
                next_wakeup = now + WakePeriodMs.load() / 1000.0;
            busy = true;
        }
        if (bursts_left) {
            const double cost = by_bytes ? static_cast<double>(o.burst_size) : 1.0;
            if (pacer.Allowance(now) >= cost) {
                for (uint8_t &b : burst)
                    b = o.fill >= 0 ? static_cast<uint8_t>(o.fill) : pattern++;
                const size_t written = PortWrite(burst.data(), burst.size());
                pacer.Spend(cost);
                t->bursts++;
                t->burst_bytes += written;
                t->bytes_written += written;
                if (!o.quiet)
                    Out("[%10.4f] TX burst #%llu, %zu bytes\n", now, static_cast<unsigned long long>(t->bursts),
                        written);
                busy = true;
            }
        }
        if (!busy)
            Sleep(1);
        if (now >= next_flush) {
            OutFlush();
            next_flush = now + 0.2;
        }
    }
}


// --tags: one tag after another (see the usage above).
void RunTags(const Options &o, Totals *t)
{
    const double period = o.period_ms / 1000.0;
    const double started = Now();
    std::vector<uint32_t> ids;       // the ID each tag got, in order
    uint32_t reconfigured = 0;       // tags that took more than one configuration
    double last_configured_at = started;
    for (uint32_t k = 1; k <= o.tags && !StopRequested; ++k) {
        // A fresh tag: its own ID, nothing taken yet.
        TagId = o.id;
        TagConfigs = 0;
        const double placed = Now();
        double next_wakeup = placed;
        bool extra_sent = false;
        double leave_at = 0;
        for (;;) {
            if (StopRequested || (o.duration > 0 && Now() - started >= o.duration))
                break;
            const double now = Now();
            const bool configured = TagConfigs.load() > 0;
            if (configured && next_wakeup > TagFirstConfigAt.load() + period)
                next_wakeup = TagFirstConfigAt.load() + period;
            if (!extra_sent && now >= next_wakeup) {
                SendWakeup(o, ++t->wakeups);
                t->bytes_written += kWakeupLength;
                next_wakeup += period;
                if (configured) {
                    extra_sent = true;
                    leave_at = now + o.swap_ms / 1000.0;
                }
            }
            if (extra_sent && now >= leave_at)
                break;
            Sleep(1);
        }
        const uint32_t configs = TagConfigs.load();
        if (configs == 0) {
            Out("tag %u of %u: no configuration (stopped)\n", k, o.tags);
            break;
        }
        reconfigured += configs > 1 ? 1 : 0;
        ids.push_back(TagFirstConfigId.load());
        last_configured_at = TagFirstConfigAt.load();
        Out("tag %u of %u: ID %u after %.3f s%s\n", k, o.tags, ids.back(), last_configured_at - placed,
            configs > 1 ? " (configured again while still on the bench)" : "");
        OutFlush();
    }
    std::string order;
    for (uint32_t id : ids)
        order += (order.empty() ? "" : " ") + std::to_string(id);
    std::vector<uint32_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    std::string twice;
    for (size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i] == sorted[i - 1] && (i < 2 || sorted[i - 2] != sorted[i]))
            twice += (twice.empty() ? "" : " ") + std::to_string(sorted[i]);
    Out("tags: %zu of %u configured; IDs in order: %s\n", ids.size(), o.tags, order.empty() ? "(none)" : order.c_str());
    Out("tags: IDs given to more than one tag: %s; tags configured more than once: %u\n",
        twice.empty() ? "none" : twice.c_str(), reconfigured);
    if (!ids.empty())
        Out("tags: %.3f s per tag (first tag put down to the last configuration, %.3f s)\n",
            (last_configured_at - started) / static_cast<double>(ids.size()), last_configured_at - started);
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!ParseOptions(argc, argv, &o))
        return 2;
    TagId = o.id;
    WakePeriodMs = static_cast<uint32_t>(o.period_ms);
    WakeData = o.wake_data;
    FixedPeriod = o.fixed_period || o.tags > 0;
    AnswerEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    InstallStopHandler();
    std::string error;
    if (!PortOpen(o.port.c_str(), o.baud, &error)) {
        fprintf(stderr, "SimModule: %s\n", error.c_str());
        return 1;
    }
    if (!StartReader(OnChunk)) {
        fprintf(stderr, "SimModule: cannot start the reader thread\n");
        return 1;
    }
    Out("SimModule as %s on %s at %u bit/s, 8N1\n", o.role == Role::kTag ? "tag" : "reader", o.port.c_str(), o.baud);
    OutFlush();

    Totals totals;
    const double started = Now();
    if (o.have_hex) {
        const size_t written = PortWrite(o.hex.data(), o.hex.size());
        totals.bytes_written += written;
        Out("[%10.4f] TX hex (%zu of %zu bytes) | %s\n", Now(), written, o.hex.size(),
            FormatHex(o.hex.data(), o.hex.size()).c_str());
    }
    if (!o.replay.file.empty()) {
        if (!RunReplay(o.replay, "SimModule"))
            return 1;
    } else if (o.latency) {
        MeasureLatency(o, &totals);
    } else if (o.tags > 0 && o.role == Role::kTag) {
        RunTags(o, &totals);
    } else {
        RunLoop(o, &totals);
    }
    // Let answers to the last frames arrive.
    SleepUnlessStopped(o.duration > 0 || o.latency ? 0.3 : 1.0);
    const double elapsed = Now() - started;
    StopReader();
    DecodedFrame tail;
    if (RxStream.Flush(&tail))
        PrintReceived(tail, Now());
    PortClose();

    Out("summary: %.3f s; sent %llu wake-ups, %llu bursts (%llu bytes), %llu bytes in all\n", elapsed,
        static_cast<unsigned long long>(totals.wakeups), static_cast<unsigned long long>(totals.bursts),
        static_cast<unsigned long long>(totals.burst_bytes), static_cast<unsigned long long>(totals.bytes_written));
    Out("summary: received %llu bytes in %llu chunks: %llu tag configs, %llu reader-mode frames, %llu wake-ups, "
        "%llu with bad CRC, %llu other bytes\n",
        static_cast<unsigned long long>(RxBytes), static_cast<unsigned long long>(RxChunks),
        static_cast<unsigned long long>(RxConfigs), static_cast<unsigned long long>(RxReaderFrames),
        static_cast<unsigned long long>(RxWakeups), static_cast<unsigned long long>(RxBadFrames),
        static_cast<unsigned long long>(RxOtherBytes));
    if (o.role == Role::kTag)
        Out("summary: tag now ID %u, wake-up period %u ms, battery period %u min\n", TagId.load(), WakePeriodMs.load(),
            BatteryPeriodMin.load());
    OutFlush();
    return 0;
}
