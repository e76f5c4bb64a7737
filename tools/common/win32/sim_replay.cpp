#include "tools/common/win32/sim_replay.h"

#include <cstdio>
#include <string>

#include "tools/common/replay_file.h"
#include "tools/common/sim_args.h"
#include "tools/common/win32/sim_port.h"

namespace sim {

const char kReplayUsage[] =
    "  --replay FILE          send the received chunks of a Pellfray recording or\n"
    "                         saved log, with their recorded spacing\n"
    "  --speed F              replay F times as fast (default 1)\n"
    "  --loop                 replay again and again until Ctrl+C\n";

ReplayArg ParseReplayArg(const std::string &arg, const char *value, ReplayOptions *options)
{
    if (arg == "--loop") {
        options->loop = true;
        return ReplayArg::kFlag;
    }
    if (arg != "--replay" && arg != "--speed")
        return ReplayArg::kNotReplay;
    if (value == nullptr || *value == '\0')
        return ReplayArg::kBadValue;
    if (arg == "--replay") {
        options->file = value;
        return ReplayArg::kValue;
    }
    double speed = 0;
    if (!ParseNumber(value, &speed) || speed <= 0)
        return ReplayArg::kBadValue;
    options->speed = speed;
    return ReplayArg::kValue;
}

namespace {

struct PassTotals {
    uint64_t chunks = 0;
    uint64_t bytes = 0;
    uint64_t written = 0;
    double last_at_s = 0;
};

// One pass over the file, every chunk when the clock says.
bool ReplayPass(const ReplayOptions &o, const char *program, const ReplayClock &clock, bool report,
                PassTotals *totals)
{
    FILE *file = std::fopen(o.file.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s\n", program, o.file.c_str());
        return false;
    }
    ReplayReader reader;
    std::string line;
    ReplayChunk chunk;
    size_t reported = 0;
    char piece[4096];
    bool more = true;
    while (more && !StopRequested) {
        more = std::fgets(piece, sizeof piece, file) != nullptr;
        if (more) {
            line.append(piece);
            if (line.back() != '\n')
                continue; // the rest of a long line follows
            line.pop_back();
            reader.Feed(line);
            line.clear();
        } else {
            if (!line.empty())
                reader.Feed(line);
            reader.Finish();
        }
        for (; report && reported < reader.problems().size(); ++reported)
            std::fprintf(stderr, "%s: %s line %zu skipped: %s\n", program, o.file.c_str(),
                         reader.problems()[reported].line, reader.problems()[reported].reason.c_str());
        while (!StopRequested && reader.Next(&chunk)) {
            SleepUnlessStopped(clock.Due(chunk.at_s) - Now());
            if (StopRequested)
                break;
            const size_t written = PortWrite(chunk.bytes.data(), chunk.bytes.size());
            totals->chunks++;
            totals->bytes += chunk.bytes.size();
            totals->written += written;
            totals->last_at_s = chunk.at_s;
            if (written != chunk.bytes.size())
                Out("[%10.4f] TX replay line %zu: %zu of %zu bytes written\n", Now(), chunk.line, written,
                    chunk.bytes.size());
        }
    }
    std::fclose(file);
    if (report) {
        const ReplayCounts &n = reader.counts();
        if (n.unreadable > reported)
            std::fprintf(stderr, "%s: %llu more unreadable lines skipped\n", program,
                         static_cast<unsigned long long>(n.unreadable - reported));
        Out("replay: %s: %llu chunks (%llu bytes) over %.3f s of recorded time; skipped %llu sent lines, "
            "%llu notes, %llu date lines, %llu counter lines, %llu let-go lines, %llu blank lines, %llu unreadable "
            "lines\n",
            o.file.c_str(), static_cast<unsigned long long>(n.chunks), static_cast<unsigned long long>(n.bytes),
            totals->last_at_s, static_cast<unsigned long long>(n.sent_lines),
            static_cast<unsigned long long>(n.notes), static_cast<unsigned long long>(n.date_lines),
            static_cast<unsigned long long>(n.counter_lines), static_cast<unsigned long long>(n.let_go_lines),
            static_cast<unsigned long long>(n.blank_lines), static_cast<unsigned long long>(n.unreadable));
    }
    return true;
}

} // namespace

bool RunReplay(const ReplayOptions &o, const char *program)
{
    Out("replaying %s at %g times the recorded speed%s\n", o.file.c_str(), o.speed, o.loop ? ", in a loop" : "");
    OutFlush();
    ReplayClock clock(Now(), o.speed);
    uint64_t passes = 0;
    PassTotals totals;
    do {
        PassTotals pass;
        if (!ReplayPass(o, program, clock, passes == 0, &pass))
            return false;
        ++passes;
        totals.chunks += pass.chunks;
        totals.bytes += pass.bytes;
        totals.written += pass.written;
        if (pass.chunks == 0)
            break; // nothing to send: looping would only spin
        clock.NextPass(pass.last_at_s);
    } while (o.loop && !StopRequested);
    Out("summary: replayed %llu chunks (%llu bytes, %llu written) in %llu pass%s\n",
        static_cast<unsigned long long>(totals.chunks), static_cast<unsigned long long>(totals.bytes),
        static_cast<unsigned long long>(totals.written), static_cast<unsigned long long>(passes),
        passes == 1 ? "" : "es");
    OutFlush();
    return true;
}

} // namespace sim
