// Finding lines in the log list: the query's two kinds, matching, the search
// with its wrap, and the found line held by number while the list trims its
// oldest lines (on the list bookkeeping the program itself uses).
#include "modulebench/log_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modulebench/log_view.h"

namespace {

TEST(LogQuery, HexPairsAreBytesEverythingElseIsText)
{
    struct Case {
        const char *typed;
        bool bytes;
        const char *text;
    };
    const Case cases[] = {
        {"ff ff ff ff 00", true, " ff ff ff ff 00 "},
        {"FFFFFFFF00", true, " ff ff ff ff 00 "},
        {"  Ab\t 0C12 ", true, " ab 0c 12 "},
        {"abc", false, "abc"},
        {"a b", false, "a b"},
        {"ff f", false, "ff f"},
        {"12:00", false, "12:00"},
        {"  R  12 ", false, "r 12"},
        {"串口  COM5", false, "串口 com5"},
        {"   ", false, ""},
        {"", false, ""},
    };
    for (const Case &c : cases) {
        const LogQuery q = MakeLogQuery(c.typed, std::char_traits<char>::length(c.typed));
        EXPECT_EQ(c.bytes, q.bytes) << c.typed;
        EXPECT_EQ(c.text, q.text) << c.typed;
    }
}

TEST(LogQuery, MatchesLinesAsTheListShowsThem)
{
    struct Case {
        const char *typed;
        const char *line;
        bool matches;
    };
    const Case cases[] = {
        {"ff ff ff ff 00", "[ R 12:00:01 ] ff ff ff ff 00 00 01 5a 3c\r\n", true},
        {"ffffffff00", "[ R 12:00:01.042 ] ff ff ff ff 00\r\n", true},
        {"FF 00 00", "[ R 12:00:01 ] ff ff ff ff 00 00 01\r\n", true},
        {"ff ff", "[ R 12:00:01 ] 1f ff f0\r\n", false},   // not across bytes
        {"12", "[ R 12:00:01 ] 00 01\r\n", false},         // the hour is no byte
        {"12", "[ R 12:00:01 ] 00 12\r\n", true},
        {"01 5A", "[ S 09:05:07 ] 01 5a\r\n", true},
        {"5a 01", "[ S 09:05:07 ] 01 5a\r\n", false},
        {"s 09:05", "[ S 09:05:07 ] 01\r\n", true},
        {"r 09:05", "[ S 09:05:07 ] 01\r\n", false},
        {"07 ] 01", "[ S 09:05:07 ]   01\r\n", true},      // blank runs fold
        {"未找到", "[ ! 09:05:07 ] 串口 COM5 未找到\r\n", true},
        {"com5", "[ ! 09:05:07 ] 串口 COM5\r\n", true},
        {"较早的", "[ - ] 较早的 5 行已移出列表（计数器仍计入）\r\n", true},
        {"abc", "", false},
    };
    for (const Case &c : cases) {
        const LogQuery q = MakeLogQuery(c.typed, std::char_traits<char>::length(c.typed));
        EXPECT_EQ(c.matches, LogLineMatches(q, c.line, std::char_traits<char>::length(c.line)))
            << c.typed << " in " << c.line;
    }
}

TEST(LogQuery, NeverFoldsOrMatchesInsideADoubleByteCharacter)
{
    // GBK 0xC4 0x41 and 0xB0 0x61 are characters whose second bytes are
    // 'A' and 'a'.
    const std::string line = std::string("[ ! 00:00:00 ] x") + "\xC4\x41" + "\xB0\x61" + "y\r\n";
    for (const char *typed : {"a", "A", "ay"}) {
        const LogQuery q = MakeLogQuery(typed, std::char_traits<char>::length(typed));
        EXPECT_FALSE(LogLineMatches(q, line.data(), line.size())) << typed;
    }
    const std::string whole = "\xC4\x41\xB0\x61y";
    EXPECT_TRUE(LogLineMatches(MakeLogQuery(whole.data(), whole.size()), line.data(), line.size()));
}

struct Lines {
    std::vector<std::string> lines;
    size_t Count() const { return lines.size(); }
    std::string Line(size_t i) const { return lines[i]; }
};

TEST(FindLogLine, GoesOnFromTheLastFindAndWrapsRoundEitherEnd)
{
    const Lines log{{"[ R ] 01\r\n", "[ R ] aa\r\n", "[ S ] 02\r\n", "[ R ] aa 01\r\n", "[ S ] 03\r\n"}};
    const LogQuery aa = MakeLogQuery("aa", 2);
    struct Case {
        size_t from;
        bool forward;
        size_t found;
        bool wrapped;
    };
    const Case cases[] = {
        {kNoLogLine, true, 1, false}, {kNoLogLine, false, 3, false}, {1, true, 3, false},
        {3, true, 1, true},           {4, true, 1, true},            {3, false, 1, false},
        {1, false, 3, true},          {0, false, 3, true},           {99, true, 1, false},
    };
    for (const Case &c : cases) {
        bool wrapped = !c.wrapped;
        EXPECT_EQ(c.found, FindLogLine(log, aa, c.from, c.forward, &wrapped)) << c.from << c.forward;
        EXPECT_EQ(c.wrapped, wrapped) << c.from << c.forward;
    }
    // The only match is the line found last: found again, round the end.
    const LogQuery three = MakeLogQuery("03", 2);
    bool wrapped = false;
    EXPECT_EQ(4u, FindLogLine(log, three, 4, true, &wrapped));
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(4u, FindLogLine(log, three, 4, false, &wrapped));
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(kNoLogLine, FindLogLine(log, MakeLogQuery("77", 2), 2, true, &wrapped));
    EXPECT_FALSE(wrapped);
    EXPECT_EQ(kNoLogLine, FindLogLine(Lines{}, aa, kNoLogLine, true, &wrapped));
}

// The log list as the program keeps it: LogListBatch on a list of strings.
class MarkTest : public ::testing::Test {
protected:
    struct List {
        std::vector<std::string> lines;
        size_t Count() const { return lines.size(); }
        size_t Top() const { return 0; }
        size_t Page() const { return 4; }
        void Append(const std::string &l) { lines.push_back(l); }
        void Delete(size_t i) { lines.erase(lines.begin() + static_cast<long>(i)); }
        void Insert(size_t i, const std::string &l) { lines.insert(lines.begin() + static_cast<long>(i), l); }
        void SetTop(size_t) {}
        std::string Line(size_t i) const { return lines[i]; }
    };

    void Add(int count)
    {
        LogListBatch<List> batch(list, bound);
        for (int i = 0; i < count; ++i)
            batch.Add("[ R ] " + std::to_string(next++) + "\r\n");
        batch.Finish();
    }
    LogListState State() const { return {bound.clears(), bound.let_go(), bound.has_head()}; }
    size_t IndexOf(int n) const
    {
        return static_cast<size_t>(std::find(list.lines.begin(), list.lines.end(),
                                             "[ R ] " + std::to_string(n) + "\r\n") -
                                   list.lines.begin());
    }

    List list;
    LogListBound bound{10};
    LogLineMark mark;
    int next = 0;
};

TEST_F(MarkTest, TheFoundLineIsFollowedAcrossTrimsUntilItIsLetGo)
{
    Add(8);
    size_t index = 0;
    EXPECT_EQ(LogLineMark::Where::None, mark.Locate(State(), &index));
    EXPECT_EQ(kNoLogLine, mark.Current(State()));
    mark.Set(IndexOf(5), State());
    // Batches that let go nothing, then the first trim (the head line comes),
    // then further ones (the head line stays).
    for (int batch : {1, 1, 3, 1}) {
        Add(batch);
        ASSERT_EQ(LogLineMark::Where::Shown, mark.Locate(State(), &index)) << next;
        EXPECT_EQ("[ R ] 5\r\n", list.lines[index]) << next;
        EXPECT_EQ(index, mark.Current(State()));
    }
    // Found again after trims, marked there, followed on.
    bool wrapped = false;
    const size_t found = FindLogLine(list, MakeLogQuery("r ] 9", 5), mark.Current(State()), true, &wrapped);
    ASSERT_EQ(IndexOf(9), found);
    mark.Set(found, State());
    Add(5);
    ASSERT_EQ(LogLineMark::Where::Shown, mark.Locate(State(), &index));
    EXPECT_EQ(1u, index); // the oldest kept, below the head line
    EXPECT_EQ("[ R ] 9\r\n", list.lines[index]);
    Add(1);
    EXPECT_EQ(LogLineMark::Where::LetGo, mark.Locate(State(), &index));
    EXPECT_EQ(kNoLogLine, mark.Current(State()));
}

TEST_F(MarkTest, AClearLeavesNoLineFoundAndTheHeadLineStaysFirst)
{
    Add(15);
    ASSERT_TRUE(bound.has_head());
    mark.Set(0, State());
    Add(30);
    size_t index = 7;
    ASSERT_EQ(LogLineMark::Where::Shown, mark.Locate(State(), &index));
    EXPECT_EQ(0u, index);

    mark.Set(IndexOf(40), State());
    list.lines.clear();
    bound.Clear();
    Add(45); // as many lines as before: only the clear tells them apart
    EXPECT_EQ(LogLineMark::Where::Cleared, mark.Locate(State(), &index));
    mark.Forget();
    EXPECT_EQ(LogLineMark::Where::None, mark.Locate(State(), &index));
}

} // namespace
