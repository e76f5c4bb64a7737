#include "tagbench/win32/export_table_win32.h"

#include <string>
#include <vector>

#include "shell/win32/save_file_win32.h"
#include "shell/win32/shell_resources.h"
#include "tagbench/tag_csv.h"
#include "tagbench/tag_table.h"
#include "tagbench/win32/wall_clock_win32.h"

namespace {

// The grid's literals are compiled to GBK (code page 936), whatever code
// page the system runs with, so they are converted from 936 itself. Most
// cells are digits, which read the same in both.
std::string GridTextToUtf8(const char *text)
{
    for (const char *c = text; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80)
            return CodePageToUtf8(936, text);
    return text;
}

std::string TableCsv()
{
    std::vector<TagRowSnapshot> rows;
    std::vector<TagSeenTimes> seen;
    SnapshotTagTable(rows, &seen);
    return TagTableCsv(rows, seen, CurrentWallClock(), GridTextToUtf8);
}

} // namespace

void ExportTagTableCommand(HWND main_window)
{
    const SaveRequest request = {L"tarnwick", L"csv", IDS_SAVE_FILTER};
    SaveThroughDialog(main_window, request, TableCsv);
}
