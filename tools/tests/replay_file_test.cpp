// Reading recordings and saved logs back as chunks: both file forms, the
// spacing they carry, and lines that cannot be read.
#include "tools/common/replay_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::ReplayChunk;
using sim::ReplayReader;

struct Expected {
    double at_s;
    std::vector<uint8_t> bytes;
    size_t line;
};

// Feeds the lines as a file holds them (CR LF ends) and checks the chunks
// that become ready; returns the reader for its counts and problems.
ReplayReader ExpectChunks(const std::vector<std::string> &lines, const std::vector<Expected> &expected)
{
    ReplayReader reader;
    std::vector<ReplayChunk> chunks(1);
    for (const std::string &line : lines) {
        reader.Feed(line + "\r");
        while (reader.Next(&chunks.back()))
            chunks.emplace_back();
    }
    reader.Finish();
    while (reader.Next(&chunks.back()))
        chunks.emplace_back();
    chunks.pop_back();
    EXPECT_EQ(expected.size(), chunks.size());
    for (size_t i = 0; i < expected.size() && i < chunks.size(); ++i) {
        EXPECT_NEAR(expected[i].at_s, chunks[i].at_s, 1e-9) << i;
        EXPECT_EQ(expected[i].bytes, chunks[i].bytes) << i;
        EXPECT_EQ(expected[i].line, chunks[i].line) << i;
    }
    return reader;
}

std::vector<size_t> ProblemLines(const ReplayReader &reader)
{
    std::vector<size_t> lines;
    for (const auto &p : reader.problems())
        lines.push_back(p.line);
    return lines;
}

TEST(ReplayFile, ARecordingKeepsItsMillisecondsAcrossMidnight)
{
    const ReplayReader read = ExpectChunks({
        "\xEF\xBB\xBF[ = 2026-12-07 ]",
        "[ ! 23:59:59.870 ] 开始记录 D:\\night.log",
        "[ R 23:59:59.912 ] ff ff ff ff 00 12 34 5e 21",
        "[ S 23:59:59.950 ] 0a",
        "[ = 2026-12-08 ]",
        "[ R 00:00:01.913 ] 02 AB",
        "[ R 00:00:01.913 ] 03",
        "[ = 2026-12-10 ]",
        "[ R 00:00:00.000 ] 04",
        "[ ! 00:00:00.100 ] 停止记录",
    },
        {{0, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x12, 0x34, 0x5E, 0x21}, 3},
         {2.001, {0x02, 0xAB}, 6},
         {2.001, {0x03}, 7},
         {2 * 86400 + 0.088, {0x04}, 9}});
    EXPECT_TRUE(ProblemLines(read).empty());
    EXPECT_EQ(3u, read.counts().date_lines);
    EXPECT_EQ(2u, read.counts().notes);
    EXPECT_EQ(1u, read.counts().sent_lines);
    EXPECT_EQ(4u, read.counts().chunks);
    EXPECT_EQ(13u, read.counts().bytes);
}

// A saved log in whole seconds: the lines of a second spread over it (to
// the millisecond), the day taken to change where the time falls back by
// more than half a day.
TEST(ReplayFile, ASavedLogSpreadsEachSecondsLinesEvenly)
{
    const ReplayReader read = ExpectChunks({
        "\xEF\xBB\xBF[ - ] 较早的 5 行已移出列表（计数器仍计入）",
        "[ R 23:59:58 ] 01",
        "[ S 23:59:58 ] 0a",
        "[ R 23:59:58 ] 02",
        "[ R 23:59:58 ] 03",
        "[ R 23:59:59.500 ] 04",
        "[ R 00:00:00 ] 05",
        "[ R 00:00:00 ] 06",
        "[ R 00:00:02 ] 07",
        "",
        "S : 1    R：7",
    },
        {{0, {1}, 2},
         {0.333, {2}, 4},
         {0.666, {3}, 5},
         {1.5, {4}, 6},
         {2.0, {5}, 7},
         {2.5, {6}, 8},
         {4.0, {7}, 9}});
    EXPECT_TRUE(ProblemLines(read).empty());
    EXPECT_EQ(1u, read.counts().let_go_lines);
    EXPECT_EQ(1u, read.counts().counter_lines);
    EXPECT_EQ(1u, read.counts().blank_lines);
}

// A line that does not read is reported by number and skipped; the lines
// around it are kept, and a time that steps back is no gap at all.
TEST(ReplayFile, UnreadableLinesAreReportedAndSkipped)
{
    const ReplayReader read = ExpectChunks({
        "[ R 10:00:00.500 ] 01",
        "[ R 24:00:00.000 ] 02",
        "[ R 10:00:00.600 ] 1",
        "[ R 10:00:00.600 ] 0g",
        "[ R 10:00:00.600 ] ab  cd",
        "[ R 10:00:00.600 ] ab ",
        "[ R 10:00:00.600 ] abc",
        "[ R 10:00:00.600 ]",
        "[ R 10:00:00.60 ] 03",
        "[ R 10:00:00.600 ]03",
        "hello",
        "[ = 2026-13-01 ]",
        "[ R 10:00:00.400 ] 04",
        "[ R 10:00:01.000 ] 05 06",
    },
        {{0, {1}, 1}, {0, {4}, 13}, {0.5, {5, 6}, 14}});
    EXPECT_EQ((std::vector<size_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), ProblemLines(read));
    EXPECT_EQ(11u, read.counts().unreadable);
}

// Recorded times divided by the speed, each pass after the last chunk of
// the one before and one recorded second more.
TEST(ReplayFile, ClockDividesRecordedTimeBySpeedPassAfterPass)
{
    const struct {
        double speed;
        double last_at_s; // of the first pass
        double due_first[2];  // chunks at 0 and 3 s, first pass
        double due_second[2]; // the same in the second pass
    } cases[] = {
        {1, 3, {10, 13}, {14, 17}},
        {4, 3, {10, 10.75}, {11, 11.75}},
        {0.5, 3, {10, 16}, {18, 24}},
    };
    for (const auto &c : cases) {
        sim::ReplayClock clock(10, c.speed);
        EXPECT_DOUBLE_EQ(c.due_first[0], clock.Due(0)) << c.speed;
        EXPECT_DOUBLE_EQ(c.due_first[1], clock.Due(3)) << c.speed;
        clock.NextPass(c.last_at_s);
        EXPECT_DOUBLE_EQ(c.due_second[0], clock.Due(0)) << c.speed;
        EXPECT_DOUBLE_EQ(c.due_second[1], clock.Due(3)) << c.speed;
    }
}

} // namespace
