// The harness itself: every pair it was given is a working cable in both
// directions, and Wine's own COM1 can be taken out of the way.
#include "tools/driver/com_test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(ComPairs, EnvironmentNamesThePairs)
{
    const auto pairs = ComPairsFromEnvironment();
    ASSERT_EQ(3u, pairs.size());
    EXPECT_EQ(4u, pairs[0].first);
    EXPECT_EQ(14u, pairs[0].second);
    EXPECT_EQ(256u, pairs[1].first);
    EXPECT_EQ(1u, pairs[1].second);
    EXPECT_EQ(999u, pairs[2].first);
    EXPECT_EQ(300u, pairs[2].second);
    EXPECT_EQ(14u, ComPeerOf(4));
    EXPECT_EQ(256u, ComPeerOf(1));
    EXPECT_EQ(999u, ComPeerOf(300));
    EXPECT_EQ(0u, ComPeerOf(5));
}

TEST(ComPairs, EveryPairCarriesBytesBothWays)
{
    for (const auto &p : ComPairsFromEnvironment()) {
        SCOPED_TRACE(p.first);
        TestComPort a(p.first), b(p.second);
        ASSERT_TRUE(a.IsOpen());
        ASSERT_TRUE(b.IsOpen());
        std::vector<uint8_t> there(3000), back(77);
        for (size_t i = 0; i < there.size(); ++i)
            there[i] = static_cast<uint8_t>(i * 13);
        for (size_t i = 0; i < back.size(); ++i)
            back[i] = static_cast<uint8_t>(0xFF - i);
        ASSERT_TRUE(a.Write(there));
        EXPECT_EQ(there, b.Read(static_cast<uint32_t>(there.size()), 5000));
        ASSERT_TRUE(b.Write(back));
        EXPECT_EQ(back, a.Read(static_cast<uint32_t>(back.size()), 5000));
        // Nothing more than was sent.
        EXPECT_TRUE(a.ReadUntilQuiet(100, 200).empty());
        EXPECT_TRUE(b.ReadUntilQuiet(100, 200).empty());
    }
}

TEST(ComPairs, ReadGivesUpAtItsTimeLimit)
{
    TestComPort a(4);
    ASSERT_TRUE(a.IsOpen());
    const DWORD t0 = GetTickCount();
    EXPECT_TRUE(a.Read(10, 300).empty());
    const DWORD took = GetTickCount() - t0;
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 3000u);
}

TEST(ComPairs, OnlyThePairsRemainAfterRemovingForeignPorts)
{
    // Here COM1 is one of ours (pair 256:1), so it must survive.
    RemoveForeignComPorts();
    for (uint32_t n = 1; n <= 999; ++n) {
        const bool ours = n == 1 || n == 4 || n == 14 || n == 256 || n == 300 || n == 999;
        EXPECT_EQ(ours, ComPortOpens(n)) << n;
    }
}

} // namespace
