// Tag table: entering reports, ageing and distance at their edges. The
// table against a model of the rules, over any stream, is the fuzz target's
// (fuzz/fuzz_tag_table.cpp).
#include "tag_frames.h"

#include <gtest/gtest.h>


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

} // namespace
