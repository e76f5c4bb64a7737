// What the simulated reader sends, and when.
//
// ReportPlan decides the content of the traffic: the tags in round-robin
// order, their signals, under-voltage flags and extra bytes, and the faults
// asked for (noise runs between frames, damaged CRCs). It is deterministic
// for a given seed, so a loss measurement can be repeated exactly, and it
// counts what it produced so the summary can say how many frames a receiver
// should have accepted.
//
// Pacer releases units (frames or bytes) at a fixed rate against a clock the
// caller passes in. If the sender falls behind (a blocked write), at most a
// short backlog is kept and the rest is written off and reported: sending
// the whole arrears in one burst would exceed what the line can carry and
// blame the receiver for the sender's stall.
#pragma once

#include "tools/common/sim_frames.h"

#include <cstdint>
#include <random>
#include <vector>

namespace sim {

struct ReportPlanOptions {
    std::vector<uint32_t> tags{1000};
    int signal_low = -50; // dB; each frame draws uniformly from low..high
    int signal_high = -50;
    uint32_t under_voltage_every = 0; // every Nth tag of the list (0: none)
    std::vector<uint8_t> extra;       // at most 7 bytes
    Header header = Header::kFF;
    double noise_probability = 0; // chance of a noise run before a frame
    bool raw_noise = false;       // noise may hold 0x55 and 0xFF (can fake headers)
    double bad_crc_probability = 0;
    uint32_t seed = 1;
    // A tag that moves (see MovingTagSignal); move_period_s 0: none moves.
    uint32_t move_id = 0;
    double move_period_s = 0;
    double move_gone_s = 0;
    // A batch with faults: these tags always report at weak_signal, or
    // always with the under-voltage flag (sorted, see SortedTags).
    std::vector<uint32_t> weak_tags;
    int weak_signal = -90;
    std::vector<uint32_t> under_voltage_tags;
};

// The list sorted, without duplicates, for the lookups of the plan.
std::vector<uint32_t> SortedTags(std::vector<uint32_t> ids);
// Takes the silent tags out of the round: they never report. Returns how
// many were taken out.
size_t RemoveSilentTags(std::vector<uint32_t> *tags, const std::vector<uint32_t> &silent);

// A tag walking to and from the reader: its signal follows a cosine from
// -35 dB (nearest, at t = 0, P, 2P, ...) to -85 dB (farthest, at P/2), and
// for gone_s seconds around each farthest point it is out of range and not
// heard at all. t and period in seconds.
int MovingTagSignal(double t, double period_s);
bool MovingTagHeard(double t, double period_s, double gone_s);

struct PlannedFrame {
    TagReport report;
    uint8_t bytes[kMaxReportLength] = {};
    size_t length = 0;
    bool bad_crc = false;
    size_t noise_before = 0; // noise bytes written just before the frame
};

class ReportPlan {
public:
    explicit ReportPlan(const ReportPlanOptions &options);

    // Appends the next noise run (if any) and frame to out.
    void Next(std::vector<uint8_t> *out, PlannedFrame *frame);

    // Length of the next frame (without noise), for pacing by bytes.
    size_t PeekLength() const;

    // Seconds since sending began, for the moving tag.
    void SetElapsed(double seconds) { elapsed_s_ = seconds; }

    uint64_t frames() const { return frames_; }
    uint64_t bad_frames() const { return bad_frames_; }
    uint64_t frame_bytes() const { return frame_bytes_; }
    uint64_t noise_bytes() const { return noise_bytes_; }

private:
    ReportPlanOptions options_;
    std::mt19937 random_;
    size_t next_tag_ = 0;
    double elapsed_s_ = 0;
    uint64_t frames_ = 0;
    uint64_t bad_frames_ = 0;
    uint64_t frame_bytes_ = 0;
    uint64_t noise_bytes_ = 0;
};

class Pacer {
public:
    // rate in units per second; the arrears kept are max_backlog_s seconds'
    // worth, but never less than min_backlog units (one frame must always fit).
    Pacer(double rate, double max_backlog_s, double min_backlog)
        : rate_(rate), cap_(rate * max_backlog_s > min_backlog ? rate * max_backlog_s : min_backlog)
    {
    }

    void Start(double now)
    {
        origin_ = now;
        spent_ = 0;
    }

    // Units that may go out at time now (may be fractional).
    double Allowance(double now);

    void Spend(double units) { spent_ += units; }

    // Seconds of schedule given up because the sender was late.
    double written_off_s() const { return written_off_s_; }

private:
    double rate_;
    double cap_;
    double origin_ = 0;
    double spent_ = 0;
    double written_off_s_ = 0;
};

// Median (mean of the two middle values for an even count) and the
// nearest-rank percentile p (0 < p <= 100); 0 for no samples.
double Median(std::vector<double> samples);
double Percentile(std::vector<double> samples, double p);

} // namespace sim
