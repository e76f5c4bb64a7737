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

TEST_F(TagTableTest, ReaderIndicatorClearsOnTheTenthTickWithoutValidFrames)
{
    Enter(MakeReport(false, 5, 0x00, -40, nullptr, true));
    EXPECT_EQ(ReaderConnected.load(), 0); // a damaged frame is no sign of life
    Enter(MakeReport(false, 5, 14, -40)); // status 14 is
    for (int tick = 1; tick <= 9; ++tick) {
        AgeTagTable();
        ASSERT_EQ(ReaderConnected.load(), 1) << "tick " << tick;
    }
    AgeTagTable();
    EXPECT_EQ(ReaderConnected.load(), 0);
    Report(5, -40);
    ClearReaderConnected();
    EXPECT_EQ(ReaderConnected.load(), 0);
}

// The model below takes distances from DistanceForSignal itself; here the
// steps at their edges, and the curve never falls as the signal weakens.
TEST_F(TagTableTest, DistanceAtItsBranchEdges)
{
    const int32_t cases[][2] = {{127, 0},   {-22, 0},   {-23, 4},    {-32, 40},    {-33, 43},  {-42, 100},
                                {-45, 131}, {-50, 208}, {-60, 524},  {-67, 1000},  {-92, 10000}};
    for (const auto &c : cases)
        EXPECT_EQ(DistanceForSignal(c[0]), c[1]) << c[0];
    int32_t previous = 0;
    for (int m = 127; m >= -128; --m) {
        const int32_t d = DistanceForSignal(m);
        EXPECT_GE(d, previous) << m;
        EXPECT_NE(d, kOfflineDistance) << m;
        previous = d;
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
            // Now and then a silence long enough for tags and the reader to
            // drop out.
            const int ticks = rng() % 8 == 0 ? 12 : 1;
            for (int k = 0; k < ticks; ++k) {
                AgeTagTable();
                model.Age();
            }
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
