// The log list's bound and view, on a list that behaves as a list box does:
// lines by index, a top index clamped so that the last page stays full.
#include "modulebench/log_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct FakeList {
    std::vector<std::string> lines;
    size_t top = 0;
    size_t page = 4;

    size_t Count() const { return lines.size(); }
    size_t Top() const { return top; }
    size_t Page() const { return page; }
    void Append(const std::string &line) { lines.push_back(line); }
    void Delete(size_t index) { lines.erase(lines.begin() + static_cast<long>(index)); }
    void Insert(size_t index, const std::string &line) { lines.insert(lines.begin() + static_cast<long>(index), line); }
    void SetTop(size_t index) { top = std::min(index, lines.size() > page ? lines.size() - page : size_t{0}); }
    const std::string &TopLine() const { return lines[top]; }
    bool NewestShows() const { return NewestInView(top, lines.size(), page); }
};

std::string Line(int n)
{
    return "[ R 00:00:00 ] " + std::to_string(n) + "\r\n";
}

TEST(LogListBound, TheProgramsListKeepsAHundredThousandLines)
{
    LogListBound bound(kLogListKeepLines);
    EXPECT_EQ(0u, bound.Add(99999));
    EXPECT_EQ(0u, bound.Add(1));
    EXPECT_EQ(1u, bound.Add(1));
}

class LogListTest : public ::testing::Test {
protected:
    // Adds count numbered lines in one batch.
    void AddLines(int count)
    {
        LogListBatch<FakeList> batch(list, bound);
        for (int i = 0; i < count; ++i)
            batch.Add(Line(next++));
        batch.Finish();
    }

    FakeList list;
    LogListBound bound{10};
    int next = 0;
};

TEST_F(LogListTest, KeepsTheNewestLinesBehindAHeadThatCountsTheOthers)
{
    for (int batch : {3, 1, 6, 1, 7, 2, 12, 0, 30}) {
        AddLines(batch);
        SCOPED_TRACE(next);
        const int let_go = next > 10 ? next - 10 : 0;
        EXPECT_EQ(static_cast<uint64_t>(let_go), bound.let_go());
        std::vector<std::string> expected;
        if (let_go > 0)
            expected.push_back(FormatLetGoLine(static_cast<uint64_t>(let_go)));
        for (int n = let_go; n < next; ++n)
            expected.push_back(Line(n));
        EXPECT_EQ(expected, list.lines);
        EXPECT_TRUE(list.NewestShows());
    }
    EXPECT_EQ("[ - ] 较早的 52 行已移出列表（计数器仍计入）\r\n", list.lines[0]);

    // Cleared, the list starts again without a head line.
    list.lines.clear();
    list.top = 0;
    bound.Clear();
    AddLines(2);
    EXPECT_EQ((std::vector<std::string>{Line(62), Line(63)}), list.lines);
    EXPECT_EQ(0u, bound.let_go());
}

TEST_F(LogListTest, AReaderWhoScrolledUpKeepsHisLinesUntilTheyGo)
{
    AddLines(8);
    EXPECT_EQ(4u, list.top);
    list.SetTop(2); // the user scrolls up to line 2
    AddLines(1);
    EXPECT_EQ(Line(2), list.TopLine()) << "new lines below do not move him";
    AddLines(3); // 12 lines: 0 and 1 go, the head line appears above
    ASSERT_EQ(FormatLetGoLine(2), list.lines[0]);
    EXPECT_EQ(Line(2), list.TopLine()) << "lines let go above do not move him";
    AddLines(1); // line 2 goes too: the view goes to the head line
    EXPECT_EQ(0u, list.top);
    AddLines(1);
    EXPECT_EQ(0u, list.top) << "the head line stays first";

    // Back at the bottom, the list follows again.
    list.SetTop(list.Count());
    AddLines(5);
    EXPECT_TRUE(list.NewestShows());
    EXPECT_EQ(Line(next - 1), list.lines.back());
}

} // namespace
