#include "modulebench/traffic_log.h"

#include <cstdio>
#include <utility>

const char kStatusNotConfigured[] = "未配置";
const char kStatusWaiting[] = "等待生效";
const char kStatusConfigured[] = "完成配置";

std::atomic<uint64_t> RxByteCount{0};
std::atomic<uint64_t> TxByteCount{0};

namespace {

// "[ K hh:mm:ss ]" or "[ K hh:mm:ss.mmm ]" into head; returns its length.
size_t FormatHead(char kind, const LogStamp &time, char (&head)[64])
{
    const int length =
        time.millisecond < 0
            ? std::snprintf(head, sizeof head, "[ %c %02d:%02d:%02d ]", kind, time.hour, time.minute, time.second)
            : std::snprintf(head, sizeof head, "[ %c %02d:%02d:%02d.%03d ]", kind, time.hour, time.minute,
                            time.second, time.millisecond);
    if (length < 0)
        return 0;
    return static_cast<size_t>(length) < sizeof head ? static_cast<size_t>(length) : sizeof head - 1;
}

} // namespace

void FormatLogLine(char direction, const LogStamp &time, const uint8_t *bytes, uint32_t count, std::string &out)
{
    static const char kHexDigits[] = "0123456789abcdef";
    // The head is short and the same width for every valid time; the bytes
    // are written by hand, since a 1024-byte read makes four 255-byte lines
    // and snprintf per byte would dominate the log's cost.
    char head[64];
    const size_t head_length = FormatHead(direction, time, head);

    out.clear();
    out.reserve(head_length + 3 * static_cast<size_t>(count) + 2);
    out.append(head, head_length);
    for (uint32_t i = 0; i < count; ++i) {
        out.push_back(' ');
        out.push_back(kHexDigits[bytes[i] >> 4]);
        out.push_back(kHexDigits[bytes[i] & 0x0F]);
    }
    out.append("\r\n");
}

void FormatLogLine(char direction, int hour, int minute, int second, const uint8_t *bytes, uint32_t count,
                   std::string &out)
{
    FormatLogLine(direction, LogStamp{hour, minute, second, -1}, bytes, count, out);
}

void FormatLogNote(const LogStamp &time, const char *text, std::string &out)
{
    char head[64];
    const size_t head_length = FormatHead('!', time, head);
    out.assign(head, head_length);
    out.push_back(' ');
    out.append(text ? text : "");
    out.append("\r\n");
}

void FormatLogNote(int hour, int minute, int second, const char *text, std::string &out)
{
    FormatLogNote(LogStamp{hour, minute, second, -1}, text, out);
}

uint64_t AddRxBytes(uint32_t count)
{
    return RxByteCount.fetch_add(count) + count;
}

uint64_t AddTxBytes(uint32_t count)
{
    return TxByteCount.fetch_add(count) + count;
}

ByteCounts ResetByteCounts()
{
    ByteCounts taken;
    taken.rx = RxByteCount.exchange(0);
    taken.tx = TxByteCount.exchange(0);
    return taken;
}

char *FormatByteCount(uint64_t total, char *out)
{
    char reversed[21];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + total % 10);
        total /= 10;
    } while (total != 0);
    for (int i = 0; i < n; ++i)
        out[i] = reversed[n - 1 - i];
    out[n] = '\0';
    return out;
}

bool LogHandOff::Push(PendingLogEntry entry)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
    if (wake_outstanding_)
        return false;
    wake_outstanding_ = true;
    return true;
}

void LogHandOff::WakeFailed()
{
    std::lock_guard<std::mutex> lock(mutex_);
    wake_outstanding_ = false;
}

void LogHandOff::TakeAll(std::vector<PendingLogEntry> &out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    // The vector's storage goes back and forth, so a steady stream of lines
    // allocates nothing here.
    out.swap(entries_);
    wake_outstanding_ = false;
}
