// The follow window's picture and texts as numbers (see tag_follow_view.h).
#include "tagbench/tag_follow_view.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tagbench/grid_format.h"
#include "tagbench/tag_csv.h"

namespace {

constexpr int64_t kTickSeconds = 120;

// Local second of a history-clock second.
int64_t LocalSecondOf(const WallClock &clock, int64_t second)
{
    return LocalSecondsAt(clock, second * 1000);
}

std::string Number(long long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

} // namespace

void BuildPlotSeries(const TagHistory &h, int64_t picture_end_ms, PlotSeries *out)
{
    out->end_second = SecondOfMs(picture_end_ms);
    out->newest = -1;
    const int64_t first_second = SecondOfMs(h.first_seen_ms);
    const int64_t oldest_kept = h.newest_second - (kHistorySeconds - 1);
    // Offline lasts from an ageing mark to the next report, across the
    // silent seconds between ticks.
    bool offline = false;
    for (int i = 0; i < kHistorySeconds; ++i) {
        PlotPoint &p = out->points[i];
        std::memset(&p, 0, sizeof p);
        const int64_t second = out->end_second - (kHistorySeconds - 1) + i;
        if (second < first_second || second < oldest_kept)
            continue;
        if (second > h.newest_second) {
            p.offline = offline;
            continue;
        }
        int64_t slot = second % kHistorySeconds;
        slot = slot < 0 ? slot + kHistorySeconds : slot;
        const HistoryBucket &b = h.buckets[slot];
        const bool marked = (b.flags & kBucketOffline) != 0;
        offline = offline || marked;
        p.offline = offline;
        if (b.count > 0) {
            // A report ends the spell. A second that holds both a mark and a
            // report was offline first (a report resets the countdown, so no
            // tick after it finds the tag offline).
            p.offline = marked;
            offline = false;
            p.heard = true;
            p.count = b.count;
            p.signal = b.strongest;
            p.distance = DistanceForSignal(b.strongest);
            p.under_voltage = (b.flags & kBucketUnderVoltage) != 0;
            out->newest = i;
        }
    }
}

std::vector<IndexRun> OfflineRuns(const PlotSeries &series)
{
    std::vector<IndexRun> runs;
    for (int i = 0; i < kHistorySeconds; ++i) {
        if (!series.points[i].offline)
            continue;
        if (!runs.empty() && runs.back().last == i - 1)
            runs.back().last = i;
        else
            runs.push_back(IndexRun{i, i});
    }
    return runs;
}

std::vector<std::vector<int>> SignalLines(const PlotSeries &series)
{
    std::vector<std::vector<int>> lines;
    bool offline_since_last = true;
    for (int i = 0; i < kHistorySeconds; ++i) {
        const PlotPoint &p = series.points[i];
        // An offline second before a report breaks the line, also when
        // the report itself ends the offline spell.
        if (p.offline)
            offline_since_last = true;
        if (!p.heard)
            continue;
        if (offline_since_last || lines.empty())
            lines.emplace_back();
        lines.back().push_back(i);
        offline_since_last = false;
    }
    return lines;
}

Axis NiceAxis(double low, double high, int max_intervals, double min_step)
{
    if (high < low) {
        const double t = low;
        low = high;
        high = t;
    }
    max_intervals = max_intervals < 1 ? 1 : max_intervals;
    const double span = high - low;
    double step = min_step;
    if (span > 0) {
        const double raw = span / max_intervals;
        const double power = std::pow(10.0, std::floor(std::log10(raw)));
        for (double mantissa : {1.0, 2.0, 5.0, 10.0}) {
            step = mantissa * power;
            if (step >= raw * (1 - 1e-9))
                break;
        }
    }
    if (step < min_step)
        step = min_step;
    for (;;) {
        Axis a{std::floor(low / step) * step, std::ceil(high / step) * step, step};
        if (a.high == a.low)
            a.high = a.low + step;
        // Rounding both ends out may need one interval more than the span;
        // a larger step then.
        if ((a.high - a.low) / step <= max_intervals + 1e-9)
            return a;
        const double power = std::pow(10.0, std::floor(std::log10(step)));
        const double mantissa = step / power;
        step = (mantissa < 1.5 ? 2.0 : mantissa < 3.5 ? 5.0 : 10.0) * power;
    }
}

Axis SignalAxis(const PlotSeries &series)
{
    int low = 127, high = -128;
    for (const PlotPoint &p : series.points) {
        if (!p.heard)
            continue;
        low = p.signal < low ? p.signal : low;
        high = p.signal > high ? p.signal : high;
    }
    if (low > high)
        return NiceAxis(-90, -30, 6, 1);
    // A flat line sits inside the axis rather than on its edge.
    return NiceAxis(low - 1, high + 1, 6, 1);
}

Axis DistanceAxis(const PlotSeries &series)
{
    int32_t farthest = 0;
    for (const PlotPoint &p : series.points)
        farthest = p.heard && p.distance > farthest ? p.distance : farthest;
    return NiceAxis(0, farthest > 0 ? farthest : 100, 5, 1);
}

std::vector<double> AxisTicks(const Axis &axis)
{
    std::vector<double> ticks;
    const int n = static_cast<int>(std::lround((axis.high - axis.low) / axis.step));
    for (int i = 0; i <= n; ++i)
        ticks.push_back(axis.low + i * axis.step);
    return ticks;
}

std::string AxisLabel(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value == 0 ? 0.0 : value); // no "-0"
    return text;
}

int PointX(int index, const PlotArea &area)
{
    const int width = area.right - area.left;
    return area.left + static_cast<int>(static_cast<int64_t>(index) * (width - 1) / (kHistorySeconds - 1));
}

int ValueY(double value, const Axis &axis, const PlotArea &area)
{
    const int height = area.bottom - area.top;
    double f = (value - axis.low) / (axis.high - axis.low);
    f = f < 0 ? 0 : (f > 1 ? 1 : f);
    return area.bottom - 1 - static_cast<int>(std::lround(f * (height - 1)));
}

std::vector<TimeTick> TimeTicks(int64_t end_local_second)
{
    std::vector<TimeTick> ticks;
    const int64_t start = end_local_second - (kHistorySeconds - 1);
    for (int64_t s = FloorDivide(start + kTickSeconds - 1, kTickSeconds) * kTickSeconds; s <= end_local_second;
         s += kTickSeconds)
        ticks.push_back(TimeTick{static_cast<int>(s - start), FormatLocalClock(s).substr(0, 5)});
    return ticks;
}

std::string FollowTitle(uint32_t id)
{
    return "跟踪标签 " + Number(id);
}

std::string NotInTableText(uint32_t id)
{
    return "标签 " + Number(id) + " 已不在标签表中";
}

FollowTexts FormatFollowTexts(const FollowedTag &tag, const PlotSeries &series, const WallClock &clock)
{
    FollowTexts t;
    const TagHistory &h = tag.history;
    t.title = FollowTitle(tag.row.id);
    if (!tag.in_table) {
        t.state = NotInTableText(tag.row.id);
        return t;
    }
    const GridRowTexts row = FormatTagRow(tag.row);
    if (!tag.capturing)
        t.state = "串口已关闭";
    else
        t.state = row.offline ? "掉线" : "在线";
    t.first_seen = FormatLocalDateTime(LocalSecondsAt(clock, h.first_seen_ms));
    t.last_seen = FormatLocalDateTime(LocalSecondsAt(clock, h.last_seen_ms));
    t.last_second = Number(series.points[kHistorySeconds - 2].count);
    t.total = Number(static_cast<long long>(h.total_reports));
    t.under_voltage = std::string(h.under_voltage ? "欠压" : "正常") + "（自 " +
                      FormatLocalClock(LocalSecondsAt(clock, h.under_voltage_changed_ms)) + "）";
    t.extra = row.cells[3][0] != '\0' ? row.cells[3] : "无";
    t.current = row.offline ? "掉线" : row.cells[4];
    if (series.newest < 0) {
        t.newest = "无";
    } else {
        const PlotPoint &p = series.points[series.newest];
        const int64_t second = series.end_second - (kHistorySeconds - 1) + series.newest;
        t.newest = Number(p.signal) + " dB / " + Number(p.distance) + " cm（" +
                   FormatLocalClock(LocalSecondOf(clock, second)) + "）";
    }
    return t;
}

std::string TagHistoryCsv(const FollowedTag &tag, const PlotSeries &series, const WallClock &clock)
{
    std::string out = "\xEF\xBB\xBF";
    out.reserve(64 + kHistorySeconds * 48);
    out += u8"卡号,时间,报告次数,最强信号 dB,距离 cm,欠压,掉线\r\n";
    const std::string id = Number(tag.row.id);
    const int64_t first_second = SecondOfMs(tag.history.first_seen_ms);
    for (int i = 0; i < kHistorySeconds; ++i) {
        const int64_t second = series.end_second - (kHistorySeconds - 1) + i;
        if (second < first_second)
            continue;
        const PlotPoint &p = series.points[i];
        out += id;
        out += ',';
        AppendCsvField(out, FormatLocalDateTime(LocalSecondOf(clock, second)));
        out += ',' + Number(p.count) + ',';
        if (p.heard) {
            out += Number(p.signal) + ',' + Number(p.distance) + ',';
            out += p.under_voltage ? u8"欠压" : u8"正常";
        } else {
            out += ",,";
        }
        out += ',';
        out += p.offline ? u8"是" : "";
        out += "\r\n";
    }
    return out;
}
