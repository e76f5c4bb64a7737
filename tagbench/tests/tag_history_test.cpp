// The tags' histories, filled through the real report path with the tests'
// clock: what a second keeps, the ten-minute bound, offline marks, the
// times and counters, the right edge of the picture, and a reset. That a
// history stays with its tag while records move is the threaded tests'.
#include "tag_frames.h"
#include "tagbench/tag_follow_view.h"

#include <gtest/gtest.h>


namespace {

class TagHistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        CaptureEnabled.store(1);
    }
    static void Report(uint32_t id, int8_t signal, uint8_t status = 0x00)
    {
        const Bytes f = MakeReport(id % 2 == 0, id, status, signal);
        EnterFrame(f.data(), static_cast<uint32_t>(f.size()));
    }
    static FollowedTag Follow(uint32_t id)
    {
        FollowedTag t;
        EXPECT_TRUE(SnapshotFollowedTag(id, &t)) << id;
        return t;
    }
    static PlotSeries Series(uint32_t id)
    {
        const FollowedTag t = Follow(id);
        PlotSeries s;
        BuildPlotSeries(t.history, t.picture_end_ms, &s);
        return s;
    }
    // The point of the picture ending now that shows `seconds_ago`.
    static const PlotPoint &Ago(const PlotSeries &s, int seconds_ago)
    {
        return s.points[kHistorySeconds - 1 - seconds_ago];
    }
};

TEST_F(TagHistoryTest, EachSecondKeepsItsStrongestSignalCountAndLastUnderVoltage)
{
    // Second 100: three reports, the last one under-voltage; second 101:
    // none; second 102: one.
    Report(7, -60);
    AdvanceTestClock(300);
    Report(7, -41);
    AdvanceTestClock(699);
    Report(7, -50, 0x01);
    AdvanceTestClock(1001);
    Report(7, -70);

    const PlotSeries s = Series(7);
    struct {
        int ago;
        bool heard;
        int signal;
        int distance;
        int count;
        bool under_voltage;
    } const expected[] = {
        {2, true, -41, DistanceForSignal(-41), 3, true},
        {1, false, 0, 0, 0, false},
        {0, true, -70, DistanceForSignal(-70), 1, false},
    };
    for (const auto &e : expected) {
        const PlotPoint &p = Ago(s, e.ago);
        EXPECT_EQ(p.heard, e.heard) << e.ago;
        EXPECT_EQ(p.signal, e.signal) << e.ago;
        EXPECT_EQ(p.distance, e.distance) << e.ago;
        EXPECT_EQ(p.count, e.count) << e.ago;
        EXPECT_EQ(p.under_voltage, e.under_voltage) << e.ago;
        EXPECT_FALSE(p.offline) << e.ago;
    }
    EXPECT_FALSE(Ago(s, 3).heard); // before the tag was first seen
    EXPECT_EQ(s.newest, kHistorySeconds - 1);
}

TEST_F(TagHistoryTest, ASecondsCountStopsAtItsLimit)
{
    const Bytes f = MakeReport(false, 8, 0x00, -40);
    for (int i = 0; i < UINT16_MAX + 5; ++i)
        EnterFrame(f.data(), static_cast<uint32_t>(f.size()));
    EXPECT_EQ(Ago(Series(8), 0).count, UINT16_MAX);
    EXPECT_EQ(Follow(8).history.total_reports, UINT16_MAX + 5u);
}

// A clock that moves a second each time it is read.
int64_t RunningClockMs()
{
    AdvanceTestClock(1000);
    return TestClockMs();
}

TEST_F(TagHistoryTest, ALongWakeUpOfTheTableThreadKeepsReadingTheClock)
{
    Bytes burst;
    for (int i = 0; i < 200; ++i) {
        const Bytes f = MakeReport(false, 6, 0x00, -40);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    Feed(burst);
    SetHistoryClock(RunningClockMs);
    ASSERT_EQ(ProcessQueuedFrames(), 200u);
    SetHistoryClock(TestClockMs);
    // Stamped as they were entered, not all with the wake-up's start.
    const FollowedTag t = Follow(6);
    EXPECT_GT(t.history.last_seen_ms, t.history.first_seen_ms);
    EXPECT_LT(Ago(Series(6), 0).count, 200);
}

TEST_F(TagHistoryTest, KeepsTheLastTenMinutesAndNothingOlder)
{
    // One report a second for 700 s, the signal walking through -30..-88,
    // so that a second and the one ten minutes later differ.
    for (int t = 0; t < 700; ++t) {
        Report(9, static_cast<int8_t>(-30 - t % 59));
        AdvanceTestClock(1000);
    }
    AdvanceTestClock(-1000); // the picture ends at the last report
    PlotSeries s = Series(9);
    for (int i = 0; i < kHistorySeconds; ++i) {
        const int t = 100 + i; // seconds 0..99 have gone
        ASSERT_EQ(s.points[i].count, 1) << i;
        ASSERT_EQ(s.points[i].signal, -30 - t % 59) << i;
    }
    EXPECT_EQ(Follow(9).history.total_reports, 700u);

    // Thirty silent seconds, then a report: the buckets the silence passed
    // over held seconds of ten minutes ago, and hold nothing now.
    AdvanceTestClock(31000);
    Report(9, -44);
    s = Series(9);
    EXPECT_TRUE(Ago(s, 0).heard);
    for (int ago = 1; ago <= 30; ++ago)
        ASSERT_FALSE(Ago(s, ago).heard) << ago;
    EXPECT_TRUE(Ago(s, 31).heard);

    // Twenty silent minutes, then one report: nothing older survives.
    AdvanceTestClock(20 * 60 * 1000);
    Report(9, -44);
    s = Series(9);
    for (int i = 0; i < kHistorySeconds - 1; ++i)
        ASSERT_FALSE(s.points[i].heard) << i;
    EXPECT_EQ(Ago(s, 0).signal, -44);
}

TEST_F(TagHistoryTest, OfflineComesFromTheAgeingNotFromSilentSeconds)
{
    // A tag that reports every third second is never offline...
    for (int t = 0; t < 30; ++t) {
        if (t % 3 == 0)
            Report(4, -40);
        AdvanceTestClock(1000);
        AgeTagTable();
    }
    // ...until it falls silent: the tenth tick without a report finds it
    // offline, and it stays so until it reports again.
    for (int tick = 1; tick <= 14; ++tick) {
        AdvanceTestClock(1000);
        AgeTagTable();
    }
    AdvanceTestClock(500);
    Report(4, -45);
    AdvanceTestClock(1000);
    Report(4, -46);

    const PlotSeries s = Series(4);
    // The clock starts at second 100: the last report of the first phase
    // comes at second 127, its tenth tick at 137, the new report at 144.5.
    std::vector<int> offline_seconds;
    for (int i = 0; i < kHistorySeconds; ++i)
        if (s.points[i].offline)
            offline_seconds.push_back(static_cast<int>(s.end_second) - (kHistorySeconds - 1) + i);
    EXPECT_EQ(offline_seconds, (std::vector<int>{137, 138, 139, 140, 141, 142, 143, 144}));
    const std::vector<IndexRun> runs = OfflineRuns(s);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].last - runs[0].first, 7);

    // Lines: the reports before the gap are one line, the two after another.
    const std::vector<std::vector<int>> lines = SignalLines(s);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 10u);
    EXPECT_EQ(lines[1].size(), 2u);
    EXPECT_FALSE(Ago(s, 0).offline);
    EXPECT_TRUE(Ago(s, 1).heard);
}

TEST_F(TagHistoryTest, SeenTimesTotalsAndTheUnderVoltageChange)
{
    Report(11, -40, 0x00);
    AdvanceTestClock(2500);
    Report(11, -40, 0x00); // no change: the first report's time stays
    FollowedTag t = Follow(11);
    EXPECT_EQ(t.history.first_seen_ms, 100000);
    EXPECT_EQ(t.history.last_seen_ms, 102500);
    EXPECT_EQ(t.history.under_voltage_changed_ms, 100000);
    EXPECT_EQ(t.history.under_voltage, 0);

    AdvanceTestClock(1000);
    Report(11, -40, 0x01);
    AdvanceTestClock(1000);
    Report(11, -40, 0x21);
    t = Follow(11);
    EXPECT_EQ(t.history.under_voltage, 1);
    EXPECT_EQ(t.history.under_voltage_changed_ms, 103500);
    EXPECT_EQ(t.history.total_reports, 4u);
    EXPECT_EQ(t.history.last_seen_ms, 104500);
    // The ageing's restart of activity does not touch the total.
    for (int tick = 0; tick < 12; ++tick)
        AgeTagTable();
    EXPECT_EQ(Follow(11).row.activity, 0);
    EXPECT_EQ(Follow(11).history.total_reports, 4u);
}

TEST_F(TagHistoryTest, AClosedPortFreezesThePictureWhereTheDataEnds)
{
    Report(21, -40);
    AdvanceTestClock(3000);
    AgeTagTable();
    AdvanceTestClock(4000);
    EXPECT_EQ(Follow(21).picture_end_ms, TestClockMs()); // capturing: now

    StopCapture();
    AdvanceTestClock(60000);
    FollowedTag t = Follow(21);
    EXPECT_FALSE(t.capturing);
    EXPECT_EQ(t.picture_end_ms, 103000); // the last tick
    // A report still queued when the port closed lies beyond the last tick.
    Report(21, -40);
    EXPECT_EQ(Follow(21).picture_end_ms, 167000);
}

TEST_F(TagHistoryTest, AResetEmptiesTheTableAndANewTagStartsAfresh)
{
    Report(30, -40);
    Report(31, -40);
    AdvanceTestClock(5000);
    ResetTagBench(nullptr);
    // No worker threads here: serve the ring reset it requested, as they would.
    AssembleAvailableBytes();
    ProcessQueuedFrames();
    ASSERT_FALSE(RingResetPending());
    FollowedTag t;
    EXPECT_FALSE(SnapshotFollowedTag(30, &t));
    EXPECT_FALSE(t.in_table);

    Report(31, -55); // now in slot 0, which held tag 30
    t = Follow(31);
    EXPECT_EQ(t.history.total_reports, 1u);
    EXPECT_EQ(t.history.first_seen_ms, 105000);
    PlotSeries s;
    BuildPlotSeries(t.history, t.picture_end_ms, &s);
    int heard = 0;
    for (const PlotPoint &p : s.points)
        heard += p.heard ? 1 : 0;
    EXPECT_EQ(heard, 1);
}

} // namespace
