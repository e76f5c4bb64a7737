// The saved traffic log's text (lines as the list shows them) and the
// counters beside it.
#include "modulebench/traffic_log.h"
#include "modulebench/traffic_log_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kBom = "\xEF\xBB\xBF";

TEST(TrafficLogFile, EntriesInOrderThenTheCounterLine)
{
    std::string received;
    std::string sent;
    const uint8_t rx[] = {0x01, 0xAB, 0xFF};
    const uint8_t tx[] = {0x0A};
    FormatLogLine('R', 9, 5, 7, rx, 3, received);
    FormatLogLine('S', 9, 5, 8, tx, 1, sent);

    const struct {
        std::vector<std::string> entries;
        std::string sent_count;
        std::string received_count;
        std::string file;
    } cases[] = {
        // An empty log: the counter line alone.
        {{}, "0", "0", kBom + "S : 0    R：0\r\n"},
        // Entries as the list holds them, CR LF included, are not doubled.
        {{received, sent},
         "1",
         "3",
         kBom + "[ R 09:05:07 ] 01 ab ff\r\n[ S 09:05:08 ] 0a\r\nS : 1    R：3\r\n"},
        // Entries without a line end, or with a bare LF, still end in CR LF.
        {{"first", "second\n", ""}, "12", "3400", kBom + "first\r\nsecond\r\n\r\nS : 12    R：3400\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TrafficLogFileText(c.entries, c.sent_count, c.received_count), c.file);
}

TEST(TrafficCounters, LabelText)
{
    char text[21];
    EXPECT_STREQ(FormatByteCount(0, text), "0");
    EXPECT_STREQ(FormatByteCount(1234, text), "1234");
    EXPECT_STREQ(FormatByteCount(UINT64_MAX, text), "18446744073709551615");
}

} // namespace
