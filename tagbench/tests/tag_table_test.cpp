// Tag table: entering reports, ageing, distance, and a randomised comparison
// with a small independent model of what the table should hold.
#include "tag_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>

namespace {

class TagTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        CaptureEnabled.store(1);
    }
    static void Enter(const Bytes &f) { EnterFrame(f.data(), static_cast<uint32_t>(f.size())); }
    static void Report(uint32_t id, int8_t signal, uint8_t status = 0x00, const uint8_t *extra = nullptr)
    {
        Enter(MakeReport(id % 2 == 0, id, status, signal, extra));
    }
    static int32_t SignalOf(int index)
    {
        return SnapshotTag(index).signal;
    }
};

TEST_F(TagTableTest, ExampleFramesThroughTheQueueLeaveOneRecord)
{
    Feed(ExampleFrameFF());
    Feed(ExampleFrame55AA());
    EXPECT_EQ(ProcessQueuedFrames(), 2u);
    ASSERT_EQ(TagCount.load(), 1);
    const TagRecord &r = TagTable[0];
    EXPECT_EQ(r.id, 1000u);
    EXPECT_EQ(r.status, 0x41);
    EXPECT_EQ(r.samples[0], -50);
    EXPECT_EQ(r.samples[1], -50);
    EXPECT_EQ(r.next_sample, 2);
    EXPECT_EQ(r.filling, 1);
    EXPECT_EQ(r.extra[0], 0x12);
    EXPECT_EQ(r.extra[1], 0x34);
    EXPECT_EQ(r.activity, 2);
    EXPECT_EQ(r.countdown, 10);
    EXPECT_EQ(ReaderConnected.load(), 1);

    const TagRowSnapshot s = SnapshotTag(0);
    EXPECT_EQ(s.index, 0);
    EXPECT_EQ(s.signal, -50);
    EXPECT_EQ(s.distance, 208);
    EXPECT_EQ(s.activity, 2);
}

TEST_F(TagTableTest, RecordsAreOrderedByUnsignedId)
{
    for (uint32_t id : {5u, 3u, 0x80000000u, 4u, 0xFFFFFFFFu, 0u, 0x7FFFFFFFu}) {
        Report(id, -40);
    }
    const uint32_t expected[] = {0u, 3u, 4u, 5u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
    ASSERT_EQ(TagCount.load(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(TagTable[i].id, expected[i]) << "position " << i;
        EXPECT_EQ(TagTable[i].activity, 1);
    }
    // A repeat report updates in place rather than inserting again.
    Report(0x80000000u, -41);
    EXPECT_EQ(TagCount.load(), 7);
    EXPECT_EQ(TagTable[5].activity, 2);
}

TEST_F(TagTableTest, SignalIsTheStrongestOfTheLastThreeReports)
{
    const int8_t reports[] = {-50, -40, -45, -60, -70};
    const int32_t expected[] = {-50, -40, -40, -40, -45};
    for (int i = 0; i < 5; ++i) {
        Report(42, reports[i]);
        EXPECT_EQ(SignalOf(0), expected[i]) << "after report " << i + 1;
    }
    EXPECT_EQ(TagTable[0].filling, 0);
    EXPECT_EQ(TagTable[0].next_sample, 2);
}

TEST_F(TagTableTest, StatusFourteenRefreshesTheReaderButEntersNothing)
{
    Enter(MakeReport(false, 9, 14, -30));
    EXPECT_EQ(ReaderConnected.load(), 1);
    EXPECT_EQ(TagCount.load(), 0);

    Report(9, -30);
    const TagRecord before = TagTable[0];
    Enter(MakeReport(true, 9, 14, -10));
    EXPECT_EQ(std::memcmp(&TagTable[0], &before, sizeof before), 0);
}

TEST_F(TagTableTest, WrongCrcChangesNothingAtAll)
{
    Report(7, -40);
    {
        std::lock_guard<std::mutex> lock(TableLock);
        ReaderConnected.store(0);
        ConnectedCountdown = 3;
    }
    static TagRecord before[kMaxTags];
    std::memcpy(before, TagTable, sizeof before);

    Enter(MakeReport(false, 7, 0x41, -20, nullptr, true));
    Enter(MakeReport(true, 8, 0x00, -20, nullptr, true));
    // A frame whose length disagrees with its status byte is no frame either.
    Bytes short_frame = MakeReport(false, 8, 0x20, -20);
    Enter(Bytes(short_frame.begin(), short_frame.end() - 1));

    EXPECT_EQ(std::memcmp(before, TagTable, sizeof before), 0);
    EXPECT_EQ(TagCount.load(), 1);
    EXPECT_EQ(ReaderConnected.load(), 0);
    EXPECT_EQ(ConnectedCountdown, 3);
}

TEST_F(TagTableTest, TableFullIgnoresNewIdsButKeepsRefreshingKnownOnes)
{
    for (uint32_t i = 0; i < kMaxTags; ++i) {
        Report(i * 3, -40);
    }
    ASSERT_EQ(TagCount.load(), kMaxTags);
    Report(1, -40); // would sort near the front
    Report(0xFFFFFFF0u, -40);
    EXPECT_EQ(TagCount.load(), kMaxTags);
    EXPECT_EQ(TagTable[1].id, 3u);
    EXPECT_EQ(TagTable[kMaxTags - 1].id, 3u * (kMaxTags - 1));

    Report(3, -20);
    EXPECT_EQ(TagTable[1].activity, 2);
    EXPECT_EQ(SignalOf(1), -20);
}

TEST_F(TagTableTest, ExtraBytesBeyondTheReportedCountKeepOlderValues)
{
    const uint8_t seven[] = {1, 2, 3, 4, 5, 6, 7};
    Report(11, -40, 0xE0, seven);
    const uint8_t two[] = {0xAA, 0xBB};
    Report(11, -40, 0x41, two);
    const uint8_t expected[] = {0xAA, 0xBB, 3, 4, 5, 6, 7};
    EXPECT_EQ(std::memcmp(TagTable[0].extra, expected, 7), 0);
    EXPECT_EQ(TagTable[0].status, 0x41);

    // A new tag inserted in front does not inherit its neighbour's bytes.
    Report(10, -40, 0x20, two);
    const uint8_t fresh[] = {0xAA, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(TagTable[0].extra, fresh, 7), 0);
}

TEST_F(TagTableTest, SilentTagGoesOfflineOnTheTenthTickAndIsCountedOnTheEleventh)
{
    Report(1, -45);
    Report(2, -45);
    for (int tick = 1; tick <= 9; ++tick) {
        AgeTagTable();
        Report(2, -45); // tag 2 keeps talking
        EXPECT_NE(SnapshotTag(0).distance, kOfflineDistance) << "tick " << tick;
    }
    AgeTagTable(); // tenth
    EXPECT_EQ(SnapshotTag(0).distance, kOfflineDistance);
    EXPECT_EQ(OfflineCount.load(), 0);
    EXPECT_EQ(TagTable[0].activity, 1);

    AgeTagTable(); // eleventh
    EXPECT_EQ(OfflineCount.load(), 1);
    EXPECT_EQ(TagTable[0].activity, 0);
    EXPECT_EQ(SnapshotTag(0).activity, 0);
    EXPECT_EQ(SnapshotTag(1).distance, 131); // tag 2 at -45 dB, still online

    // Back: the window restarts from the new sample.
    Report(1, -60);
    EXPECT_EQ(SignalOf(0), -60);
    EXPECT_EQ(TagTable[0].activity, 1);
    AgeTagTable();
    EXPECT_EQ(OfflineCount.load(), 0);
}

TEST_F(TagTableTest, ReportBetweenTenthAndEleventhTickKeepsTheWindow)
{
    Report(1, -30);
    for (int tick = 0; tick < 10; ++tick) {
        AgeTagTable();
    }
    ASSERT_EQ(SnapshotTag(0).distance, kOfflineDistance);
    Report(1, -70);
    EXPECT_EQ(SignalOf(0), -30);
    EXPECT_EQ(TagTable[0].activity, 2);
    AgeTagTable();
    EXPECT_EQ(OfflineCount.load(), 0);
}

TEST_F(TagTableTest, ReaderIndicatorClearsOnTheTenthTickWithoutValidFrames)
{
    EXPECT_EQ(ReaderConnected.load(), 0);
    Enter(MakeReport(false, 5, 0x00, -40, nullptr, true));
    EXPECT_EQ(ReaderConnected.load(), 0); // a damaged frame is no sign of life

    Report(5, -40);
    for (int tick = 1; tick <= 9; ++tick) {
        AgeTagTable();
        EXPECT_EQ(ReaderConnected.load(), 1) << "tick " << tick;
    }
    Enter(MakeReport(false, 5, 14, -40)); // status 14 counts as life too
    for (int tick = 1; tick <= 9; ++tick) {
        AgeTagTable();
    }
    EXPECT_EQ(ReaderConnected.load(), 1);
    AgeTagTable();
    EXPECT_EQ(ReaderConnected.load(), 0);
    EXPECT_EQ(ConnectedCountdown, 0);

    AgeTagTable(); // stays cleared, the countdown does not go negative
    EXPECT_EQ(ConnectedCountdown, 0);

    Report(5, -40);
    ClearReaderConnected();
    EXPECT_EQ(ReaderConnected.load(), 0);
}

TEST_F(TagTableTest, DistanceAtItsBranchEdges)
{
    for (int m = -22; m <= 127; ++m) {
        EXPECT_EQ(DistanceForSignal(m), 0) << m;
    }
    EXPECT_EQ(DistanceForSignal(-20), 0);
    EXPECT_EQ(DistanceForSignal(-23), 4);
    EXPECT_EQ(DistanceForSignal(-32), 40);
    EXPECT_EQ(DistanceForSignal(-33), 43);
    EXPECT_EQ(DistanceForSignal(-42), 100);
    EXPECT_EQ(DistanceForSignal(-45), 131);
    EXPECT_EQ(DistanceForSignal(-50), 208);
    EXPECT_EQ(DistanceForSignal(-60), 524);
    EXPECT_EQ(DistanceForSignal(-67), 1000);
    EXPECT_EQ(DistanceForSignal(-92), 10000);
    int32_t previous = 0;
    for (int m = -23; m >= -128; --m) {
        const int32_t d = DistanceForSignal(m);
        EXPECT_GE(d, previous) << m;
        EXPECT_NE(d, kOfflineDistance) << m;
        previous = d;
    }
}

TEST_F(TagTableTest, EstimateUsesOnlyTheFilledPartOfTheWindow)
{
    Report(3, -60);
    {
        std::lock_guard<std::mutex> lock(TableLock);
        // Stale bytes in the unused positions must not count.
        TagTable[0].samples[1] = 10;
        TagTable[0].samples[2] = 10;
        int32_t signal = 0;
        EXPECT_EQ(EstimateDistance(0, &signal), 524);
        EXPECT_EQ(signal, -60);
        TagTable[0].next_sample = 0; // as after a counted-offline tick
        TagTable[0].countdown = 5;
        EXPECT_EQ(EstimateDistance(0, &signal), 524);
        EXPECT_EQ(signal, -60);
    }
}

// ---- Randomised comparison with an independent model ----------------------

struct ModelTag {
    uint8_t status = 0;
    std::deque<int8_t> window; // last three samples since the window restarted
    uint8_t extra[7] = {};
    int32_t activity = 0;
    int32_t countdown = 0;
};

struct Model {
    std::map<uint32_t, ModelTag> tags;
    int32_t connected = 0;
    int32_t connected_countdown = 10;
    int32_t offline = 0;

    void Report(uint32_t id, uint8_t status, int8_t signal, const uint8_t *extra, bool crc_ok)
    {
        if (!crc_ok) {
            return;
        }
        connected = 1;
        connected_countdown = 10;
        if (status == 14) {
            return;
        }
        auto it = tags.find(id);
        if (it == tags.end()) {
            if (tags.size() >= static_cast<size_t>(kMaxTags)) {
                return;
            }
            it = tags.emplace(id, ModelTag{}).first;
        }
        ModelTag &t = it->second;
        t.status = status;
        t.window.push_back(signal);
        if (t.window.size() > 3) {
            t.window.pop_front();
        }
        std::copy(extra, extra + (status >> 5), t.extra);
        ++t.activity;
        t.countdown = 10;
    }

    void Age()
    {
        offline = 0;
        for (auto &entry : tags) {
            ModelTag &t = entry.second;
            if (t.countdown == 0) {
                t.activity = 0;
                t.window.clear();
                ++offline;
            } else {
                --t.countdown;
            }
        }
        if (connected != 0 && connected_countdown != 0 && --connected_countdown == 0) {
            connected = 0;
        }
    }
};

void ExpectTableMatches(const Model &model, int step)
{
    ASSERT_EQ(TagCount.load(), static_cast<int32_t>(model.tags.size())) << "step " << step;
    ASSERT_EQ(ReaderConnected.load(), model.connected) << "step " << step;
    ASSERT_EQ(OfflineCount.load(), model.offline) << "step " << step;
    int i = 0;
    for (const auto &entry : model.tags) {
        const ModelTag &t = entry.second;
        const TagRowSnapshot s = SnapshotTag(i);
        ASSERT_EQ(s.id, entry.first) << "step " << step << " row " << i;
        ASSERT_EQ(s.status, t.status);
        ASSERT_EQ(std::memcmp(s.extra, t.extra, 7), 0);
        ASSERT_EQ(s.activity, t.activity);
        if (t.countdown == 0) {
            ASSERT_EQ(s.distance, kOfflineDistance);
        } else {
            const int32_t strongest = *std::max_element(t.window.begin(), t.window.end());
            ASSERT_EQ(s.signal, strongest) << "step " << step << " row " << i;
            ASSERT_EQ(s.distance, DistanceForSignal(strongest));
        }
        ++i;
    }
}

TEST_F(TagTableTest, RandomReportsAndTicksMatchAReferenceModel)
{
    std::mt19937 rng(7);
    Model model;
    std::vector<uint32_t> pool;
    for (int i = 0; i < 60; ++i) {
        pool.push_back(rng());
    }
    pool.push_back(0);
    pool.push_back(0xFFFFFFFFu);
    pool.push_back(0x80000000u);

    for (int step = 0; step < 20000; ++step) {
        if (rng() % 40 == 0) {
            AgeTagTable();
            model.Age();
        } else {
            const uint32_t id = pool[rng() % pool.size()];
            uint8_t status = static_cast<uint8_t>(rng());
            if (rng() % 30 == 0) {
                status = 14;
            }
            const int8_t signal = static_cast<int8_t>(rng());
            uint8_t extra[7];
            for (uint8_t &b : extra) {
                b = static_cast<uint8_t>(rng());
            }
            const bool crc_ok = rng() % 10 != 0;
            Bytes f = MakeReport(rng() % 2 == 0, id, status, signal, extra, !crc_ok, static_cast<uint8_t>(rng()));
            Feed(f);
            ProcessQueuedFrames();
            model.Report(id, status, signal, extra, crc_ok);
        }
        if (step % 97 == 0) {
            ExpectTableMatches(model, step);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    ExpectTableMatches(model, -1);
}

} // namespace
