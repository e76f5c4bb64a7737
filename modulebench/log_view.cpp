#include "modulebench/log_view.h"

#include <cstdio>

size_t LogListBound::Add(size_t added)
{
    lines_ += added;
    if (lines_ <= keep_)
        return 0;
    const size_t going = lines_ - keep_;
    lines_ = keep_;
    let_go_ += going;
    return going;
}

void LogListBound::Clear()
{
    lines_ = 0;
    let_go_ = 0;
    ++clears_;
}

std::string FormatLetGoLine(uint64_t count)
{
    char line[128];
    const int length = std::snprintf(line, sizeof line, "[ - ] 较早的 %llu 行已移出列表（计数器仍计入）\r\n",
                                     static_cast<unsigned long long>(count));
    return std::string(line, length > 0 && static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length)
                                                                                      : 0);
}

bool NewestInView(size_t top, size_t count, size_t page)
{
    return count <= page || top + page >= count;
}

size_t TopAfterChange(const LogListChange &c)
{
    const size_t page = c.page == 0 ? 1 : c.page;
    if (NewestInView(c.top_before, c.count_before, page))
        return c.count_after > page ? c.count_after - page : 0;
    // The user reads older lines: keep the line at his top where it is.
    const size_t first_before = c.head_before ? 1 : 0;
    if (c.top_before < first_before)
        return 0; // the head line stays first
    const size_t position = c.top_before - first_before;
    if (position < c.let_go)
        return 0; // his line is gone; the head line says so
    return (c.head_after ? 1 : 0) + position - c.let_go;
}
