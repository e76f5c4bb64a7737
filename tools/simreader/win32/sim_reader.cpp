// SimReader: a simulated tag reader for Tarnwick, for benches without the
// hardware and for loss measurements.
//
// Usage: SimReader --port COMn [options]
//
// What it sends (tag reports, one every 1/rate seconds, tags in turn):
//   --baud B               line rate, 8N1 (default 115200)
//   --tags LIST            tag IDs: 1000-1012 or 1,5,0x80000000 or a mix
//                          (default 1000)
//   --count N [--first F]  N consecutive IDs from F (default F = 1)
//   --signal DB            signal strength in dB, -128..127 (default -50)
//   --signal-range A..B    a random signal from A to B for each report
//   --undervoltage-every N every Nth tag of the list reports under-voltage
//   --silent LIST          these tags of the list never report (a batch
//                          with missing tags)
//   --weak LIST            these tags always report at --weak-signal DB
//                          (default -90)
//   --undervoltage LIST    these tags always report under-voltage
//   --extra 12,34          up to seven extra data bytes in every report
//   --move ID[:PERIOD[:GONE]]  tag ID moves: its signal swings from -35 dB
//                          (near) to -85 dB (far) and back every PERIOD
//                          seconds (default 60), and it is out of range for
//                          GONE seconds (default 0) around the far point;
//                          added to the tag list if not in it
//   --header ff|55aa       header kind (default ff)
//   --rate N               reports per second (default 10)
//   --line-rate            as fast as the baud rate carries: baud/10 bytes/s
//   --duration S           stop after S seconds
//   --frames N             stop after N reports (0: send nothing, only listen)
//   --listen               send nothing, only log what arrives
//   --noise P              before each report, with probability P (0.05 or
//                          5%), 1-8 random bytes; they never hold 0x55 or
//                          0xFF, so they cannot fake or hide a header
//   --raw-noise            let the noise hold any byte value
//   --bad-crc P            damage the CRC of a report with probability P
//   --seed N               random seed (default 1), for repeatable runs
//   --examples             send the two example frames
//                          FF FF FF FF 00 00 03 E8 00 CE EF 41 and
//                          55 AA 00 00 00 00 03 E8 41 12 34 CE 4E 33, then
//                          listen for a second (or --duration)
//   --catch-up MS          arrears kept after a stall (default: 400 bytes of
//                          line time with --line-rate, else 20 ms)
//   --quiet                no line per report sent
//   --stats                a progress line every second
//   --replay FILE          send the received chunks of a Pellfray recording
//                          made beside a reader, with their spacing, instead
//                          (--speed F, --loop: tools/common/win32/sim_replay.h)
//
// Everything it receives is logged with the time and the gap since the
// previous frame: reminder frames decoded (layout, IDs, mode, CRC OK/BAD),
// tag reports decoded, anything else as hex. At the end it prints a summary:
// reports sent (and how many of them damaged), bytes, the achieved rate, and
// what it received. Ctrl+C ends a run early with the summary.
//
// Pacing uses the performance counter and sends whatever is due in one write
// every millisecond or so. A sender held up by a slow write keeps only a
// little arrears and writes the rest off (shown as "written off" in the
// summary), so it never sends a long burst faster than the line could carry
// to make up for its own stall: at the line rate 400 bytes' worth of line
// time (35 ms at 115200, 4.3 ms at 921600 bit/s; less than the bench's
// 500-byte receive ring), otherwise 20 ms; --catch-up MS sets it.

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
    "Usage: SimReader --port COMn [options]   (a simulated tag reader)\n"
    "  --baud B               line rate, 8N1 (default 115200)\n"
    "  --tags LIST            tag IDs: 1000-1012 or 1,5,0x80000000 (default 1000)\n"
    "  --count N [--first F]  N consecutive IDs from F (default F = 1)\n"
    "  --signal DB            signal in dB, -128..127 (default -50)\n"
    "  --signal-range A..B    random signal from A to B for each report\n"
    "  --undervoltage-every N every Nth tag of the list reports under-voltage\n"
    "  --silent LIST          these tags of the list never report\n"
    "  --weak LIST            these tags always report at --weak-signal DB (-90)\n"
    "  --undervoltage LIST    these tags always report under-voltage\n"
    "  --extra 12,34          up to seven extra data bytes per report\n"
    "  --move ID[:PERIOD[:GONE]]  tag ID moves: signal -35..-85..-35 dB every\n"
    "                         PERIOD s (default 60), unheard for GONE s (default\n"
    "                         0) around the far point\n"
    "  --header ff|55aa       header kind (default ff)\n"
    "  --rate N               reports per second (default 10)\n"
    "  --line-rate            as fast as the baud rate carries (baud/10 bytes/s)\n"
    "  --duration S           stop after S seconds\n"
    "  --frames N             stop after N reports (0: only listen)\n"
    "  --listen               send nothing, only log what arrives\n"
    "  --noise P              1-8 noise bytes before a report with probability P\n"
    "                         (0.05 or 5%); never 0x55 or 0xFF unless --raw-noise\n"
    "  --raw-noise            noise may hold any byte value\n"
    "  --bad-crc P            damage a report's CRC with probability P\n"
    "  --seed N               random seed (default 1)\n"
    "  --examples             send the two example frames, then listen 1 s\n"
    "  --catch-up MS          arrears kept after a stall (default: 400 bytes of\n"
    "                         line time with --line-rate, else 20 ms)\n"
    "  --quiet                no line per report sent\n"
    "  --stats                a progress line every second\n"
    "Received frames are logged: reminder frames decoded (layout, IDs, mode,\n"
    "CRC OK/BAD), anything else as hex. Ctrl+C stops with a summary.\n";

struct Options {
    ReplayOptions replay; // --replay FILE sends the file instead
    std::string port;
    uint32_t baud = 115200;
    ReportPlanOptions plan;
    double rate = 10;
    bool line_rate = false;
    double duration = 0; // 0: no limit
    double catch_up_ms = -1; // -1: the default for the pacing
    long long frames = -1; // -1: no limit
    bool examples = false;
    bool quiet = false;
    bool stats = false;
    std::vector<uint32_t> silent; // taken out of the tag list
};

// Receive side, written only by the reader thread; the main thread reads the
// counters for the summary after StopReader, and RxBytes for --stats while
// the reader runs.
FrameStream RxStream(kReaderSideKinds);
double RxLastFrameAt = -1;
double RxLastByteAt = 0;
std::atomic<uint64_t> RxBytes{0};
uint64_t RxOtherBytes = 0;
std::atomic<uint64_t> RxFrames[6];
std::atomic<uint64_t> RxBadFrames{0};

void PrintReceived(const DecodedFrame &frame, double when)
{
    if (frame.kind == FrameKind::kOther) {
        RxOtherBytes += frame.bytes.size();
        Out("[%10.4f] RX %s\n", when, DescribeFrame(frame).c_str());
        return;
    }
    RxFrames[static_cast<int>(frame.kind)]++;
    if (!frame.crc_ok)
        RxBadFrames++;
    const double gap = RxLastFrameAt < 0 ? 0 : (when - RxLastFrameAt) * 1000;
    RxLastFrameAt = when;
    Out("[%10.4f] RX +%8.1f ms %s\n", when, gap, DescribeFrame(frame).c_str());
}

void OnChunk(const uint8_t *data, size_t length, double when)
{
    DecodedFrame frame;
    if (length == 0) {
        // A quiet line: whatever is held will not become a frame.
        if (RxStream.Pending() && when - RxLastByteAt > 0.09 && RxStream.Flush(&frame))
            PrintReceived(frame, when);
        return;
    }
    RxLastByteAt = when;
    RxBytes += length;
    RxStream.Feed(data, length);
    while (RxStream.Next(&frame))
        PrintReceived(frame, when);
}

bool Fail(const char *what, const char *value)
{
    fprintf(stderr, "SimReader: bad %s '%s'\n%s", what, value ? value : "", kUsage);
    return false;
}

bool ParseOptions(int argc, char **argv, Options *o)
{
    uint64_t count = 0;
    uint64_t first = 1;
    bool have_count = false;
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
        long s = 0;
        long s2 = 0;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            fputs(kReplayUsage, stdout);
            exit(0);
        } else if (arg == "--line-rate") {
            o->line_rate = true;
        } else if (arg == "--examples") {
            o->examples = true;
        } else if (arg == "--listen") {
            o->frames = 0;
        } else if (arg == "--quiet") {
            o->quiet = true;
        } else if (arg == "--stats") {
            o->stats = true;
        } else if (arg == "--raw-noise") {
            o->plan.raw_noise = true;
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
            } else if (arg == "--tags") {
                if (!ParseTagList(value, 1000000, &o->plan.tags))
                    return Fail("tag list", value);
            } else if (arg == "--count") {
                if (!ParseUnsigned(value, 1000000, &count) || count == 0)
                    return Fail("count", value);
                have_count = true;
            } else if (arg == "--first") {
                if (!ParseUnsigned(value, 0xFFFFFFFFu, &first))
                    return Fail("first ID", value);
            } else if (arg == "--signal") {
                if (!ParseInt(value, -128, 127, &s))
                    return Fail("signal", value);
                o->plan.signal_low = o->plan.signal_high = static_cast<int>(s);
            } else if (arg == "--signal-range") {
                if (!ParseIntRange(value, -128, 127, &s, &s2))
                    return Fail("signal range", value);
                o->plan.signal_low = static_cast<int>(s);
                o->plan.signal_high = static_cast<int>(s2);
            } else if (arg == "--undervoltage-every") {
                if (!ParseUnsigned(value, 1000000, &u))
                    return Fail("under-voltage interval", value);
                o->plan.under_voltage_every = static_cast<uint32_t>(u);
            } else if (arg == "--silent") {
                if (!ParseTagList(value, 1000000, &o->silent))
                    return Fail("silent tag list", value);
            } else if (arg == "--weak") {
                if (!ParseTagList(value, 1000000, &o->plan.weak_tags))
                    return Fail("weak tag list", value);
            } else if (arg == "--weak-signal") {
                if (!ParseInt(value, -128, 127, &s))
                    return Fail("weak signal", value);
                o->plan.weak_signal = static_cast<int>(s);
            } else if (arg == "--undervoltage") {
                if (!ParseTagList(value, 1000000, &o->plan.under_voltage_tags))
                    return Fail("under-voltage tag list", value);
            } else if (arg == "--extra") {
                if (!ParseHexBytes(value, &o->plan.extra) || o->plan.extra.size() > kMaxExtraBytes)
                    return Fail("extra bytes (at most 7 hex bytes)", value);
            } else if (arg == "--move") {
                if (!ParseMoveOption(value, &o->plan.move_id, &o->plan.move_period_s, &o->plan.move_gone_s))
                    return Fail("moving tag (ID[:PERIOD[:GONE]])", value);
            } else if (arg == "--header") {
                if (std::strcmp(value, "ff") == 0 || std::strcmp(value, "FF") == 0)
                    o->plan.header = Header::kFF;
                else if (std::strcmp(value, "55aa") == 0 || std::strcmp(value, "55AA") == 0)
                    o->plan.header = Header::k55AA;
                else
                    return Fail("header (ff or 55aa)", value);
            } else if (arg == "--rate") {
                if (!ParseNumber(value, &o->rate) || o->rate <= 0)
                    return Fail("rate", value);
            } else if (arg == "--catch-up") {
                if (!ParseNumber(value, &o->catch_up_ms))
                    return Fail("catch-up time", value);
            } else if (arg == "--duration") {
                if (!ParseNumber(value, &o->duration))
                    return Fail("duration", value);
            } else if (arg == "--frames") {
                if (!ParseUnsigned(value, 1ull << 40, &u))
                    return Fail("frame count", value);
                o->frames = static_cast<long long>(u);
            } else if (arg == "--noise") {
                if (!ParseProbability(value, &o->plan.noise_probability))
                    return Fail("noise probability", value);
            } else if (arg == "--bad-crc") {
                if (!ParseProbability(value, &o->plan.bad_crc_probability))
                    return Fail("bad-CRC probability", value);
            } else if (arg == "--seed") {
                if (!ParseUnsigned(value, 0xFFFFFFFFu, &u))
                    return Fail("seed", value);
                o->plan.seed = static_cast<uint32_t>(u);
            } else {
                return Fail("option", arg.c_str());
            }
        }
    }
    if (o->port.empty())
        return Fail("port (--port COMn is required)", "");
    if (have_count) {
        if (first + count - 1 > 0xFFFFFFFFu)
            return Fail("count (IDs beyond 4294967295)", "");
        o->plan.tags.clear();
        for (uint64_t k = 0; k < count; ++k)
            o->plan.tags.push_back(static_cast<uint32_t>(first + k));
    }
    std::vector<uint32_t> &tags = o->plan.tags;
    if (o->plan.move_period_s > 0 && std::find(tags.begin(), tags.end(), o->plan.move_id) == tags.end())
        tags.push_back(o->plan.move_id);
    RemoveSilentTags(&tags, o->silent);
    if (tags.empty())
        return Fail("silent tag list (every tag would be silent)", "");
    return true;
}

// "1, 5, 7" (at most the first 20, then how many more).
std::string FormatIdList(const std::vector<uint32_t> &ids)
{
    std::string out;
    for (size_t i = 0; i < ids.size() && i < 20; ++i)
        out += (i ? ", " : "") + std::to_string(ids[i]);
    if (ids.size() > 20)
        out += " and " + std::to_string(ids.size() - 20) + " more";
    return out;
}

void SendExamples(const Options &o)
{
    static const uint8_t kFF[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0xE8, 0x00, 0xCE, 0xEF, 0x41};
    static const uint8_t k55[] = {0x55, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 0x41, 0x12, 0x34, 0xCE, 0x4E, 0x33};
    const size_t a = PortWrite(kFF, sizeof kFF);
    Out("[%10.4f] TX example 1 (%zu of %zu bytes) | %s\n", Now(), a, sizeof kFF, FormatHex(kFF, sizeof kFF).c_str());
    Sleep(50);
    const size_t b = PortWrite(k55, sizeof k55);
    Out("[%10.4f] TX example 2 (%zu of %zu bytes) | %s\n", Now(), b, sizeof k55, FormatHex(k55, sizeof k55).c_str());
    OutFlush();
    SleepUnlessStopped(o.duration > 0 ? o.duration : 1.0);
}

struct SendTotals {
    uint64_t bytes_written = 0;
    uint64_t writes = 0;
    double slowest_write = 0;
    double longest_pause = 0; // between two passes of the send loop
    double started = 0;
    double ended = 0;
    double written_off = 0;
};

void SendReports(const Options &o, ReportPlan *plan, SendTotals *totals)
{
    const bool by_bytes = o.line_rate;
    const double rate = by_bytes ? o.baud / 10.0 : o.rate;
    // Arrears: --catch-up, and never less than two units of the largest kind
    // (two frames, or two frames with their noise in bytes).
    const double catch_up_s = o.catch_up_ms >= 0 ? o.catch_up_ms / 1000.0 : by_bytes ? 400.0 / rate : 0.020;
    Pacer pacer(rate, catch_up_s, by_bytes ? 2.0 * (kMaxReportLength + 8) : 2.0);
    std::vector<uint8_t> batch;
    batch.reserve(16384);
    totals->started = Now();
    pacer.Start(totals->started);
    double next_flush = totals->started + 0.2;
    double next_stats = totals->started + 1.0;
    uint64_t last_stats_frames = 0;
    double last_pass = totals->started;
    while (!StopRequested) {
        const double now = Now();
        if (now - last_pass > totals->longest_pause)
            totals->longest_pause = now - last_pass;
        last_pass = now;
        if (o.duration > 0 && now - totals->started >= o.duration)
            break;
        plan->SetElapsed(now - totals->started);
        if (o.frames >= 0 && plan->frames() >= static_cast<uint64_t>(o.frames))
            break;
        double allowance = pacer.Allowance(now);
        batch.clear();
        while (batch.size() < 8192 && (o.frames < 0 || plan->frames() < static_cast<uint64_t>(o.frames))) {
            const double cost = by_bytes ? static_cast<double>(plan->PeekLength()) : 1.0;
            if (allowance < cost)
                break;
            const size_t before = batch.size();
            PlannedFrame f;
            plan->Next(&batch, &f);
            const double spent = by_bytes ? static_cast<double>(batch.size() - before) : 1.0;
            allowance -= spent;
            pacer.Spend(spent);
            if (!o.quiet) {
                Out("[%10.4f] TX #%llu ID %u status %02X signal %d%s%s | %s", now,
                    static_cast<unsigned long long>(plan->frames()), f.report.id, ReportStatus(f.report),
                    f.report.signal, f.bad_crc ? " BAD-CRC" : "", f.noise_before ? " after noise" : "",
                    FormatHex(f.bytes, f.length).c_str());
                if (f.noise_before)
                    Out(" (noise %s)", FormatHex(batch.data() + before, f.noise_before).c_str());
                Out("\n");
            }
        }
        if (!batch.empty()) {
            const double before_write = Now();
            const size_t written = PortWrite(batch.data(), batch.size());
            const double took = Now() - before_write;
            if (took > totals->slowest_write)
                totals->slowest_write = took;
            totals->writes++;
            totals->bytes_written += written;
            if (written != batch.size())
                Out("[%10.4f] TX write took %zu of %zu bytes\n", Now(), written, batch.size());
        } else {
            Sleep(1);
        }
        if (now >= next_flush) {
            OutFlush();
            next_flush = now + 0.2;
        }
        if (o.stats && now >= next_stats) {
            Out("[%10.4f] stats: sent %llu reports (%llu in the last second), %llu bytes, received %llu bytes\n", now,
                static_cast<unsigned long long>(plan->frames()),
                static_cast<unsigned long long>(plan->frames() - last_stats_frames),
                static_cast<unsigned long long>(totals->bytes_written), static_cast<unsigned long long>(RxBytes.load()));
            last_stats_frames = plan->frames();
            next_stats += 1.0;
        }
    }
    totals->ended = Now();
    totals->written_off = pacer.written_off_s();
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!ParseOptions(argc, argv, &o))
        return 2;
    InstallStopHandler();
    std::string error;
    if (!PortOpen(o.port.c_str(), o.baud, &error)) {
        fprintf(stderr, "SimReader: %s\n", error.c_str());
        return 1;
    }
    if (!StartReader(OnChunk)) {
        fprintf(stderr, "SimReader: cannot start the reader thread\n");
        return 1;
    }
    Out("SimReader on %s at %u bit/s, 8N1\n", o.port.c_str(), o.baud);

    ReportPlan plan(o.plan);
    SendTotals totals;
    if (!o.replay.file.empty()) {
        if (!RunReplay(o.replay, "SimReader"))
            return 1;
        // Answers to the last chunks may still be on the way.
        SleepUnlessStopped(0.3);
    } else if (o.examples) {
        SendExamples(o);
    } else if (o.frames == 0) {
        Out("listening only\n");
        OutFlush();
        SleepUnlessStopped(o.duration > 0 ? o.duration : 1e12);
    } else {
        if (!o.silent.empty())
            Out("silent: %s\n", FormatIdList(o.silent).c_str());
        if (!o.plan.weak_tags.empty())
            Out("weak at %d dB: %s\n", o.plan.weak_signal, FormatIdList(o.plan.weak_tags).c_str());
        if (!o.plan.under_voltage_tags.empty())
            Out("under-voltage: %s\n", FormatIdList(o.plan.under_voltage_tags).c_str());
        Out("sending %zu tag ID(s), %s, %s header\n", o.plan.tags.size(),
            o.line_rate ? "paced at the line rate" : "paced by --rate", o.plan.header == Header::kFF ? "FF" : "55AA");
        OutFlush();
        SendReports(o, &plan, &totals);
        // Answers to the last reports may still be on the way.
        SleepUnlessStopped(0.3);
    }
    StopReader();
    DecodedFrame tail;
    if (RxStream.Flush(&tail))
        PrintReceived(tail, Now());
    PortClose();

    if (plan.frames() > 0) {
        const double seconds = totals.ended - totals.started;
        const uint64_t total_bytes = plan.frame_bytes() + plan.noise_bytes();
        Out("summary: sent %llu reports (%llu with good CRC, %llu damaged), %llu report bytes + %llu noise bytes, "
            "%llu bytes written, in %.3f s\n",
            static_cast<unsigned long long>(plan.frames()),
            static_cast<unsigned long long>(plan.frames() - plan.bad_frames()),
            static_cast<unsigned long long>(plan.bad_frames()), static_cast<unsigned long long>(plan.frame_bytes()),
            static_cast<unsigned long long>(plan.noise_bytes()),
            static_cast<unsigned long long>(totals.bytes_written), seconds);
        if (seconds > 0)
            Out("summary: %.1f reports/s, %.0f bytes/s (line capacity %.0f bytes/s), %.3f s of schedule written "
                "off\n",
                static_cast<double>(plan.frames()) / seconds, static_cast<double>(total_bytes) / seconds,
                o.baud / 10.0, totals.written_off);
        Out("summary: %llu writes, slowest %.1f ms; longest pause of the send loop %.1f ms\n",
            static_cast<unsigned long long>(totals.writes), totals.slowest_write * 1000, totals.longest_pause * 1000);
    }
    Out("summary: received %llu bytes: %llu reminder frames, %llu tag reports, %llu with bad CRC, %llu other "
        "bytes\n",
        static_cast<unsigned long long>(RxBytes.load()),
        static_cast<unsigned long long>(RxFrames[static_cast<int>(FrameKind::kReminder)].load()),
        static_cast<unsigned long long>(RxFrames[static_cast<int>(FrameKind::kTagReport)].load()),
        static_cast<unsigned long long>(RxBadFrames.load()), static_cast<unsigned long long>(RxOtherBytes));
    OutFlush();
    return 0;
}
