// The exported tag table: quoting, file framing and the rows of a table
// filled through the real frame path. The host build keeps literals in
// UTF-8, so the grid's texts need no conversion here.
#include "tag_frames.h"
#include "tagbench/tag_csv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kHeader = "序号,卡号,欠压,附加数据,dB / cm,活跃次数,掉线,首次出现,最后出现\r\n";
// History clock 0 is 2024-02-29 23:58:20 local; the tests' clock starts at
// 100 s, 2024-02-29 23:60:00, that is 2024-03-01 00:00:00.
const WallClock kClock = {0, LocalSecondsFromCivil(2024, 2, 29, 23, 58, 20) * 1000};

std::string Same(const char *text)
{
    return text;
}

std::string CsvOfTable()
{
    std::vector<TagRowSnapshot> rows;
    std::vector<TagSeenTimes> seen;
    SnapshotTagTable(rows, &seen);
    return TagTableCsv(rows, seen, kClock, Same);
}

TEST(TagCsv, FieldsAreQuotedOnlyWhenTheyMustBe)
{
    const struct {
        std::string field;
        std::string written;
    } cases[] = {
        {"", ""},
        {"-50 / 208", "-50 / 208"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"cr\r", "\"cr\r\""},
        {",\",", "\",\"\",\""},
    };
    for (const auto &c : cases) {
        std::string out = "x,";
        AppendCsvField(out, c.field);
        EXPECT_EQ(out, "x," + c.written) << c.field;
    }
}

TEST(TagCsv, RowsWithoutReportTimesLeaveThemEmpty)
{
    std::vector<TagRowSnapshot> rows(2);
    rows[0].id = 1;
    rows[1].id = 2;
    rows[1].index = 1;
    const std::vector<TagSeenTimes> seen = {{100000, 101000}};
    EXPECT_EQ(TagTableCsv(rows, seen, kClock, Same),
              kBom + kHeader + "1,1,正常,,0 / 0,0,,2024-03-01 00:00:00,2024-03-01 00:00:01\r\n2,2,正常,,0 / 0,0,,,\r\n");
}

TEST(TagCsv, EmptyTableGivesTheMarkAndTheHeaderAlone)
{
    ResetCoreState();
    EXPECT_EQ(CsvOfTable(), kBom + kHeader);
}

TEST(TagCsv, WholeTableInIdOrderWithOfflineRowsMarked)
{
    ResetCoreState();
    CaptureEnabled.store(1);
    // Tag 3 reports first (one second before midnight) and goes silent; the
    // others report five ticks later, so at the tenth tick tag 3 alone is
    // offline.
    AdvanceTestClock(-1000);
    Feed(MakeReport(false, 3, 0x00, -42));
    ProcessQueuedFrames();
    for (int tick = 0; tick < 5; ++tick) {
        AdvanceTestClock(1000);
        AgeTagTable();
    }
    const uint8_t extra[] = {0x01, 0xAB, 0xFF};
    Feed(MakeReport(true, 5, 0x60, -32, extra));
    Feed(ExampleFrameFF());
    ProcessQueuedFrames();
    AdvanceTestClock(1000);
    Feed(ExampleFrame55AA());
    // Twelve more, so the table spans two grid pages.
    for (uint32_t id = 2000; id < 2012; ++id)
        Feed(MakeReport(false, id, 0x01, -20));
    ProcessQueuedFrames();
    for (int tick = 0; tick < 5; ++tick)
        AgeTagTable();

    std::string expected = kBom + kHeader;
    expected += "1,3,正常,,,1,是,2024-02-29 23:59:59,2024-02-29 23:59:59\r\n";
    expected += "2,5,正常,01 ab ff,-32 / 40,1,,2024-03-01 00:00:04,2024-03-01 00:00:04\r\n";
    expected += "3,1000,欠压,12 34,-50 / 208,2,,2024-03-01 00:00:04,2024-03-01 00:00:05\r\n";
    for (int i = 0; i < 12; ++i)
        expected += std::to_string(4 + i) + "," + std::to_string(2000 + i) +
                    ",欠压,,-20 / 0,1,,2024-03-01 00:00:05,2024-03-01 00:00:05\r\n";
    EXPECT_EQ(CsvOfTable(), expected);
}

} // namespace
