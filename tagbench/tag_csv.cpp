#include "tagbench/tag_csv.h"

#include "tagbench/grid_format.h"

namespace {

// u8: UTF-8 in every build, unlike the narrow literals of the grid.
const char *const kColumnTitles[] = {u8"序号",     u8"卡号", u8"欠压",     u8"附加数据", u8"dB / cm",
                                     u8"活跃次数", u8"掉线", u8"首次出现", u8"最后出现"};
const char kOfflineMark[] = u8"是";

void AppendRow(std::string &out, const std::string *fields, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (i != 0)
            out.push_back(',');
        AppendCsvField(out, fields[i]);
    }
    out.append("\r\n");
}

} // namespace

void AppendCsvField(std::string &out, const std::string &field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (char c : field) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

std::string TagTableCsv(const std::vector<TagRowSnapshot> &rows, const std::vector<TagSeenTimes> &seen,
                        const WallClock &clock, std::string (*to_utf8)(const char *text))
{
    constexpr size_t kFields = kGridColumns + 3;
    static_assert(sizeof kColumnTitles / sizeof kColumnTitles[0] == kFields, "one title per field");

    std::string out = "\xEF\xBB\xBF";
    // About 80 bytes a row; one allocation for a full table.
    out.reserve(128 + rows.size() * 96);
    std::string fields[kFields];
    for (size_t i = 0; i < kFields; ++i)
        fields[i] = kColumnTitles[i];
    AppendRow(out, fields, kFields);

    for (size_t i = 0; i < rows.size(); ++i) {
        const GridRowTexts texts = FormatTagRow(rows[i]);
        for (int c = 0; c < kGridColumns; ++c)
            fields[c] = to_utf8(texts.cells[c]);
        fields[kGridColumns] = texts.offline ? kOfflineMark : "";
        fields[kGridColumns + 1].clear();
        fields[kGridColumns + 2].clear();
        if (i < seen.size()) {
            fields[kGridColumns + 1] = FormatLocalDateTime(LocalSecondsAt(clock, seen[i].first_ms));
            fields[kGridColumns + 2] = FormatLocalDateTime(LocalSecondsAt(clock, seen[i].last_ms));
        }
        AppendRow(out, fields, kFields);
    }
    return out;
}
