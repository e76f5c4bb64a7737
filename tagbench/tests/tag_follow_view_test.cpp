// The follow window's picture as numbers (axes, ticks, labels, pixel
// positions), its texts and file, local time, and the find box's input.
#include "tag_frames.h"
#include "tagbench/tag_find.h"
#include "tagbench/tag_follow_view.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// History clock 0 is 2024-02-29 12:00:00 local.
const WallClock kClock = {0, LocalSecondsFromCivil(2024, 2, 29, 12, 0, 0) * 1000};

TEST(LocalTime, CivilDatesAndClockPairing)
{
    const struct {
        int y, mo, d, h, mi, s;
        long long seconds;
        const char *text;
    } cases[] = {
        {1970, 1, 1, 0, 0, 0, 0, "1970-01-01 00:00:00"},
        {2000, 2, 29, 23, 59, 59, 951868799, "2000-02-29 23:59:59"},
        {2024, 3, 1, 0, 0, 0, 1709251200, "2024-03-01 00:00:00"},
        {2038, 1, 19, 3, 14, 8, 2147483648LL, "2038-01-19 03:14:08"},
        {1969, 12, 31, 23, 59, 59, -1, "1969-12-31 23:59:59"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(LocalSecondsFromCivil(c.y, c.mo, c.d, c.h, c.mi, c.s), c.seconds) << c.text;
        EXPECT_EQ(FormatLocalDateTime(c.seconds), c.text);
    }
    EXPECT_EQ(FormatLocalClock(LocalSecondsAt(kClock, 3723999)), "13:02:03");
    // Before the pairing moment, rounded down, not toward zero.
    EXPECT_EQ(FormatLocalDateTime(LocalSecondsAt(kClock, -1)), "2024-02-29 11:59:59");
}

TEST(FollowPlot, AxesStepInOneTwoFiveAndHoldTheirValues)
{
    const struct {
        double low, high;
        int intervals;
        double min_step;
        Axis axis;
    } cases[] = {
        {-61, -39, 6, 1, {-65, -35, 5}},
        {-90, -30, 6, 1, {-90, -30, 10}},
        {-51, -49, 6, 1, {-51, -49, 1}},
        {0, 208, 5, 1, {0, 250, 50}},
        {0, 1000, 5, 1, {0, 1000, 200}},
        {0, 275422, 5, 1, {0, 300000, 100000}},
        {0, 0.2, 5, 1, {0, 1, 1}},
        {-45, -45, 6, 1, {-45, -44, 1}},
        {-30, -90, 6, 1, {-90, -30, 10}},
    };
    for (const auto &c : cases) {
        const Axis a = NiceAxis(c.low, c.high, c.intervals, c.min_step);
        EXPECT_EQ(a.low, c.axis.low) << c.low << ".." << c.high;
        EXPECT_EQ(a.high, c.axis.high) << c.low << ".." << c.high;
        EXPECT_EQ(a.step, c.axis.step) << c.low << ".." << c.high;
        EXPECT_LE(a.low, std::min(c.low, c.high));
        EXPECT_GE(a.high, std::max(c.low, c.high));
    }
    const std::vector<double> ticks = AxisTicks(Axis{-65, -35, 5});
    EXPECT_EQ(ticks, (std::vector<double>{-65, -60, -55, -50, -45, -40, -35}));
    EXPECT_EQ(AxisLabel(-65), "-65");
    EXPECT_EQ(AxisLabel(250), "250");
    EXPECT_EQ(AxisLabel(-0.0), "0");
}

TEST(FollowPlot, PixelsOfPointsAndValues)
{
    const PlotArea area{50, 10, 650, 110}; // 600 x 100 pixels
    EXPECT_EQ(PointX(0, area), 50);
    EXPECT_EQ(PointX(kHistorySeconds - 1, area), 649);
    EXPECT_EQ(PointX(300, area), 50 + 300 * 599 / 599);
    const Axis axis{-90, -30, 10};
    EXPECT_EQ(ValueY(-90, axis, area), 109);
    EXPECT_EQ(ValueY(-30, axis, area), 10);
    EXPECT_EQ(ValueY(-60, axis, area), 109 - 50); // 0.5 * 99 = 49.5, rounded
    EXPECT_EQ(ValueY(-120, axis, area), 109);     // held to the edges
    EXPECT_EQ(ValueY(0, axis, area), 10);
}

TEST(FollowPlot, TimeTicksAtWholeTwoMinutesOfLocalTime)
{
    // Newest point at 12:03:04: the picture starts at 11:53:05.
    const int64_t end = LocalSecondsFromCivil(2024, 2, 29, 12, 3, 4);
    const std::vector<TimeTick> ticks = TimeTicks(end);
    ASSERT_EQ(ticks.size(), 5u);
    const char *labels[] = {"11:54", "11:56", "11:58", "12:00", "12:02"};
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(ticks[i].label, labels[i]);
        EXPECT_EQ(ticks[i].index, 55 + 120 * static_cast<int>(i));
    }
    // A tick exactly at either edge is kept.
    const std::vector<TimeTick> edge = TimeTicks(LocalSecondsFromCivil(2024, 2, 29, 12, 9, 59));
    EXPECT_EQ(edge.front().index, 0);
    EXPECT_EQ(edge.front().label, "12:00");
    EXPECT_EQ(edge.size(), 5u);
}

// A tag heard at seconds 100 (-50 dB, under-voltage), 101 (-40 dB twice)
// and 105 (-60 dB); the picture ends at 106.4 s.
FollowedTag ThreeSecondsOfATag()
{
    FollowedTag t;
    std::memset(&t, 0, sizeof t);
    t.in_table = true;
    t.capturing = true;
    t.row.id = 4000000000u;
    t.row.status = 0x40; // two extra bytes
    t.row.extra[0] = 0x12;
    t.row.extra[1] = 0xAB;
    t.row.signal = -40;
    t.row.distance = DistanceForSignal(-40);
    TagHistory &h = t.history;
    h.id = t.row.id;
    h.newest_second = 105;
    h.first_seen_ms = 100200;
    h.last_seen_ms = 105900;
    h.under_voltage_changed_ms = 101300;
    h.total_reports = 4;
    h.buckets[100] = HistoryBucket{-50, kBucketUnderVoltage, 1};
    h.buckets[101] = HistoryBucket{-40, 0, 2};
    h.buckets[105] = HistoryBucket{-60, 0, 1};
    t.now_ms = t.picture_end_ms = 106400;
    return t;
}

TEST(FollowPlot, SeriesAxesOfTheSeriesAndTexts)
{
    const FollowedTag t = ThreeSecondsOfATag();
    PlotSeries s;
    BuildPlotSeries(t.history, t.picture_end_ms, &s);
    EXPECT_EQ(s.end_second, 106);
    EXPECT_EQ(s.newest, kHistorySeconds - 2);
    const Axis signal = SignalAxis(s);
    EXPECT_EQ(signal.low, -65);
    EXPECT_EQ(signal.high, -35);
    const Axis distance = DistanceAxis(s);
    EXPECT_EQ(distance.low, 0);
    EXPECT_EQ(distance.high, 600); // -60 dB is 524 cm
    const std::vector<std::vector<int>> lines = SignalLines(s);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (std::vector<int>{kHistorySeconds - 7, kHistorySeconds - 6, kHistorySeconds - 2}));

    const FollowTexts x = FormatFollowTexts(t, s, kClock);
    EXPECT_EQ(x.title, "跟踪标签 4000000000");
    EXPECT_EQ(x.state, "在线");
    EXPECT_EQ(x.first_seen, "2024-02-29 12:01:40");
    EXPECT_EQ(x.last_seen, "2024-02-29 12:01:45");
    EXPECT_EQ(x.last_second, "1");
    EXPECT_EQ(x.total, "4");
    EXPECT_EQ(x.under_voltage, "正常（自 12:01:41）");
    EXPECT_EQ(x.extra, "12 ab");
    EXPECT_EQ(x.current, "-40 / 83");
    EXPECT_EQ(x.newest, "-60 dB / 524 cm（12:01:45）");

    FollowedTag closed = t;
    closed.capturing = false;
    closed.history.under_voltage = 1;
    closed.row.status = 0x01;
    closed.row.distance = kOfflineDistance;
    const FollowTexts y = FormatFollowTexts(closed, s, kClock);
    EXPECT_EQ(y.state, "串口已关闭");
    EXPECT_EQ(y.under_voltage, "欠压（自 12:01:41）");
    EXPECT_EQ(y.extra, "无");
    EXPECT_EQ(y.current, "掉线");
    closed.capturing = true;
    EXPECT_EQ(FormatFollowTexts(closed, s, kClock).state, "掉线");
    closed.in_table = false;
    EXPECT_EQ(FormatFollowTexts(closed, s, kClock).state, "标签 4000000000 已不在标签表中");
}

TEST(FollowPlot, EmptyPictureHasDefaultAxesAndNoNewestPoint)
{
    TagHistory h;
    std::memset(&h, 0, sizeof h);
    h.first_seen_ms = h.last_seen_ms = 50000;
    h.newest_second = 50;
    PlotSeries s;
    BuildPlotSeries(h, 52000, &s);
    EXPECT_EQ(s.newest, -1);
    EXPECT_EQ(SignalAxis(s).low, -90);
    EXPECT_EQ(SignalAxis(s).high, -30);
    EXPECT_EQ(DistanceAxis(s).high, 100);
    EXPECT_TRUE(SignalLines(s).empty());
    EXPECT_TRUE(OfflineRuns(s).empty());
}

TEST(FollowPlot, HistoryFileHasOneRowPerSecondFromTheFirstReport)
{
    FollowedTag t = ThreeSecondsOfATag();
    t.history.buckets[103].flags = kBucketOffline;
    PlotSeries s;
    BuildPlotSeries(t.history, t.picture_end_ms, &s);
    const std::string expected = "\xEF\xBB\xBF"
                                 "卡号,时间,报告次数,最强信号 dB,距离 cm,欠压,掉线\r\n"
                                 "4000000000,2024-02-29 12:01:40,1,-50,208,欠压,\r\n"
                                 "4000000000,2024-02-29 12:01:41,2,-40,83,正常,\r\n"
                                 "4000000000,2024-02-29 12:01:42,0,,,,\r\n"
                                 "4000000000,2024-02-29 12:01:43,0,,,,是\r\n"
                                 "4000000000,2024-02-29 12:01:44,0,,,,是\r\n"
                                 "4000000000,2024-02-29 12:01:45,1,-60,524,正常,\r\n"
                                 "4000000000,2024-02-29 12:01:46,0,,,,\r\n";
    EXPECT_EQ(TagHistoryCsv(t, s, kClock), expected);
}

TEST(FindInput, TakesTheGridsUnsignedDecimalOnly)
{
    const struct {
        const char *text;
        bool ok;
        uint32_t id;
    } cases[] = {
        {"0", true, 0},
        {"1000", true, 1000},
        {"  4294967295\t", true, 4294967295u},
        {"007", true, 7},
        {"4294967296", false, 0},
        {"99999999999999999999", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"-1", false, 0},
        {"+5", false, 0},
        {"12a", false, 0},
        {"0x10", false, 0},
        {"1 2", false, 0},
        {"abc", false, 0},
    };
    for (const auto &c : cases) {
        uint32_t id = 12345;
        EXPECT_EQ(ParseTagId(c.text, &id), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(id, c.ok ? c.id : 12345u) << c.text; // untouched when refused
    }
    EXPECT_EQ(TagNotFoundMessage(4294967295u), "未找到标签 4294967295");
    EXPECT_STREQ(kTagIdInputMessage, "请输入标签号（0 - 4294967295）");
}

TEST(FindInput, LocatesTheTagsPageInTheTable)
{
    ResetCoreState();
    for (uint32_t id = 1; id <= 30; ++id) {
        const Bytes f = MakeReport(false, id * 10, 0x00, -40);
        EnterFrame(f.data(), static_cast<uint32_t>(f.size()));
    }
    const struct {
        uint32_t id;
        bool found;
        int index, page;
    } cases[] = {{10, true, 0, 0}, {120, true, 11, 0}, {130, true, 12, 1}, {300, true, 29, 2}, {125, false, 0, 0},
                 {0, false, 0, 0},  {301, false, 0, 0}};
    for (const auto &c : cases) {
        TagLocation where{-1, -1};
        ASSERT_EQ(LocateTag(c.id, &where), c.found) << c.id;
        if (!c.found)
            continue;
        EXPECT_EQ(where.index, c.index) << c.id;
        EXPECT_EQ(where.page, c.page) << c.id;
    }
}

} // namespace
