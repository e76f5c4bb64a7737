#include "modulebench/traffic_log_file.h"

std::string TrafficLogFileText(const std::vector<std::string> &entries, const std::string &sent_count,
                               const std::string &received_count)
{
    std::string out = "\xEF\xBB\xBF";
    for (const std::string &entry : entries) {
        size_t end = entry.size();
        while (end > 0 && (entry[end - 1] == '\r' || entry[end - 1] == '\n'))
            --end;
        out.append(entry, 0, end);
        out.append("\r\n");
    }
    // u8: the labels stay UTF-8 in the Windows build, whose narrow literals
    // are GBK.
    out.append(u8"S : ");
    out.append(sent_count);
    out.append(u8"    R：");
    out.append(received_count);
    out.append("\r\n");
    return out;
}
