#include "modulebench/traffic_recording.h"

#include <cstdio>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

const char kByteOrderMark[] = "\xEF\xBB\xBF";

} // namespace

// Written by Start before the session is queued, afterwards by the writer
// thread only.
struct TrafficRecorder::Session {
    RecordingSink sink;
    Report report;
    RecordingDate last_date{};   // date of the lines written last
    bool failed = false;         // a write, flush or close failed: no more lines
    bool unflushed = false;      // bytes written since the last flush
    Clock::time_point flush_due; // when they must be flushed at the latest
};

std::string FormatDateLine(const RecordingDate &date)
{
    char line[48];
    const int length = std::snprintf(line, sizeof line, "[ = %04d-%02d-%02d ]\r\n", date.year, date.month, date.day);
    return std::string(line, length > 0 && static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length)
                                                                                      : 0);
}

TrafficRecorder::TrafficRecorder(size_t max_pending_bytes) : max_pending_bytes_(max_pending_bytes) {}

TrafficRecorder::~TrafficRecorder()
{
    Shutdown();
}

void TrafficRecorder::Start(RecordingSink sink, const RecordingDate &today, Report report)
{
    auto session = std::make_shared<Session>();
    session->sink = std::move(sink);
    session->report = std::move(report);
    session->last_date = today;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutdown_)
            return;
        if (current_)
            queue_.push_back(Item{Item::kEnd, current_, RecordedLine{}});
        current_ = session;
        dropped_ = 0;
        dropped_unreported_ = 0;
        queue_.push_back(Item{Item::kBegin, session, RecordedLine{}});
        if (!writer_.joinable())
            writer_ = std::thread(&TrafficRecorder::WriterLoop, this);
    }
    wake_.notify_one();
}

void TrafficRecorder::Append(RecordedLine line)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!current_)
            return;
        const size_t size = line.text.size();
        if (pending_bytes_ + size > max_pending_bytes_ && !queue_.empty()) {
            ++dropped_;
            ++dropped_unreported_;
            return;
        }
        wake = queue_.empty();
        if (dropped_unreported_ != 0)
            QueueDroppedNote(line.date, line.time);
        last_taken_.date = line.date;
        last_taken_.time = line.time;
        pending_bytes_ += size;
        queue_.push_back(Item{Item::kLine, nullptr, std::move(line)});
    }
    if (wake)
        wake_.notify_one();
}

void TrafficRecorder::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!current_)
            return;
        if (dropped_unreported_ != 0)
            QueueDroppedNote(last_taken_.date, last_taken_.time);
        queue_.push_back(Item{Item::kEnd, current_, RecordedLine{}});
        current_.reset();
    }
    wake_.notify_one();
}

void TrafficRecorder::QueueDroppedNote(const RecordingDate &date, const LogStamp &time)
{
    char text[96];
    std::snprintf(text, sizeof text, u8"记录跟不上：%llu 行未写入记录",
                  static_cast<unsigned long long>(dropped_unreported_));
    RecordedLine note{date, time, std::string()};
    FormatLogNote(time, text, note.text);
    pending_bytes_ += note.text.size();
    queue_.push_back(Item{Item::kLine, nullptr, std::move(note)});
    dropped_unreported_ = 0;
}

bool TrafficRecorder::Recording() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return current_ != nullptr;
}

uint64_t TrafficRecorder::dropped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

std::string TrafficRecorder::AbandonedNote(const LogStamp &time, uint64_t lines)
{
    char text[96];
    std::snprintf(text, sizeof text, u8"停止记录：退出时 %llu 行未能写入记录", static_cast<unsigned long long>(lines));
    std::string note;
    FormatLogNote(time, text, note);
    return note;
}

bool TrafficRecorder::Shutdown(const RecordedLine *last_line, std::chrono::milliseconds bound)
{
    std::function<void()> cancel;
    bool ended = true;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (current_) {
            // Lines dropped since the last one taken are owned up to here too.
            if (dropped_unreported_ != 0)
                QueueDroppedNote(last_taken_.date, last_taken_.time);
            if (last_line != nullptr)
                queue_.push_back(Item{Item::kStop, nullptr, *last_line});
            queue_.push_back(Item{Item::kEnd, current_, RecordedLine{}});
            current_.reset();
        }
        shutdown_ = true;
        wake_.notify_one();
        if (!writer_.joinable())
            return true;
        if (bound == std::chrono::milliseconds::max())
            ended_.wait(lock, [this] { return writer_ended_; });
        else
            ended = ended_.wait_for(lock, bound, [this] { return writer_ended_; });
        if (!ended) {
            abandoned_ = true;
            if (writing_)
                cancel = writing_->sink.cancel;
        }
    }
    if (!ended) {
        // The writer may be inside the sink for good (a share that never
        // answers): end its write if the sink can, and wait no longer.
        if (cancel)
            cancel();
        return false;
    }
    writer_.join();
    return true;
}

uint32_t TrafficRecorder::WriteOut(Session &session, std::string &buffer)
{
    if (buffer.empty())
        return 0;
    const uint32_t error = session.sink.write(buffer.data(), buffer.size());
    buffer.clear();
    if (error != 0)
        return error;
    if (!session.unflushed) {
        session.unflushed = true;
        session.flush_due = Clock::now() + kFlushInterval;
    }
    return 0;
}

void TrafficRecorder::Fail(const std::shared_ptr<Session> &session, uint32_t error)
{
    session->failed = true;
    session->sink.close();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_ == session)
            current_.reset();
    }
    if (session->report)
        session->report(error);
}

void TrafficRecorder::Finish(const std::shared_ptr<Session> &session, std::string &buffer)
{
    if (session->failed)
        return;
    uint32_t error = WriteOut(*session, buffer);
    if (error != 0) {
        Fail(session, error);
        return;
    }
    if (session->unflushed)
        error = session->sink.flush();
    const uint32_t closed = session->sink.close();
    if (error == 0)
        error = closed;
    session->failed = true; // closed: nothing more goes to this sink
    if (session->report)
        session->report(error);
}

void TrafficRecorder::SetWriting(std::shared_ptr<Session> session)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writing_ = std::move(session);
}

void TrafficRecorder::WriterLoop()
{
    std::vector<Item> batch;
    std::shared_ptr<Session> open; // the recording whose sink is open
    std::string buffer;
    bool abandoned = false;
    uint64_t abandoned_lines = 0; // lines left out since the exit abandoned them
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (queue_.empty() && !shutdown_) {
                if (open && !open->failed && open->unflushed) {
                    if (wake_.wait_until(lock, open->flush_due) == std::cv_status::timeout)
                        break;
                } else {
                    wake_.wait(lock);
                }
            }
            batch.swap(queue_);
            pending_bytes_ = 0;
            stopping = shutdown_ && batch.empty();
            abandoned = abandoned_;
        }
        for (Item &item : batch) {
            // An exit that could not wait: only the stop note, owning up to
            // the lines left out, and the close.
            if (abandoned && item.kind == Item::kLine) {
                ++abandoned_lines;
                continue;
            }
            if (abandoned && item.kind == Item::kStop)
                item.line.text = AbandonedNote(item.line.time, abandoned_lines);
            switch (item.kind) {
            case Item::kBegin:
                open = item.session;
                SetWriting(open);
                buffer.append(kByteOrderMark);
                buffer.append(FormatDateLine(open->last_date));
                break;
            case Item::kLine:
            case Item::kStop:
                if (!open || open->failed)
                    break;
                if (!(item.line.date == open->last_date)) {
                    open->last_date = item.line.date;
                    buffer.append(FormatDateLine(item.line.date));
                }
                buffer.append(item.line.text);
                break;
            case Item::kEnd:
                if (open == item.session) {
                    Finish(open, buffer);
                    open.reset();
                    SetWriting(nullptr);
                }
                break;
            }
        }
        batch.clear();
        if (open && !open->failed) {
            uint32_t error = WriteOut(*open, buffer);
            if (error == 0 && open->unflushed && Clock::now() >= open->flush_due) {
                error = open->sink.flush();
                open->unflushed = false;
            }
            if (error != 0)
                Fail(open, error);
        }
        buffer.clear();
        if (stopping) {
            if (open)
                Finish(open, buffer);
            std::lock_guard<std::mutex> lock(mutex_);
            writing_.reset();
            writer_ended_ = true;
            ended_.notify_all();
            return;
        }
    }
}
