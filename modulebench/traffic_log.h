// Portable half of Pellfray's traffic log: the log line, the two byte
// counters and the status texts. The list box, the labels and the local
// clock belong to the Win32 side, which calls these.
//
// Log line for n bytes, 14 + 3n characters before the CR LF:
//   "[ R 09:05:07 ] 01 ab ff\r\n"   (received; "[ S ...]" for sent)
// or, with millisecond times (the user's choice; always in a recording),
// 18 + 3n characters:
//   "[ R 09:05:07.042 ] 01 ab ff\r\n"
//
// Byte counters. Each logged chunk adds its length exactly once with one
// atomic addition, so additions from the processor thread and the GUI thread
// are never lost. ResetByteCounts swaps each counter to 0 in one atomic step
// and returns what it took away: an addition racing with the reset lands
// either wholly before it (taken away with the old total) or wholly after it
// (counted from 0), never in both and never in neither.
//
// What the labels show: the total returned by an addition, formatted by the
// thread that made it. For the label always to equal the bytes of the lines
// in the list since the last clear, the Win32 side does the addition, the
// label and the list line in one step on the GUI thread (LogReceived from the
// processor forwards to the GUI thread with one SendMessage), and clears on
// the GUI thread too: then nothing interleaves. If an addition is made on the
// processor thread instead, the totals stay exact but a label update formed
// just before a clear and shown just after it shows the pre-clear total
// until the next chunk is logged.
//
// Hand-off to the GUI thread. The chunk processor must never wait for the
// list box to draw, so its lines (and its status text) go into LogHandOff,
// already formatted with the time they were logged, and one posted message
// asks the GUI thread to take them all; the processor goes straight on to
// the CRC test and the answer. The GUI thread adds a line's bytes to its
// counter when it adds the line, so the counters still equal the lines shown
// since the last clear. Everything the GUI thread logs or shows itself first
// takes what is pending, so the list and the label keep the order in which
// the threads logged (the R line of a wake-up, then the S line of its answer,
// then "完成配置"), and nothing pending is ever lost.
//
// The counters are 64-bit: at line rate a 32-bit signed count would turn
// negative after about two days of traffic.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Status label texts (code page of the build: GBK in the program).
extern const char kStatusNotConfigured[]; // "未配置"
extern const char kStatusWaiting[];       // "等待生效"
extern const char kStatusConfigured[];    // "完成配置"

// Characters of a log line for count bytes, without the CR LF.
constexpr size_t LogLineLength(size_t count)
{
    return 14 + 3 * count;
}

// The local time of a line: hour, minute and second (0..23, 0..59, 0..59;
// other values are printed as they are, at least two digits) and, for
// millisecond times, the millisecond 0..999; -1 prints whole seconds.
struct LogStamp {
    int hour;
    int minute;
    int second;
    int millisecond;
};

// Replaces out with the whole line, CR LF included. direction is 'R' or 'S'.
void FormatLogLine(char direction, const LogStamp &time, const uint8_t *bytes, uint32_t count, std::string &out);
// The same in whole seconds.
void FormatLogLine(char direction, int hour, int minute, int second, const uint8_t *bytes, uint32_t count,
                   std::string &out);

// A note of the program's own among the traffic lines (a port lost and back,
// bytes that went missing, the console that could not start): not traffic,
// so no counter counts it. Replaces out with the whole line, CR LF included:
//   "[ ! 09:05:07 ] text\r\n"  or  "[ ! 09:05:07.042 ] text\r\n"
void FormatLogNote(const LogStamp &time, const char *text, std::string &out);
void FormatLogNote(int hour, int minute, int second, const char *text, std::string &out);

// Written by the processor thread (received; sent after a wake-up answer) and
// the GUI thread (sent; both on clear). Read by either.
extern std::atomic<uint64_t> RxByteCount;
extern std::atomic<uint64_t> TxByteCount;

// Adds count and returns the new total.
uint64_t AddRxBytes(uint32_t count);
uint64_t AddTxBytes(uint32_t count);

struct ByteCounts {
    uint64_t rx;
    uint64_t tx;
};
// Sets both counters to 0; returns the totals taken away.
ByteCounts ResetByteCounts();

// Decimal text of a counter for the labels ("0", "1234"); out holds at least
// 21 bytes. Returns out.
char *FormatByteCount(uint64_t total, char *out);

// One line or status text waiting for the GUI thread.
struct PendingLogEntry {
    char kind;      // 'R' or 'S': a log line; 'N': a note line; 'T': a status label text
    uint32_t count; // bytes of the line ('R', 'S')
    std::string text; // the whole line, CR LF included; or the status text
};

class LogHandOff {
public:
    // Any thread. Appends the entry. True when the caller must wake the GUI
    // thread (post its message): no wake is outstanding. The GUI thread's
    // TakeAll makes the next Push ask again; WakeFailed does too.
    bool Push(PendingLogEntry entry);
    // The wake could not be delivered: the next Push asks again.
    void WakeFailed();
    // GUI thread: moves every pending entry into out (emptied first), in the
    // order pushed, and counts the wake as answered.
    void TakeAll(std::vector<PendingLogEntry> &out);

private:
    std::mutex mutex_;
    std::vector<PendingLogEntry> entries_; // guarded by mutex_
    bool wake_outstanding_ = false;        // guarded by mutex_
};
