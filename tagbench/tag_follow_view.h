// What a follow window shows of one tag, worked out as numbers and texts so
// that it compiles and is tested on any host; the window itself (win32/)
// only draws what this hands it.
//
// The picture covers the 600 seconds that end at FollowedTag.picture_end_ms,
// one point a second: the strongest signal heard in that second and the
// distance the table's rule gives for it, the second drawn offline when the
// ageing found the tag offline then (and from there until its next report),
// and nothing for seconds without a report. Points are joined by a line
// unless the tag was offline between them. The signal axis fits the points
// heard, the distance axis runs from 0 to the farthest; both step in 1, 2, 5
// times a power of ten. The time axis is marked at every whole two minutes of
// local time.
//
// Times on screen and in files are local wall-clock time (local_time.h).
//
// Texts: narrow literals in the build's code page, as in grid_format.h (the
// window uses the ...A API); the CSV file is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tagbench/local_time.h"
#include "tagbench/tag_history.h"

struct PlotPoint {
    bool heard;          // at least one report in the second
    bool offline;        // the tag counted as offline in the second
    bool under_voltage;  // the second's last report had the flag
    int8_t signal;       // strongest of the second, dB (heard points)
    int32_t distance;    // cm, from signal (heard points)
    uint16_t count;      // reports in the second
};

struct PlotSeries {
    int64_t end_second; // history-clock second of points[kHistorySeconds - 1]
    int newest;         // index of the newest heard point, -1 for none
    PlotPoint points[kHistorySeconds];
};

void BuildPlotSeries(const TagHistory &history, int64_t picture_end_ms, PlotSeries *out);

// Index runs of offline points, first to last inclusive, oldest first.
struct IndexRun {
    int first;
    int last;
};
std::vector<IndexRun> OfflineRuns(const PlotSeries &series);
// The heard points as polylines: each a list of point indices, broken where
// the tag was offline between two heard points.
std::vector<std::vector<int>> SignalLines(const PlotSeries &series);

// A value axis: low and high are multiples of step.
struct Axis {
    double low;
    double high;
    double step;
};
// The smallest axis of steps 1, 2 or 5 times a power of ten (never below
// min_step) that holds low..high in at most max_intervals steps.
Axis NiceAxis(double low, double high, int max_intervals, double min_step);
Axis SignalAxis(const PlotSeries &series);   // dB, -90..-30 with no point heard
Axis DistanceAxis(const PlotSeries &series); // cm from 0, 0..100 with no point heard
// Tick values of an axis, low to high, and their labels ("%.0f").
std::vector<double> AxisTicks(const Axis &axis);
std::string AxisLabel(double value);

// Pixels of a plot panel: x from left to right - 1, y from top to bottom - 1.
struct PlotArea {
    int left;
    int top;
    int right;
    int bottom;
};
int PointX(int index, const PlotArea &area);
// low -> bottom - 1, high -> top; values outside are held to the edges.
int ValueY(double value, const Axis &axis, const PlotArea &area);

struct TimeTick {
    int index;         // point index of the tick
    std::string label; // "HH:MM"
};
// Marks at every whole two minutes of local time; end_local_second is the
// local time of the newest point.
std::vector<TimeTick> TimeTicks(int64_t end_local_second);

// The follow window's texts.
struct FollowTexts {
    std::string title;         // "跟踪标签 <id>"
    std::string state;         // 在线 / 掉线 / 串口已关闭, or not in the table
    std::string first_seen;    // YYYY-MM-DD HH:MM:SS
    std::string last_seen;
    std::string last_second;   // reports in the last whole second of the picture
    std::string total;         // reports since the tag entered the table
    std::string under_voltage; // "欠压（自 HH:MM:SS）" or "正常（自 HH:MM:SS）"
    std::string extra;         // the grid's hex pairs, "无" for none
    std::string current;       // the grid's dB / cm text, "掉线" when offline
    std::string newest;        // "<dB> dB / <cm> cm（HH:MM:SS）" of the newest point, "无" for none
};
std::string FollowTitle(uint32_t id);
// tag.in_table false: only the state changes ("标签 <id> 已不在标签表中");
// the caller keeps showing the texts it had.
FollowTexts FormatFollowTexts(const FollowedTag &tag, const PlotSeries &series, const WallClock &clock);
std::string NotInTableText(uint32_t id);

// The picture as a file: UTF-8 with a byte-order mark, CR LF, a header row
// 卡号,时间,报告次数,最强信号 dB,距离 cm,欠压,掉线 and one row per second
// from the tag's first report (or the picture's left edge) to its right edge.
// Seconds without a report leave signal, distance and 欠压 empty; 掉线 is
// 是 for offline seconds.
std::string TagHistoryCsv(const FollowedTag &tag, const PlotSeries &series, const WallClock &clock);
