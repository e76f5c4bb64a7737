// Texts of the tag grid and the paging rule, kept apart from the dialog so
// that they compile and are tested on any host.
//
// A row is formatted from one TagRowSnapshot, which the dialog takes under
// TableLock; nothing here touches the table. The tag ID is shown unsigned:
// IDs above 0x7FFFFFFF are ordinary tags and sort after the others, so a
// negative number in the grid would contradict the table's own order.
// Literals are UTF-8 in the source; the Windows build turns them into GBK for
// the ...A API.
#pragma once

#include "tagbench/tag_table.h"

#include <cstdint>

constexpr int kGridRowsPerPage = 12;
constexpr int kGridColumns = 6;
constexpr int kGridCellTextSize = 64; // the painter draws at most 62 chars

struct GridRowTexts {
    bool offline; // distance 65535: all six cells red, column 4 empty
    char cells[kGridColumns][kGridCellTextSize];
};

// Six texts of one row: position from 1, ID ("%u"), "欠压"/"正常", the extra
// bytes as "%02x" pairs separated by single spaces, "signal / distance" (empty
// when offline), activity.
GridRowTexts FormatTagRow(const TagRowSnapshot &snapshot);

struct StatusTexts {
    const char *reader; // "已连接" or "未连接"
    char total[16];
    char offline[16];
};
StatusTexts FormatStatus(int32_t connected, int32_t total, int32_t offline);

// "下一页" moves on only while the next page holds a record; "上一页" only
// above page 0. An empty table has page 0 alone.
bool CanShowNextPage(int32_t page_index, int32_t tag_count);
bool CanShowPreviousPage(int32_t page_index);
