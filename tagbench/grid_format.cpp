// Row and status texts of the tag grid.
#include "tagbench/grid_format.h"

#include <cstdio>
#include <cstring>

GridRowTexts FormatTagRow(const TagRowSnapshot &snapshot)
{
    GridRowTexts t;
    std::memset(&t, 0, sizeof t);
    t.offline = snapshot.distance == kOfflineDistance;

    std::snprintf(t.cells[0], sizeof t.cells[0], "%d", snapshot.index + 1);
    std::snprintf(t.cells[1], sizeof t.cells[1], "%u", static_cast<unsigned>(snapshot.id));
    std::snprintf(t.cells[2], sizeof t.cells[2], "%s", (snapshot.status & 0x01) != 0 ? "欠压" : "正常");

    const unsigned n = snapshot.status >> 5;
    char *out = t.cells[3];
    for (unsigned i = 0; i < n; ++i) {
        // Three characters per byte; the first has no leading space, which is
        // the same text as "%02x " each with the last space removed.
        std::snprintf(out, 4, i == 0 ? "%02x" : " %02x", snapshot.extra[i]);
        out += i == 0 ? 2 : 3;
    }

    if (!t.offline) {
        std::snprintf(t.cells[4], sizeof t.cells[4], "%d / %d", snapshot.signal, snapshot.distance);
    }
    std::snprintf(t.cells[5], sizeof t.cells[5], "%d", snapshot.activity);
    return t;
}

StatusTexts FormatStatus(int32_t connected, int32_t total, int32_t offline)
{
    StatusTexts t;
    t.reader = connected != 0 ? "已连接" : "未连接";
    std::snprintf(t.total, sizeof t.total, "%d", total);
    std::snprintf(t.offline, sizeof t.offline, "%d", offline);
    return t;
}

bool CanShowNextPage(int32_t page_index, int32_t tag_count)
{
    return static_cast<int64_t>(kGridRowsPerPage) * (static_cast<int64_t>(page_index) + 1) < tag_count;
}

bool CanShowPreviousPage(int32_t page_index)
{
    return page_index > 0;
}
