// A recording of Pellfray's traffic log on disk, line by line as it is
// logged, for sessions too long to sit and watch.
//
// The file is UTF-8 with a byte-order mark and CR LF line ends, as the saved
// log. It starts with a date line, and has another wherever the day of the
// lines changes, so that a recording that runs past midnight still says
// when each line was logged; every traffic line and note carries its
// millisecond time:
//   [ = 2026-12-07 ]
//   [ ! 23:59:59.870 ] 开始记录 D:\bench\night.log
//   [ R 23:59:59.912 ] ff ff ff ff 00 12 34 5e 21
//   [ = 2026-12-08 ]
//   [ R 00:00:01.913 ] ff ff ff ff 00 12 34 5e 21
//
// Threads. Whoever logs a line (the chunk processor, the GUI thread) only
// appends it to an in-memory queue under a short lock and wakes the writer;
// nobody but the writer thread ever waits for the disk. The writer takes
// everything queued at once, hands it to the sink (the operating system's
// file cache: it survives the program being killed) and, at the latest one
// second after the first bytes that are not on the disk yet, has the sink
// flush them to the disk itself, so that a crash or a pulled plug loses at
// most the last second. A writer with nothing to write waits on its
// condition variable without a time limit.
//
// Bounds. The queue holds at most max_pending_bytes of lines; a line that
// does not fit is dropped and counted, and the next line that fits is
// preceded in the file by a note that says how many went missing. Better a
// gap that the file owns up to than a receive path held up by a slow disk.
//
// Failures. A write, flush or close that fails (disk full, folder gone)
// ends that recording: the sink is closed, lines for it are no longer
// taken, and its report is called with the system's error code. Nothing
// else is affected. A recording that ends by Stop is reported with 0, or
// with the error of its last flush or close.
//
// Successive recordings share the one writer thread, started by the first
// Start and ended by Shutdown (or the destructor), which writes and closes
// whatever is still queued first.
//
// Exit. The program's Shutdown waits for the writer at most a bound, as it
// waits for its other threads: a file on a stalled network share must not
// keep the process alive after its window has gone. Past the bound the sink
// is asked to end the write in progress (cancel), and the writer, whenever
// it gets back, writes none of the lines still waiting: in their place the
// stop note says how many were not written, if the sink takes it, and the
// file is closed as far as it got.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modulebench/traffic_log.h"

struct RecordingDate {
    int year;
    int month;
    int day;
};

inline bool operator==(const RecordingDate &a, const RecordingDate &b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

// "[ = 2026-12-07 ]\r\n"
std::string FormatDateLine(const RecordingDate &date);

// One line for the file: its local date and time, and its whole text in
// UTF-8 with millisecond time and CR LF.
struct RecordedLine {
    RecordingDate date;
    LogStamp time;
    std::string text;
};

// Where a recording's bytes go; each operation returns 0 or the system's
// error code. The program's sink is a file; the tests' can fail like a full
// disk. Called on the writer thread only.
struct RecordingSink {
    std::function<uint32_t(const char *data, size_t length)> write; // into the OS's hands
    std::function<uint32_t()> flush;                                 // onto the disk itself
    std::function<uint32_t()> close;
    // Any thread but the writer's: ends a write or flush in progress (it
    // fails then); may be empty.
    std::function<void()> cancel;
};

class TrafficRecorder {
public:
    // Called on the writer thread when a recording has ended and its sink is
    // closed: 0 after Stop, else the error that ended it.
    using Report = std::function<void(uint32_t error)>;

    static constexpr size_t kDefaultMaxPendingBytes = 16u << 20;
    static constexpr std::chrono::milliseconds kFlushInterval{1000};

    explicit TrafficRecorder(size_t max_pending_bytes = kDefaultMaxPendingBytes);
    ~TrafficRecorder();
    TrafficRecorder(const TrafficRecorder &) = delete;
    TrafficRecorder &operator=(const TrafficRecorder &) = delete;

    // Begins a recording into sink (a recording that still runs is stopped
    // first). today is the date of the first line.
    void Start(RecordingSink sink, const RecordingDate &today, Report report);
    // Any thread: queues a line of the running recording; never waits for
    // the disk. Does nothing while no recording runs.
    void Append(RecordedLine line);
    // Ends the running recording after the lines queued so far. Returns at
    // once; the writer closes the file and reports.
    void Stop();
    // A recording runs and takes lines (false after Stop or a failure).
    bool Recording() const;
    // Writes out and closes what is queued, last_line (the stop note) last
    // if a recording runs, then ends the writer thread and waits for it, at
    // most bound. False when the writer had not ended by then: its sink was
    // cancelled and the writer abandons what is still queued (see above);
    // the thread is left to end by itself (the destructor joins it).
    bool Shutdown(const RecordedLine *last_line = nullptr,
                  std::chrono::milliseconds bound = std::chrono::milliseconds::max());
    // The stop note of an exit that could not wait: "停止记录：退出时 N 行未能写入记录".
    static std::string AbandonedNote(const LogStamp &time, uint64_t lines);

    // Lines dropped for want of room since the last Start (for the tests
    // and the measurements).
    uint64_t dropped() const;

private:
    struct Session;
    struct Item {
        // kStop: the stop note of Shutdown, a line the writer replaces when
        // the exit abandons it.
        enum Kind { kBegin, kLine, kStop, kEnd } kind;
        std::shared_ptr<Session> session;
        RecordedLine line;
    };

    // Writer thread only.
    void WriterLoop();
    // Under mutex_: the session whose sink a cancel must reach.
    void SetWriting(std::shared_ptr<Session> session);
    // Hands buffer to the sink and empties it; 0 or the error.
    uint32_t WriteOut(Session &session, std::string &buffer);
    // Ends a recording whose sink failed: closed, no more lines, reported.
    void Fail(const std::shared_ptr<Session> &session, uint32_t error);
    // Ends a recording: the rest of buffer, flush, close, report.
    void Finish(const std::shared_ptr<Session> &session, std::string &buffer);
    // Under mutex_: queues the note owning up to the lines dropped so far.
    void QueueDroppedNote(const RecordingDate &date, const LogStamp &time);

    const size_t max_pending_bytes_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_; written by Start, Append, Stop (any thread) and the
    // writer thread (takes the queue; clears current_ on a failure).
    std::vector<Item> queue_;
    size_t pending_bytes_ = 0;
    std::shared_ptr<Session> current_; // the recording that takes lines
    uint64_t dropped_ = 0;              // since the last Start
    uint64_t dropped_unreported_ = 0;   // not yet owned up to in the file
    RecordedLine last_taken_{};         // date and time of the last line taken
    bool shutdown_ = false;
    bool writer_ended_ = false;       // set by the writer thread as it returns
    std::condition_variable ended_;   // notified with writer_ended_
    bool abandoned_ = false;          // set by a Shutdown whose bound passed
    std::shared_ptr<Session> writing_; // the session whose sink is open (writer)
    std::thread writer_; // started by the first Start; joined by Shutdown
};
