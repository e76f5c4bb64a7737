#include "modulebench/batch_journal.h"

#include <cstdio>

const char kJournalHeader[] = u8"时间,ID号,发送周期,电量测量周期,结果";
const char kJournalConfigured[] = u8"已配置";

namespace {

const char kBom[] = "\xEF\xBB\xBF";
const char kStopWord[] = u8"停止";

// The ID cell of a row: 1..1000000 written as plain decimal.
bool ParseIdCell(const std::string &text, uint32_t *id)
{
    if (text.empty() || text.size() > 7)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > 1000000)
        return false;
    *id = value;
    return true;
}

} // namespace

std::string FormatJournalStamp(const JournalStamp &t)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    return text;
}

std::string JournalCell(const std::string &text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string FormatJournalRow(const JournalStamp &time, const JournalRow &row)
{
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, ",%u,%d,%d,", static_cast<unsigned>(row.id), static_cast<int>(row.send_period),
                  static_cast<int>(row.battery_period));
    return FormatJournalStamp(time) + numbers + JournalCell(row.result) + "\r\n";
}

std::string NotSentResult(const std::string &reason)
{
    return std::string(u8"未能发出：") + reason;
}

std::string FormatJournalStop(const JournalStamp &time, const std::string &summary)
{
    return std::string(kStopWord) + " " + FormatJournalStamp(time) + ",,,," + JournalCell(summary) + "\r\n";
}

bool NextCsvRecord(const std::string &bytes, size_t *pos, std::vector<std::string> *cells)
{
    cells->clear();
    size_t i = *pos;
    if (i >= bytes.size())
        return false;
    std::string cell;
    bool quoted = false;
    for (; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c != '"') {
                cell += c;
            } else if (i + 1 < bytes.size() && bytes[i + 1] == '"') {
                cell += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells->push_back(cell);
            cell.clear();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            ++i;
            break;
        } else {
            cell += c;
        }
    }
    cells->push_back(cell);
    *pos = i;
    return true;
}

std::string JournalDisplayText(const std::string &time_cell, const std::string &id_cell,
                               const std::string &result_cell)
{
    // The time of day is enough on screen; the file keeps the date.
    const size_t space = time_cell.find(' ');
    const std::string clock = space == std::string::npos ? time_cell : time_cell.substr(space + 1);
    if (id_cell.empty())
        return clock + "  " + result_cell;
    return clock + "  ID " + id_cell + "  " + result_cell;
}

JournalOpen ReadJournal(const std::string &bytes, JournalContents *contents, std::string *prefix)
{
    *contents = JournalContents();
    if (bytes.empty()) {
        *prefix = std::string(kBom) + kJournalHeader + "\r\n";
        return JournalOpen::New;
    }
    size_t pos = bytes.compare(0, 3, kBom) == 0 ? 3 : 0;
    if (pos == bytes.size()) {
        *prefix = std::string(kJournalHeader) + "\r\n";
        return JournalOpen::New;
    }
    std::vector<std::string> cells;
    std::string header_line;
    {
        const size_t end = bytes.find_first_of("\r\n", pos);
        header_line = bytes.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    }
    if (header_line != kJournalHeader)
        return JournalOpen::Foreign;
    NextCsvRecord(bytes, &pos, &cells);
    while (NextCsvRecord(bytes, &pos, &cells)) {
        if (cells.size() < 5)
            continue;
        if (cells[0].compare(0, sizeof kStopWord - 1, kStopWord) == 0) {
            contents->recent.push_back(JournalDisplayText(cells[0].substr(sizeof kStopWord), "", cells[4]));
        } else {
            uint32_t id = 0;
            if (!ParseIdCell(cells[1], &id))
                continue;
            ++contents->rows;
            if (cells[4] == kJournalConfigured)
                contents->configured.insert(id);
            contents->recent.push_back(JournalDisplayText(cells[0], cells[1], cells[4]));
        }
        if (contents->recent.size() > kJournalRecentRows)
            contents->recent.erase(contents->recent.begin());
    }
    const char last = bytes.back();
    prefix->clear();
    if (last != '\n' && last != '\r')
        *prefix = "\r\n";
    return JournalOpen::Continue;
}
