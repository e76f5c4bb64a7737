#include "tools/common/sim_plan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

ReportPlan::ReportPlan(const ReportPlanOptions &options) : options_(options), random_(options.seed)
{
    if (options_.tags.empty())
        options_.tags.push_back(1000);
    options_.weak_tags = SortedTags(options_.weak_tags);
    options_.under_voltage_tags = SortedTags(options_.under_voltage_tags);
    if (options_.extra.size() > kMaxExtraBytes)
        options_.extra.resize(kMaxExtraBytes);
}

size_t ReportPlan::PeekLength() const { return kMinReportLength + options_.extra.size(); }

void ReportPlan::Next(std::vector<uint8_t> *out, PlannedFrame *frame)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    frame->noise_before = 0;
    if (options_.noise_probability > 0 && chance(random_) < options_.noise_probability) {
        std::uniform_int_distribution<int> count(1, 8);
        std::uniform_int_distribution<int> value(0, 255);
        const int n = count(random_);
        for (int i = 0; i < n; ++i) {
            int b = value(random_);
            // Clean noise never holds a header byte, so no header can form
            // across it and every true frame stays recoverable.
            while (!options_.raw_noise && (b == 0x55 || b == 0xFF))
                b = value(random_);
            out->push_back(static_cast<uint8_t>(b));
        }
        frame->noise_before = static_cast<size_t>(n);
        noise_bytes_ += static_cast<uint64_t>(n);
    }

    size_t index = next_tag_;
    next_tag_ = (next_tag_ + 1) % options_.tags.size();
    const bool moving = options_.move_period_s > 0;
    // An out-of-range moving tag gives its turn to the next tag (a list of
    // one tag keeps sending it).
    if (moving && options_.tags[index] == options_.move_id && options_.tags.size() > 1 &&
        !MovingTagHeard(elapsed_s_, options_.move_period_s, options_.move_gone_s)) {
        index = next_tag_;
        next_tag_ = (next_tag_ + 1) % options_.tags.size();
    }

    TagReport &r = frame->report;
    r = TagReport();
    r.header = options_.header;
    r.id = options_.tags[index];
    r.under_voltage = (options_.under_voltage_every != 0 && (index + 1) % options_.under_voltage_every == 0) ||
                      std::binary_search(options_.under_voltage_tags.begin(), options_.under_voltage_tags.end(), r.id);
    const bool weak = std::binary_search(options_.weak_tags.begin(), options_.weak_tags.end(), r.id);
    r.extra_count = static_cast<uint8_t>(options_.extra.size());
    if (!options_.extra.empty())
        std::memcpy(r.extra, options_.extra.data(), options_.extra.size());
    if (weak) {
        r.signal = static_cast<int8_t>(options_.weak_signal);
    } else if (moving && r.id == options_.move_id) {
        r.signal = static_cast<int8_t>(MovingTagSignal(elapsed_s_, options_.move_period_s));
    } else if (options_.signal_low == options_.signal_high) {
        r.signal = static_cast<int8_t>(options_.signal_low);
    } else {
        std::uniform_int_distribution<int> signal(options_.signal_low, options_.signal_high);
        r.signal = static_cast<int8_t>(signal(random_));
    }
    frame->length = BuildTagReport(r, frame->bytes);
    frame->bad_crc = options_.bad_crc_probability > 0 && chance(random_) < options_.bad_crc_probability;
    if (frame->bad_crc) {
        // Damage only the CRC: the frame keeps its length, so a receiver stays
        // in step and only this one report is lost.
        frame->bytes[frame->length - 1] ^= 0x5A;
        ++bad_frames_;
    }
    out->insert(out->end(), frame->bytes, frame->bytes + frame->length);
    ++frames_;
    frame_bytes_ += frame->length;
}

std::vector<uint32_t> SortedTags(std::vector<uint32_t> ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

size_t RemoveSilentTags(std::vector<uint32_t> *tags, const std::vector<uint32_t> &silent)
{
    const std::vector<uint32_t> gone = SortedTags(silent);
    const size_t before = tags->size();
    tags->erase(std::remove_if(tags->begin(), tags->end(),
                               [&gone](uint32_t id) { return std::binary_search(gone.begin(), gone.end(), id); }),
                tags->end());
    return before - tags->size();
}

int MovingTagSignal(double t, double period_s)
{
    const double kPi = 3.14159265358979323846;
    return static_cast<int>(std::lround(-60.0 + 25.0 * std::cos(2 * kPi * t / period_s)));
}

bool MovingTagHeard(double t, double period_s, double gone_s)
{
    const double phase = std::fmod(t, period_s);
    return std::fabs(phase - period_s / 2) >= gone_s / 2;
}

double Pacer::Allowance(double now)
{
    double credit = (now - origin_) * rate_ - spent_;
    if (credit > cap_) {
        const double late = (credit - cap_) / rate_;
        origin_ += late;
        written_off_s_ += late;
        credit = cap_;
    }
    return credit;
}

double Median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
    rank = std::min(std::max<size_t>(rank, 1), samples.size());
    return samples[rank - 1];
}

} // namespace sim
