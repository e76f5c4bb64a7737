// The recording's writer against a sink that can be slowed down, held, or
// made to fail like a full disk. Threads meet on condition variables: a
// writer that never writes, flushes or reports shows as a hang (ctest's
// time-out), never as a guess about time.
#include "modulebench/traffic_recording.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kAborted = 995;

// What the writer did to its sink; shared with the sink's functions.
struct FakeDisk {
    std::mutex mutex;
    std::condition_variable changed;
    std::string bytes;
    int flushes = 0;
    int closes = 0;
    size_t room = static_cast<size_t>(-1); // bytes before writes fail with kDiskFull
    bool held = false;                     // writes wait until released
    bool writer_waiting = false;           // a write waits for the release
    bool cancel_ends_write = false;        // cancel fails the held write
    int cancels = 0;
    std::vector<uint32_t> reports;

    RecordingSink Sink()
    {
        RecordingSink sink;
        sink.write = [this](const char *data, size_t length) -> uint32_t {
            std::unique_lock<std::mutex> lock(mutex);
            writer_waiting = held;
            changed.notify_all();
            changed.wait(lock, [this] { return !held; });
            if (cancels != 0 && cancel_ends_write)
                return kAborted;
            if (length > room)
                return kDiskFull;
            room -= length;
            bytes.append(data, length);
            changed.notify_all();
            return 0;
        };
        sink.flush = [this] { return Note([this] { ++flushes; }); };
        sink.close = [this] { return Note([this] { ++closes; }); };
        sink.cancel = [this] {
            Note([this] {
                ++cancels;
                held = held && !cancel_ends_write;
            });
        };
        return sink;
    }

    TrafficRecorder::Report Report()
    {
        return [this](uint32_t error) { Note([this, error] { reports.push_back(error); }); };
    }

    // Writes down what the writer did, for the test thread to see.
    template <class Change> uint32_t Note(Change change)
    {
        std::lock_guard<std::mutex> lock(mutex);
        change();
        changed.notify_all();
        return 0;
    }

    template <class Pred> void WaitFor(Pred pred)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, pred);
    }

    void Release()
    {
        Note([this] { held = false; });
    }
};

const RecordingDate kDay1{2026, 12, 7};
const RecordingDate kDay2{2026, 12, 8};

RecordedLine Line(const RecordingDate &date, int hour, int minute, int second, int ms, uint8_t byte)
{
    RecordedLine line{date, LogStamp{hour, minute, second, ms}, std::string()};
    FormatLogLine('R', line.time, &byte, 1, line.text);
    return line;
}

const std::string kBom = "\xEF\xBB\xBF";

// Each file starts with its date and marks each new day; starting anew
// ends the running recording first.
TEST(TrafficRecorder, DateLinesStartTheFileAndMarkEachNewDay)
{
    FakeDisk disk;
    FakeDisk next;
    TrafficRecorder recorder;
    recorder.Start(disk.Sink(), kDay1, disk.Report());
    EXPECT_TRUE(recorder.Recording());
    recorder.Append(Line(kDay1, 23, 59, 59, 870, 0x01));
    recorder.Append(Line(kDay2, 0, 0, 0, 5, 0x02));
    recorder.Append(Line(kDay2, 0, 0, 1, 913, 0x03));
    recorder.Start(next.Sink(), kDay2, next.Report());
    recorder.Append(Line(kDay2, 2, 0, 0, 0, 0x04));
    recorder.Stop();
    EXPECT_FALSE(recorder.Recording());
    recorder.Append(Line(kDay2, 2, 0, 2, 0, 0x05)); // after the stop: not recorded
    recorder.Shutdown();
    EXPECT_EQ(kBom + "[ = 2026-12-07 ]\r\n"
                     "[ R 23:59:59.870 ] 01\r\n"
                     "[ = 2026-12-08 ]\r\n"
                     "[ R 00:00:00.005 ] 02\r\n"
                     "[ R 00:00:01.913 ] 03\r\n",
              disk.bytes);
    EXPECT_EQ(kBom + "[ = 2026-12-08 ]\r\n[ R 02:00:00.000 ] 04\r\n", next.bytes);
    for (FakeDisk *d : {&disk, &next}) {
        EXPECT_EQ(std::vector<uint32_t>{0}, d->reports);
        EXPECT_GE(d->flushes, 1);
        EXPECT_EQ(1, d->closes);
    }
}

// A recording that nobody stops is still flushed to the disk.
TEST(TrafficRecorder, WrittenLinesAreFlushedWithoutAStop)
{
    FakeDisk disk;
    TrafficRecorder recorder;
    recorder.Start(disk.Sink(), kDay1, disk.Report());
    recorder.Append(Line(kDay1, 3, 12, 45, 123, 0xAB));
    disk.WaitFor([&] { return disk.flushes > 0; });
    EXPECT_EQ(kBom + "[ = 2026-12-07 ]\r\n[ R 03:12:45.123 ] ab\r\n", disk.bytes);
    EXPECT_TRUE(disk.reports.empty());
    EXPECT_EQ(0, disk.closes);
}

TEST(TrafficRecorder, AFullDiskEndsThatRecordingAloneWithItsError)
{
    FakeDisk full;
    full.room = 60; // the start line and one traffic line fit
    TrafficRecorder recorder;
    recorder.Start(full.Sink(), kDay1, full.Report());
    for (int i = 0; i < 3; ++i)
        recorder.Append(Line(kDay1, 10, 0, i, 0, static_cast<uint8_t>(i)));
    full.WaitFor([&] { return !full.reports.empty(); });
    EXPECT_EQ(std::vector<uint32_t>{kDiskFull}, full.reports);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(1, full.closes);
    recorder.Append(Line(kDay1, 10, 0, 9, 0, 9)); // taken by nobody, waits for nothing
    recorder.Stop();

    // The next recording works as if nothing had happened.
    FakeDisk good;
    recorder.Start(good.Sink(), kDay1, good.Report());
    recorder.Append(Line(kDay1, 10, 1, 0, 0, 0x42));
    recorder.Stop();
    good.WaitFor([&] { return !good.reports.empty(); });
    EXPECT_EQ(kBom + "[ = 2026-12-07 ]\r\n[ R 10:01:00.000 ] 42\r\n", good.bytes);
    EXPECT_EQ(std::vector<uint32_t>{0}, good.reports);
    EXPECT_EQ(std::vector<uint32_t>{kDiskFull}, full.reports) << "reported once";
}

// A disk that stops answering: the lines that fit the bound wait, the rest
// are dropped without holding anyone up, and the file says how many.
TEST(TrafficRecorder, ASlowDiskDropsLinesAndTheFileOwnsUpToThem)
{
    FakeDisk disk;
    disk.held = true;
    const size_t line_size = Line(kDay1, 0, 0, 0, 0, 0).text.size();
    TrafficRecorder recorder(3 * line_size);
    recorder.Start(disk.Sink(), kDay1, disk.Report());
    disk.WaitFor([&] { return disk.writer_waiting; }); // the start line taken, its write held
    for (int i = 0; i < 10; ++i)
        recorder.Append(Line(kDay1, 8, 0, i, 0, static_cast<uint8_t>(i)));
    EXPECT_EQ(7u, recorder.dropped());
    disk.Release();
    disk.WaitFor([&] { return disk.bytes.find(" 02\r\n") != std::string::npos; });
    recorder.Append(Line(kDay1, 8, 0, 30, 0, 0x30));
    recorder.Stop();
    disk.WaitFor([&] { return !disk.reports.empty(); });
    EXPECT_EQ(kBom + "[ = 2026-12-07 ]\r\n"
                     "[ R 08:00:00.000 ] 00\r\n"
                     "[ R 08:00:01.000 ] 01\r\n"
                     "[ R 08:00:02.000 ] 02\r\n"
                     "[ ! 08:00:30.000 ] 记录跟不上：7 行未写入记录\r\n"
                     "[ R 08:00:30.000 ] 30\r\n",
              disk.bytes);
}

// The exit waits for a stalled disk only its bound: past it the write in
// progress is cancelled; what the file got stays, and when the writer gets
// back the stop note says how many lines it left out instead of them, if the
// disk takes it.
TEST(TrafficRecorder, AnExitWaitsForAStalledDiskOnlyItsBound)
{
    for (const bool cancel_ends_write : {true, false}) {
        SCOPED_TRACE(cancel_ends_write ? "the cancel ends the write" : "the disk comes back later");
        FakeDisk disk;
        disk.held = true;
        disk.cancel_ends_write = cancel_ends_write;
        auto recorder = std::make_unique<TrafficRecorder>();
        recorder->Start(disk.Sink(), kDay1, disk.Report());
        disk.WaitFor([&] { return disk.writer_waiting; }); // the start line's write is held
        for (int i = 0; i < 3; ++i)
            recorder->Append(Line(kDay1, 9, 0, i, 0, static_cast<uint8_t>(i)));
        RecordedLine stop{kDay1, LogStamp{9, 0, 5, 250}, std::string()};
        FormatLogNote(stop.time, "停止记录", stop.text);
        EXPECT_FALSE(recorder->Shutdown(&stop, std::chrono::milliseconds(30)));
        EXPECT_EQ(disk.cancels, 1);
        disk.Release();
        disk.WaitFor([&] { return !disk.reports.empty(); });
        recorder.reset(); // joins the writer
        EXPECT_EQ(1, disk.closes);
        if (cancel_ends_write) {
            EXPECT_EQ(std::vector<uint32_t>{kAborted}, disk.reports);
            EXPECT_EQ("", disk.bytes);
        } else {
            EXPECT_EQ(std::vector<uint32_t>{0}, disk.reports);
            EXPECT_EQ(kBom + "[ = 2026-12-07 ]\r\n[ ! 09:00:05.250 ] 停止记录：退出时 3 行未能写入记录\r\n", disk.bytes);
        }
    }
}

// An exit that can wait writes everything, lines dropped for want of room
// owned up to before the stop note.
TEST(TrafficRecorder, AnExitWithinItsBoundWritesEverythingAndTheStopNoteLast)
{
    FakeDisk disk;
    disk.held = true;
    const size_t line_size = Line(kDay1, 0, 0, 0, 0, 0).text.size();
    TrafficRecorder recorder(2 * line_size);
    recorder.Start(disk.Sink(), kDay1, disk.Report());
    disk.WaitFor([&] { return disk.writer_waiting; });
    for (int i = 0; i < 4; ++i)
        recorder.Append(Line(kDay1, 9, 0, i, 0, static_cast<uint8_t>(i)));
    disk.Release();
    RecordedLine stop{kDay1, LogStamp{9, 0, 5, 250}, std::string()};
    FormatLogNote(stop.time, "停止记录", stop.text);
    EXPECT_TRUE(recorder.Shutdown(&stop, std::chrono::seconds(60)));
    EXPECT_EQ(kBom + "[ = 2026-12-07 ]\r\n"
                     "[ R 09:00:00.000 ] 00\r\n"
                     "[ R 09:00:01.000 ] 01\r\n"
                     "[ ! 09:00:01.000 ] 记录跟不上：2 行未写入记录\r\n"
                     "[ ! 09:00:05.250 ] 停止记录\r\n",
              disk.bytes);
    EXPECT_EQ(std::vector<uint32_t>{0}, disk.reports);
}

} // namespace
