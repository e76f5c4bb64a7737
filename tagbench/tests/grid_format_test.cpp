// Texts of the tag grid and the paging rule. The host build keeps literals
// in UTF-8, so the Chinese texts compare with UTF-8 literals here.
#include "tag_frames.h"
#include "tagbench/grid_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TagRowSnapshot Row(int32_t index, uint32_t id, uint8_t status, int32_t signal, int32_t distance, int32_t activity)
{
    TagRowSnapshot s;
    std::memset(&s, 0, sizeof s);
    s.index = index;
    s.id = id;
    s.status = status;
    s.signal = signal;
    s.distance = distance;
    s.activity = activity;
    return s;
}

TEST(TagGridFormat, ExtraBytesAreLowerCaseHexPairsWithoutTrailingSpace)
{
    TagRowSnapshot s = Row(12, 5, 0x60, -45, 131, 3);
    s.extra[0] = 0x01;
    s.extra[1] = 0xAB;
    s.extra[2] = 0xFF;
    s.extra[3] = 0x99; // beyond n = 3: not shown
    GridRowTexts t = FormatTagRow(s);
    EXPECT_STREQ(t.cells[3], "01 ab ff");
    EXPECT_STREQ(t.cells[2], "正常");
    EXPECT_STREQ(t.cells[0], "13");
    EXPECT_STREQ(t.cells[4], "-45 / 131");

    s.status = 0x01; // under-voltage, no extra data
    t = FormatTagRow(s);
    EXPECT_STREQ(t.cells[2], "欠压");
    EXPECT_STREQ(t.cells[3], "");

    s.status = 0xFF;
    for (int i = 0; i < 7; ++i) {
        s.extra[i] = static_cast<uint8_t>(0xF0 + i);
    }
    EXPECT_STREQ(FormatTagRow(s).cells[3], "f0 f1 f2 f3 f4 f5 f6");
}

TEST(TagGridFormat, OfflineRowKeepsEveryTextButTheSignalColumn)
{
    TagRowSnapshot s = Row(3, 77, 0x20, 12345, kOfflineDistance, 0);
    s.extra[0] = 0x0C;
    const GridRowTexts t = FormatTagRow(s);
    EXPECT_TRUE(t.offline);
    EXPECT_STREQ(t.cells[0], "4");
    EXPECT_STREQ(t.cells[1], "77");
    EXPECT_STREQ(t.cells[3], "0c");
    EXPECT_STREQ(t.cells[4], "");
    EXPECT_STREQ(t.cells[5], "0");
}

TEST(TagGridFormat, PagingStopsAtTheLastPageThatHoldsARecord)
{
    EXPECT_FALSE(CanShowNextPage(0, 0));
    EXPECT_FALSE(CanShowNextPage(0, 12));
    EXPECT_TRUE(CanShowNextPage(0, 13));
    EXPECT_FALSE(CanShowNextPage(1, 13));
    EXPECT_TRUE(CanShowNextPage(248, 3000));
    EXPECT_FALSE(CanShowNextPage(249, 3000)); // page 249 holds record 2999
    EXPECT_FALSE(CanShowPreviousPage(0));
    EXPECT_TRUE(CanShowPreviousPage(1));
}

} // namespace
