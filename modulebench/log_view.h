// The log list's bookkeeping: how many lines it keeps, and where its view
// goes as lines arrive. Portable; the Win32 side carries the decisions out
// on the list box, on the GUI thread only.
//
// Bound. A bench left running overnight logs millions of lines; a list box
// that keeps them all grows without limit and slows down. The list keeps the
// newest kLogListKeepLines lines (traffic lines and notes alike) and lets
// the oldest go from the view once there are more. The byte counters are
// not touched: they go on counting every chunk. As soon as any line has gone
// the list shows a head line of its own at index 0 that says how many went
// ("[ - ] ..."), so the saved log, which is the list as shown, says it too.
// 清空窗口 empties everything, the head line and its count included.
//
// View. The list follows the newest line as a terminal does: when the
// newest line was in view before a change, the list is scrolled so that it
// still is afterwards. A user who scrolled up to read stays on the lines he
// reads: new lines below do not move him, and when old lines above are let
// go his top line is kept at the top (its index falls by the lines that
// went, and rises by one when the head line first appears). When the line
// he read has itself gone, the view goes to the top, where the head line
// says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Lines the log list keeps, head line not counted.
constexpr size_t kLogListKeepLines = 100000;

class LogListBound {
public:
    explicit LogListBound(size_t keep) : keep_(keep) {}

    // added lines were appended at the end of the list. Returns how many of
    // the oldest lines must now go.
    size_t Add(size_t added);
    // The list was emptied.
    void Clear();

    // Lines let go since the last clear.
    uint64_t let_go() const { return let_go_; }
    // The head line is shown (index 0) once any line was let go.
    bool has_head() const { return let_go_ != 0; }
    // Index of the oldest line the list still shows.
    size_t first_line_index() const { return has_head() ? 1 : 0; }
    // Lines the list shows, head line not counted.
    size_t lines() const { return lines_; }
    // Times the list was emptied: a line's number (let_go + position) is
    // only meaningful between two clears.
    uint64_t clears() const { return clears_; }

private:
    size_t keep_;
    size_t lines_ = 0;
    uint64_t let_go_ = 0;
    uint64_t clears_ = 0;
};

// The head line for count lines let go, CR LF included (code page of the
// build: GBK in the program).
std::string FormatLetGoLine(uint64_t count);

// Whether the newest of count lines shows in a list whose top line is top
// and that shows page whole lines. An empty list counts as following.
bool NewestInView(size_t top, size_t count, size_t page);

// One change of the list: lines appended, the oldest let go, the head line
// shown (or shown anew).
struct LogListChange {
    size_t top_before;   // the list's top index before the change
    size_t count_before; // its count before
    bool head_before;    // a head line showed before
    size_t let_go;       // oldest lines deleted by this change
    size_t count_after;  // the count afterwards (head line included)
    bool head_after;     // a head line shows afterwards
    size_t page;         // whole lines the list shows (at least 1)
};

// The top index the list should have after the change.
size_t TopAfterChange(const LogListChange &change);

// One batch of lines added to the log list, the lines let go past the bound
// and the view put where it belongs. List is the list box as the caller
// reaches it, with:
//   size_t Count(), Top(), Page()        the list as it stands
//   void Append(const std::string &)     a line at the end
//   void Delete(size_t index)            removes one line
//   void Insert(size_t index, const std::string &)
//   void SetTop(size_t index)            scrolls; clamped by the list
template <class List> class LogListBatch {
public:
    LogListBatch(List &list, LogListBound &bound)
        : list_(list), bound_(bound), top_(list.Top()), count_(list.Count()), page_(list.Page()),
          head_(bound.has_head())
    {
    }

    void Add(const std::string &line)
    {
        list_.Append(line);
        ++added_;
    }

    size_t added() const { return added_; }

    void Finish()
    {
        if (added_ == 0)
            return;
        const size_t going = bound_.Add(added_);
        added_ = 0;
        if (going != 0) {
            // The head line goes with the oldest lines and comes back with
            // the new count, since a list box cannot change a line's text in
            // place.
            const size_t deletions = going + (head_ ? 1 : 0);
            for (size_t i = 0; i < deletions; ++i)
                list_.Delete(0);
            list_.Insert(0, FormatLetGoLine(bound_.let_go()));
        }
        list_.SetTop(
            TopAfterChange(LogListChange{top_, count_, head_, going, list_.Count(), bound_.has_head(), page_}));
    }

private:
    List &list_;
    LogListBound &bound_;
    const size_t top_;
    const size_t count_;
    const size_t page_;
    const bool head_;
    size_t added_ = 0;
};
