// The batch check (see acceptance.h): the copy of the table, the merge, the
// texts, the export and the reading of list files.
#include "tagbench/acceptance.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "tagbench/tag_csv.h"
#include "tagbench/tag_history.h"
#include "tagbench/tag_table.h"

namespace {

// The strongest sample of the record's window, as the grid's dB column
// takes it, also for a record that has gone offline (its last known value).
int32_t WindowStrongest(const TagRecord &r)
{
    int32_t used = 3;
    if (r.filling != 0)
        used = r.next_sample <= 1 ? 1 : r.next_sample;
    int32_t m = r.samples[0];
    for (int32_t i = 1; i < used; ++i)
        m = r.samples[i] > m ? r.samples[i] : m;
    return m;
}

std::string Number(int64_t n)
{
    return std::to_string(n);
}

void AppendPart(std::string &out, const char *separator, const std::string &part)
{
    if (!out.empty())
        out += separator;
    out += part;
}

} // namespace

const char *AcceptResultName(AcceptResult result)
{
    switch (result) {
    case AcceptResult::kMissing:
        return u8"缺失";
    case AcceptResult::kOffline:
        return u8"掉线";
    case AcceptResult::kUnderVoltage:
        return u8"欠压";
    case AcceptResult::kWeak:
        return u8"信号弱";
    case AcceptResult::kUnexpected:
        return u8"多余";
    case AcceptResult::kPassed:
        return u8"合格";
    }
    return "";
}

void SnapshotForAcceptance(std::vector<AcceptanceTag> *tags, int32_t *refused)
{
    // Room first, so that under the lock there is only copying.
    std::vector<TagRecord> records;
    records.reserve(kMaxTags);
    std::vector<uint64_t> reports;
    reports.reserve(kMaxTags);
    std::vector<TagSeenTimes> seen;
    seen.reserve(kMaxTags);
    {
        std::lock_guard<std::mutex> lock(TableLock);
        int32_t count = TagCount.load(std::memory_order_relaxed);
        count = count < 0 ? 0 : (count > kMaxTags ? kMaxTags : count);
        records.assign(TagTable, TagTable + count);
        reports.resize(static_cast<size_t>(count));
        seen.resize(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            reports[i] = TotalReportsLocked(i);
            CopySeenTimes(i, &seen[i].first_ms, &seen[i].last_ms);
        }
        *refused = RefusedTagCount.load(std::memory_order_relaxed);
    }
    tags->resize(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const TagRecord &r = records[i];
        AcceptanceTag &t = (*tags)[i];
        t.id = r.id;
        t.signal = WindowStrongest(r);
        t.offline = r.countdown == 0;
        t.under_voltage = (r.status & 0x01) != 0;
        t.reports = reports[i];
        t.first_ms = seen[i].first_ms;
        t.last_ms = seen[i].last_ms;
    }
}

namespace {

// Result and problems of an expected tag found in the table.
void JudgePresent(const AcceptanceCriteria &c, AcceptanceRow *row)
{
    const AcceptanceTag &t = row->tag;
    uint8_t p = 0;
    if (t.reports < c.min_reports)
        p |= kProblemFewReports;
    if (c.offline_fails && t.offline)
        p |= kProblemOffline;
    if (c.under_voltage_fails && t.under_voltage)
        p |= kProblemUnderVoltage;
    if (t.signal < c.min_signal)
        p |= kProblemWeak;
    row->problems = p;
    if (p & kProblemFewReports)
        row->result = AcceptResult::kMissing;
    else if (p & kProblemOffline)
        row->result = AcceptResult::kOffline;
    else if (p & kProblemUnderVoltage)
        row->result = AcceptResult::kUnderVoltage;
    else if (p & kProblemWeak)
        row->result = AcceptResult::kWeak;
    else
        row->result = AcceptResult::kPassed;
}

} // namespace

void JudgeAcceptance(const std::vector<uint32_t> &expected, const std::vector<AcceptanceTag> &table,
                     const AcceptanceCriteria &criteria, int32_t refused, AcceptanceJudgement *out)
{
    out->counts = AcceptanceCounts();
    out->rows.clear();
    out->failing.clear();
    out->refused = refused;
    std::vector<AcceptanceRow> strangers;
    size_t e = 0;
    size_t t = 0;
    while (e < expected.size() || t < table.size()) {
        AcceptanceRow row;
        if (t == table.size() || (e < expected.size() && expected[e] < table[t].id)) {
            row.tag.id = expected[e++];
            row.problems = kProblemNotSeen;
            row.result = AcceptResult::kMissing;
            out->rows.push_back(row);
        } else if (e == expected.size() || table[t].id < expected[e]) {
            row.in_table = true;
            row.tag = table[t++];
            row.result = AcceptResult::kUnexpected;
            strangers.push_back(row);
        } else {
            row.in_table = true;
            row.tag = table[t++];
            ++e;
            JudgePresent(criteria, &row);
            out->rows.push_back(row);
        }
    }
    AcceptanceCounts &n = out->counts;
    n.expected = static_cast<uint32_t>(out->rows.size());
    n.unexpected = static_cast<uint32_t>(strangers.size());
    out->rows.insert(out->rows.end(), strangers.begin(), strangers.end());

    // The failures by result, each in ID order: one pass per kind keeps
    // the order without sorting.
    for (AcceptResult kind : {AcceptResult::kMissing, AcceptResult::kOffline, AcceptResult::kUnderVoltage,
                              AcceptResult::kWeak, AcceptResult::kUnexpected}) {
        for (uint32_t i = 0; i < out->rows.size(); ++i)
            if (out->rows[i].result == kind)
                out->failing.push_back(i);
    }
    for (uint32_t i = 0; i < n.expected; ++i) {
        switch (out->rows[i].result) {
        case AcceptResult::kMissing:
            ++n.missing;
            break;
        case AcceptResult::kOffline:
            ++n.offline;
            break;
        case AcceptResult::kUnderVoltage:
            ++n.under_voltage;
            break;
        case AcceptResult::kWeak:
            ++n.weak;
            break;
        case AcceptResult::kPassed:
            ++n.passed;
            break;
        case AcceptResult::kUnexpected:
            break;
        }
    }
    n.arrived = n.expected - n.missing;
}

// --- texts ----------------------------------------------------------------------

std::string AcceptanceReason(const AcceptanceRow &row, const AcceptanceCriteria &c)
{
    const uint8_t p = row.problems;
    if (row.result == AcceptResult::kUnexpected)
        return u8"不在应到名单中";
    std::string out;
    if (p & kProblemNotSeen)
        out = u8"未出现";
    if (p & kProblemFewReports)
        out = u8"仅 " + Number(static_cast<int64_t>(row.tag.reports)) + u8" 次报告（至少 " +
              Number(c.min_reports) + u8" 次）";
    if (p & kProblemOffline)
        AppendPart(out, u8"；", u8"已掉线");
    if (p & kProblemUnderVoltage)
        AppendPart(out, u8"；", u8"欠压");
    if (p & kProblemWeak)
        AppendPart(out, u8"；",
                   u8"信号 " + Number(row.tag.signal) + u8" dB（低于 " + Number(c.min_signal) + u8" dB）");
    return out;
}

std::string AcceptanceVerdict(const AcceptanceCounts &n)
{
    if (n.expected == 0)
        return u8"未设定应到标签";
    std::string out;
    if (n.passed == n.expected) {
        out = u8"全部合格";
    } else {
        std::string parts;
        const struct {
            const char *name;
            uint32_t count;
        } kinds[] = {{u8"缺失", n.missing}, {u8"掉线", n.offline}, {u8"欠压", n.under_voltage}, {u8"信号弱", n.weak}};
        for (const auto &k : kinds)
            if (k.count != 0)
                AppendPart(parts, u8"，", std::string(k.name) + " " + Number(k.count));
        out = u8"不合格：" + parts;
    }
    if (n.unexpected != 0)
        out += u8"；多余 " + Number(n.unexpected);
    return out;
}

std::string AcceptanceIncompleteNote(int32_t refused)
{
    if (refused <= 0)
        return "";
    const std::string count = refused >= kMaxRefusedIds ? Number(refused) + u8" 个以上" : Number(refused) + u8" 个";
    return u8"标签表已满（" + Number(kMaxTags) + u8" 个），另有 " + count + u8"标签未能记入：判断可能不完整";
}

std::string AcceptanceCriteriaText(const AcceptanceCriteria &c)
{
    return u8"最低信号 " + Number(c.min_signal) + u8" dB；至少报告 " + Number(c.min_reports) + u8" 次；欠压" +
           (c.under_voltage_fails ? u8"不合格" : u8"不计") + u8"；掉线" + (c.offline_fails ? u8"不合格" : u8"不计");
}

std::string AcceptanceCsv(const AcceptanceJudgement &j, const AcceptanceCriteria &criteria, const WallClock &clock)
{
    std::string out = "\xEF\xBB\xBF";
    out.reserve(128 + j.rows.size() * 64);
    out += u8"ID,结果,报告次数,最强信号 dB,首次出现,最后出现\r\n";
    for (const AcceptanceRow &row : j.rows) {
        out += Number(row.tag.id);
        out += ',';
        out += AcceptResultName(row.result);
        out += ',';
        out += Number(static_cast<int64_t>(row.tag.reports));
        out += ',';
        if (row.in_table) {
            out += Number(row.tag.signal) + ",";
            out += FormatLocalDateTime(LocalSecondsAt(clock, row.tag.first_ms)) + ",";
            out += FormatLocalDateTime(LocalSecondsAt(clock, row.tag.last_ms));
        } else {
            out += ",,";
        }
        out += "\r\n";
    }
    const AcceptanceCounts &n = j.counts;
    const struct {
        const char *name;
        uint32_t count;
    } counts[] = {{u8"应到", n.expected},       {u8"已到", n.arrived}, {u8"合格", n.passed},
                  {u8"缺失", n.missing},        {u8"欠压", n.under_voltage}, {u8"信号弱", n.weak},
                  {u8"掉线", n.offline},        {u8"多余", n.unexpected}};
    out += "\r\n";
    for (const auto &c : counts)
        out += std::string(c.name) + "," + Number(c.count) + "\r\n";
    auto row = [&out](const char *name, const std::string &value) {
        out += name;
        out += ',';
        AppendCsvField(out, value);
        out += "\r\n";
    };
    row(u8"结论", AcceptanceVerdict(n));
    row(u8"判定条件", AcceptanceCriteriaText(criteria));
    if (j.refused > 0)
        row(u8"注意", AcceptanceIncompleteNote(j.refused));
    return out;
}

bool ParseCriterion(const std::string &text, int64_t min, int64_t max, int64_t *value)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    i += negative ? 1 : 0;
    int64_t n = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        n = n * 10 + (text[i] - '0');
        if (n > 10000000000LL)
            return false;
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (digits == 0 || i != text.size())
        return false;
    n = negative ? -n : n;
    if (n < min || n > max)
        return false;
    *value = n;
    return true;
}

AcceptanceCriteria CriteriaFromStored(const StoredSetting &min_signal, const StoredSetting &min_reports,
                                      const StoredSetting &under_voltage_fails, const StoredSetting &offline_fails)
{
    AcceptanceCriteria c;
    if (min_signal.present && min_signal.value >= kMinSignalLowest && min_signal.value <= kMinSignalHighest)
        c.min_signal = static_cast<int32_t>(min_signal.value);
    if (min_reports.present && min_reports.value >= 1 && min_reports.value <= kMinReportsHighest)
        c.min_reports = static_cast<uint32_t>(min_reports.value);
    if (under_voltage_fails.present && (under_voltage_fails.value == 0 || under_voltage_fails.value == 1))
        c.under_voltage_fails = under_voltage_fails.value == 1;
    if (offline_fails.present && (offline_fails.value == 0 || offline_fails.value == 1))
        c.offline_fails = offline_fails.value == 1;
    return c;
}

// --- the expected list ------------------------------------------------------------

bool ExpectedRange(uint32_t first, uint32_t last, ExpectedList *out)
{
    if (first > last || static_cast<uint64_t>(last) - first + 1 > kMaxExpectedTags)
        return false;
    *out = ExpectedList();
    for (uint64_t id = first; id <= last; ++id)
        out->ids.push_back(static_cast<uint32_t>(id));
    return true;
}

namespace {

// The journal's texts, in UTF-8 and in GBK (a journal re-saved by Excel on
// a Chinese Windows).
const char *const kJournalIdTitle[] = {u8"ID号", "ID\xBA\xC5"};
const char *const kJournalResultTitle[] = {u8"结果", "\xBD\xE1\xB9\xFB"};
const char *const kConfigured[] = {u8"已配置", "\xD2\xD1\xC5\xE4\xD6\xC3"};
const char *const kStopped[] = {u8"停止", "\xCD\xA3\xD6\xB9"};
// A header may name the column of IDs (the table export's is the second).
const char *const kCardTitle[] = {u8"卡号", "\xBF\xA8\xBA\xC5"};

bool IsOneOf(const std::string &text, const char *const (&choices)[2])
{
    return text == choices[0] || text == choices[1];
}

bool StartsWithOneOf(const std::string &text, const char *const (&choices)[2])
{
    for (const char *c : choices)
        if (text.compare(0, std::strlen(c), c) == 0)
            return true;
    return false;
}

std::string Trim(const std::string &s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

// The fields of one CSV line (quotes as the exports write them), trimmed.
std::vector<std::string> SplitCsvLine(const std::string &line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',' || c == '\t' || c == ';') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    for (std::string &f : fields)
        f = Trim(f);
    return fields;
}

bool ParseId(const std::string &text, uint32_t *id)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX)
        return false;
    *id = static_cast<uint32_t>(value);
    return true;
}

std::vector<std::string> SplitLines(const std::string &bytes)
{
    std::vector<std::string> lines;
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

} // namespace

ListProblem ReadExpectedList(const std::string &bytes, ExpectedList *out)
{
    if (bytes.size() > kMaxListFileBytes)
        return ListProblem::kTooLarge;
    ExpectedList list;
    const std::vector<std::string> lines = SplitLines(bytes);
    bool first = true;
    size_t column = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string line = Trim(lines[n]);
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = SplitCsvLine(line);
        const uint32_t number = static_cast<uint32_t>(n + 1);
        uint32_t id = 0;
        if (first) {
            first = false;
            if (fields.size() >= 5 && IsOneOf(fields[1], kJournalIdTitle) && IsOneOf(fields[4], kJournalResultTitle)) {
                list.journal = true;
                continue;
            }
            if (!ParseId(fields[0], &id)) {
                // A header: the column it names "卡号" or "ID" holds the IDs.
                for (size_t i = 0; i < fields.size(); ++i)
                    if (IsOneOf(fields[i], kCardTitle) || IsOneOf(fields[i], kJournalIdTitle) || fields[i] == "ID")
                        column = i;
                continue;
            }
        }
        if (list.journal) {
            if (StartsWithOneOf(fields[0], kStopped))
                continue;
            if (fields.size() < 5) {
                list.bad_lines.push_back(number);
                continue;
            }
            if (!IsOneOf(fields[4], kConfigured)) {
                // A frame that did not go out, or the stop line.
                if (!StartsWithOneOf(fields[4], kStopped))
                    ++list.not_configured;
                continue;
            }
            if (!ParseId(fields[1], &id)) {
                list.bad_lines.push_back(number);
                continue;
            }
        } else if (fields.size() <= column || !ParseId(fields[column], &id)) {
            list.bad_lines.push_back(number);
            continue;
        }
        list.ids.push_back(id);
    }
    std::sort(list.ids.begin(), list.ids.end());
    const size_t read = list.ids.size();
    list.ids.erase(std::unique(list.ids.begin(), list.ids.end()), list.ids.end());
    list.duplicates = static_cast<uint32_t>(read - list.ids.size());
    if (list.ids.empty())
        return ListProblem::kNoIds;
    if (list.ids.size() > kMaxExpectedTags)
        return ListProblem::kTooMany;
    *out = list;
    return ListProblem::kNone;
}

std::string ExpectedListNote(const ExpectedList &list)
{
    std::string out;
    if (!list.bad_lines.empty()) {
        std::string numbers;
        for (size_t i = 0; i < list.bad_lines.size() && i < kListedBadLines; ++i)
            AppendPart(numbers, u8"、", Number(list.bad_lines[i]));
        if (list.bad_lines.size() > kListedBadLines)
            numbers += u8" 等 " + Number(static_cast<int64_t>(list.bad_lines.size()));
        out = u8"第 " + numbers + u8" 行无法读取，已略过。";
    }
    if (list.duplicates != 0)
        out += u8"重复的ID " + Number(list.duplicates) + u8" 个，各计一次。";
    if (out.empty())
        return out;
    return out + u8"应到标签 " + Number(static_cast<int64_t>(list.ids.size())) + u8" 个。";
}

std::string ListProblemText(ListProblem problem)
{
    switch (problem) {
    case ListProblem::kNone:
        return "";
    case ListProblem::kNoIds:
        return u8"文件中没有可用的ID号：第一列（或批量配置记录中“已配置”的行）应为标签号";
    case ListProblem::kTooMany:
        return u8"应到标签最多 " + Number(kMaxExpectedTags) + u8" 个（标签表的容量）";
    case ListProblem::kTooLarge:
        return u8"文件太大（最多 16 MB）";
    }
    return "";
}

std::string ExpectedSourceText(const ExpectedList &list, const std::string &file_name)
{
    const std::string count = u8"，共 " + Number(static_cast<int64_t>(list.ids.size())) + u8" 个";
    if (list.ids.empty())
        return u8"未设定";
    if (!file_name.empty()) {
        std::string out = u8"文件 " + file_name + count;
        if (list.journal)
            out += u8"（批量配置记录中已配置的）";
        return out;
    }
    return u8"范围 " + Number(list.ids.front()) + " - " + Number(list.ids.back()) + count;
}
