// pellfray_log_memory: the memory of Pellfray's log path past the list's
// bound under Wine, without the serial port. Not a test: it prints figures
// and asserts nothing.
//
//   pellfray_log_memory [LINES] [KEEP] [EVERY]
//
// The producer thread pushes 16-byte reads into the chunk queue as the
// receive thread does; the program's own chunk processor (ChunkProcessorLoop)
// takes them and logs each as a line, formatted with the local time and
// handed to the GUI thread through the log's hand-off (LogHandOff, one
// posted message per wake) as Pellfray's traffic log does; the GUI thread
// adds the lines to a string list box with the log list's styles in slices
// of at most 128 lines, as the program does (LogListBatch: drawing off, the oldest lines past KEEP deleted, the head
// line re-inserted, the view put back, drawing on) and shows the received
// byte count in a label. Every EVERY lines (default 10 000) it prints the
// process's private and working-set memory; once the list holds KEEP lines
// (default 100 000) that is the floor the later figures are given against.
// LINES defaults to 150 000. The serial port's own cost (Wine's per read) is
// left out on purpose: PortEcho measures it.
#include <windows.h>

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "modulebench/chunk_queue.h"
#include "modulebench/log_view.h"
#include "modulebench/module_hooks.h"
#include "modulebench/traffic_log.h"

namespace {

constexpr UINT kLinesMessage = WM_APP + 1;

HWND Window;
HWND List;
HWND Label;
LogHandOff Pending;
std::vector<PendingLogEntry> Taken;
size_t TakenNext;
// Lines shown per batch, as the program's slices.
constexpr size_t kLinesPerBatch = 128;
std::atomic<unsigned long long> Logged{0};

struct ListBox {
    size_t Count() const { return Index(SendMessageA(List, LB_GETCOUNT, 0, 0)); }
    size_t Top() const { return Index(SendMessageA(List, LB_GETTOPINDEX, 0, 0)); }
    size_t Page() const { return 20; }
    void Append(const std::string &line) { SendMessageA(List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str())); }
    void Delete(size_t index) { SendMessageA(List, LB_DELETESTRING, static_cast<WPARAM>(index), 0); }
    void Insert(size_t index, const std::string &line)
    {
        SendMessageA(List, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(line.c_str()));
    }
    void SetTop(size_t index) { SendMessageA(List, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0); }
    static size_t Index(LRESULT value) { return value > 0 ? static_cast<size_t>(value) : 0; }
};

// Processor thread: the line as Pellfray's traffic log formats it.
void Received(uint32_t count, const uint8_t *bytes)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    PendingLogEntry entry{'R', count, std::string()};
    FormatLogLine('R', LogStamp{now.wHour, now.wMinute, now.wSecond, -1}, bytes, count, entry.text);
    if (Pending.Push(std::move(entry)) && !PostMessageA(Window, kLinesMessage, 0, 0))
        Pending.WakeFailed();
}

// GUI thread: one slice of at most kLinesPerBatch lines; true when more
// wait.
bool ShowPending(LogListBound &bound)
{
    if (TakenNext == Taken.size()) {
        Pending.TakeAll(Taken);
        TakenNext = 0;
    }
    if (Taken.empty())
        return false;
    ListBox box;
    SendMessageA(List, WM_SETREDRAW, FALSE, 0);
    uint64_t total = 0;
    {
        LogListBatch<ListBox> batch(box, bound);
        for (size_t shown = 0; shown < kLinesPerBatch && TakenNext < Taken.size(); ++shown) {
            const PendingLogEntry &entry = Taken[TakenNext++];
            total = AddRxBytes(entry.count);
            batch.Add(entry.text);
            ++Logged;
        }
        batch.Finish();
    }
    SendMessageA(List, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(List, nullptr, TRUE);
    char text[24];
    SetWindowTextA(Label, FormatByteCount(total, text));
    return TakenNext < Taken.size();
}

double Mb(SIZE_T bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void Report(unsigned long long lines, size_t list_lines, bool *have_floor, PROCESS_MEMORY_COUNTERS_EX *floor)
{
    PROCESS_MEMORY_COUNTERS_EX now{};
    now.cb = sizeof now;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&now), sizeof now);
    if (!*have_floor) {
        std::printf("%9llu lines, list %6zu: private %6.1f MB, working set %6.1f MB\n", lines, list_lines,
                    Mb(now.PagefileUsage), Mb(now.WorkingSetSize));
        return;
    }
    std::printf("%9llu lines, list %6zu: private %6.1f MB (%+.1f), working set %6.1f MB (%+.1f)\n", lines, list_lines,
                Mb(now.PagefileUsage), Mb(now.PagefileUsage) - Mb(floor->PagefileUsage), Mb(now.WorkingSetSize),
                Mb(now.WorkingSetSize) - Mb(floor->WorkingSetSize));
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    const unsigned long long lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 150000;
    const size_t keep = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : kLogListKeepLines;
    const unsigned long long every = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10000;

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PellfrayLogMemory";
    RegisterClassA(&wc);
    Window = CreateWindowExA(0, wc.lpszClassName, "pellfray_log_memory", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 700,
                             500, nullptr, nullptr, wc.hInstance, nullptr);
    List = CreateWindowExA(0, "LISTBOX", "",
                           WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL |
                               LBS_NOINTEGRALHEIGHT,
                           10, 10, 600, 400, Window, nullptr, wc.hInstance, nullptr);
    Label = CreateWindowExA(0, "STATIC", "0", WS_CHILD | WS_VISIBLE, 10, 420, 200, 20, Window, nullptr, wc.hInstance,
                            nullptr);

    ModuleHooks hooks{};
    hooks.log_received = Received;
    SetModuleHooks(hooks);
    ChunkQueueInit();
    std::atomic<bool> stop{false};
    std::thread processor(ChunkProcessorLoop, &stop);
    // The producer stays at most a few thousand lines ahead of the list, as
    // a port at the line rate does with a GUI that keeps up.
    std::thread producer([&] {
        uint8_t read[16];
        for (unsigned long long i = 0; i < lines; ++i) {
            while (i - Logged.load() > 4000)
                Sleep(1);
            for (int k = 0; k < 16; ++k)
                read[k] = static_cast<uint8_t>(i * 7 + k);
            ChunkQueuePushLong(read, sizeof read);
        }
    });

    std::printf("pellfray_log_memory: %llu lines of 16 bytes, the list keeping %zu\n", lines, keep);
    LogListBound bound(keep);
    bool have_floor = false;
    PROCESS_MEMORY_COUNTERS_EX floor{};
    unsigned long long next_report = every;
    while (Logged.load() < lines) {
        MSG msg;
        if (!GetMessageA(&msg, nullptr, 0, 0))
            break;
        if (msg.message == kLinesMessage) {
            if (ShowPending(bound))
                PostMessageA(Window, kLinesMessage, 0, 0);
        } else
            DispatchMessageA(&msg);
        if (Logged.load() < next_report)
            continue;
        next_report += every;
        Report(Logged.load(), bound.lines(), &have_floor, &floor);
        if (!have_floor && bound.lines() >= keep) {
            floor.cb = sizeof floor;
            GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&floor),
                                 sizeof floor);
            have_floor = true;
            std::printf("          (the list is full: the figures below are against this floor)\n");
        }
    }
    producer.join();
    stop.store(true);
    WakeChunkProcessor();
    processor.join();
    return 0;
}
