// Serial port link: open/configure/close on the GUI thread, overlapped
// writes with a bounded wait from any thread, and one receive thread that
// lives until the program stops it at exit.
//
// PortLock. The handle value of a closed port can be given to the next port
// opened at once, so a thread that loaded PortHandle and then issued a call
// could reach the next port with it, before that port was configured (a
// wait issued on a port whose event mask is still empty never ends, and the
// port stays deaf). So every call issued on the port (the receive thread's
// wait, read and error query, SerialWrite's write and its cancel) is issued
// under PortLock, after checking that the port is still the one of the
// generation the caller works on, and open and close change PortHandle and
// close the handle under it. The lock is never held across a wait: the
// completion of an overlapped call is waited for outside it, on the call's
// own event, and its result taken from the handle it was issued on.
//
// A close withdraws PortHandle, ends the receive thread's pending wait with
// SetCommMask(port, 0) and a pending read with PURGE_RXABORT, then closes
// the handle; the thread's next check finds no port, and it sleeps until
// SerialOpen publishes the next one.
//
// A lost port (see receive_pass.h) is reported once; the thread then leaves
// that generation alone and sleeps like with no port, until the GUI has
// closed it and opened the next.
//
// Staging: the receive thread alone owns RxStaging (see rx_staging.h); the
// GUI thread never writes the staged count. Pellfray's open configures and
// purges the port before it publishes it, bumping PortOpenGeneration just
// before; the receive thread drops bytes held from an earlier port when it
// sees the new generation, and hands on only reads issued in the current
// generation that end while PortReady is still set. So nothing read before
// the open ended, or after a close began, reaches the sink, and no read can
// land at an offset that another thread reset under it.
#include "serial/win32/serial_link.h"

#include "serial/line_state.h"
#include "serial/receive_pass.h"
#include "serial/rx_staging.h"
#include "serial/wake_signal.h"
#include "serial/win32/line_state_win32.h"

#include <cstdio>
#include <mutex>

const uint32_t BaudRateTable[7] = {9600, 14400, 19200, 38400, 56000, 57600, 115200};

std::atomic<HANDLE> PortHandle{INVALID_HANDLE_VALUE};
std::atomic<bool> PortReady{false};

uint32_t ComPortList[256];
uint32_t ComPortCount;

namespace {

// Written by SerialConfigure and SerialSetEvents (GUI thread, before the
// receive thread starts or between opens); read by the receive thread.
std::atomic<SerialFlavor> Flavor{SerialFlavor::Tarnwick};
std::atomic<SerialReceiveSink> Sink{nullptr};
std::atomic<void (*)(uint32_t)> LineErrorSink{nullptr};
std::atomic<void (*)(uint32_t)> LostSink{nullptr};

// See the top of the file. Guards the issuing of every call on the port
// and the changes of PortHandle and PortOpenGeneration.
std::mutex PortLock;

// Bumped by every open (GUI thread, under PortLock) after the port was
// configured and purged, just before it is published. The receive thread
// works on one generation at a time; Pellfray's staging also drops bytes
// held from an earlier port and hands on only reads issued in the current
// generation.
std::atomic<uint32_t> PortOpenGeneration{0};

// Line errors that SerialWrite's ClearCommError took from the port (any
// thread that writes); the receive thread reports them with its own, so
// that a write clearing the port's error state does not swallow them.
std::atomic<uint32_t> WriterSawLineErrors{0};

// CreateFileA's error of the last open; GUI thread only.
DWORD LastOpenError = 0;

// Set by SerialStopReceiveThread (GUI thread, at exit); read by the
// receive thread.
std::atomic<bool> StopReceiving{false};

// Receive thread only.
RxStagingBuffer RxStaging;

// The receive thread waits on it while no port is open (or its port is
// lost); SerialOpen and SerialStopReceiveThread (GUI thread) notify it.
WakeSignal PortPublished;

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR; // 0x0F
constexpr DWORD kPurgeQueues = PURGE_TXCLEAR | PURGE_RXCLEAR;                              // 0x0C
constexpr DWORD kWriteWaitMs = 1000;

// An event that is closed when the scope ends.
struct EventHandle {
    HANDLE handle;
    EventHandle() : handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~EventHandle()
    {
        if (handle)
            CloseHandle(handle);
    }
    EventHandle(const EventHandle &) = delete;
    EventHandle &operator=(const EventHandle &) = delete;
};

bool IsPellfray()
{
    return Flavor.load(std::memory_order_relaxed) == SerialFlavor::Pellfray;
}

// GUI thread. Pellfray stops handing bytes on before anything else happens.
void ClosePortIfOpen()
{
    if (IsPellfray())
        PortReady.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(PortLock);
    const HANDLE port = PortHandle.load(std::memory_order_relaxed);
    if (port == INVALID_HANDLE_VALUE)
        return;
    // Withdrawn first: the receive thread, woken by the mask change below,
    // must find no port rather than start a new wait (with an empty mask,
    // which some drivers let wait for ever) on the handle being closed.
    PortHandle.store(INVALID_HANDLE_VALUE, std::memory_order_release);
    SetCommMask(port, 0);
    PurgeComm(port, kPurgeAll);
    CloseHandle(port);
}

// The port of generation, if it is still the open one; caller holds PortLock.
HANDLE PortOfGeneration(uint32_t generation)
{
    const HANDLE port = PortHandle.load(std::memory_order_relaxed);
    if (port == INVALID_HANDLE_VALUE || PortOpenGeneration.load(std::memory_order_relaxed) != generation)
        return INVALID_HANDLE_VALUE;
    return port;
}

// The receive thread's side of one open port, for RunReceivePass.
struct ReceiveContext {
    uint32_t generation; // the port this pass works on
    HANDLE event;
    OVERLAPPED overlapped;
};

bool ReceiveWait(void *context)
{
    ReceiveContext &c = *static_cast<ReceiveContext *>(context);
    c.overlapped = OVERLAPPED{};
    c.overlapped.hEvent = c.event;
    DWORD mask = 0;
    HANDLE port;
    BOOL issued;
    DWORD error;
    {
        std::lock_guard<std::mutex> lock(PortLock);
        port = PortOfGeneration(c.generation);
        if (port == INVALID_HANDLE_VALUE)
            return false;
        issued = WaitCommEvent(port, &mask, &c.overlapped);
        error = GetLastError();
    }
    if (issued)
        return true;
    if (error != ERROR_IO_PENDING)
        return false;
    // The result comes from the handle the wait was issued on: by now
    // PortHandle may name the next open's port, which knows nothing of it.
    DWORD unused = 0;
    return GetOverlappedResult(port, &c.overlapped, &unused, TRUE) != FALSE;
}

int32_t ReceiveRead(void *context)
{
    ReceiveContext &c = *static_cast<ReceiveContext *>(context);
    c.overlapped = OVERLAPPED{};
    c.overlapped.hEvent = c.event;
    const bool pellfray = IsPellfray();
    HANDLE port;
    uint8_t *target;
    DWORD read = 0;
    BOOL issued;
    DWORD error;
    {
        std::lock_guard<std::mutex> lock(PortLock);
        port = PortOfGeneration(c.generation);
        if (port == INVALID_HANDLE_VALUE)
            return -1;
        target = RxStagingReadTarget(&RxStaging, c.generation);
        issued = ReadFile(port, target, kRxReadMax, &read, &c.overlapped);
        error = GetLastError();
    }
    bool failed = false;
    if (!issued) {
        if (error != ERROR_IO_PENDING)
            return -1;
        read = 0;
        failed = !GetOverlappedResult(port, &c.overlapped, &read, TRUE);
    }

    // Tarnwick hands every read on; Pellfray only a read issued on the port
    // of the current open that ends while the port is still ready.
    const bool ready_after = !pellfray || PortReady.load(std::memory_order_acquire);
    const uint32_t generation_after = PortOpenGeneration.load(std::memory_order_acquire);
    const bool deliverable = !pellfray || RxReadDeliverable(c.generation, ready_after, generation_after);
    const RxChunk chunk = RxStagingCommitRead(&RxStaging, read, deliverable);
    if (chunk.length != 0) {
        const SerialReceiveSink sink = Sink.load(std::memory_order_acquire);
        if (sink)
            sink(chunk.data, chunk.length);
    }
    if (failed)
        return -1;
    return static_cast<int32_t>(read > kRxReadMax ? kRxReadMax : read);
}

PortAnswer ReceiveLineErrors(void *context, uint32_t *flags, uint32_t *queued)
{
    ReceiveContext &c = *static_cast<ReceiveContext *>(context);
    DWORD errors = 0;
    COMSTAT status{};
    {
        std::lock_guard<std::mutex> lock(PortLock);
        const HANDLE port = PortOfGeneration(c.generation);
        if (port == INVALID_HANDLE_VALUE)
            return PortAnswer::Withdrawn;
        if (!ClearCommError(port, &errors, &status))
            return PortAnswer::NoAnswer;
    }
    *flags = errors | WriterSawLineErrors.exchange(0, std::memory_order_acq_rel);
    *queued = status.cbInQue;
    return PortAnswer::Answered;
}

void ReportLineErrors(void *, uint32_t flags)
{
    if (auto sink = LineErrorSink.load(std::memory_order_acquire))
        sink(flags);
}

// A write that ended: sent when the driver took it all, else cut short by
// the driver's own write time-out.
SerialWriteOutcome Outcome(uint32_t length, DWORD written, DWORD error)
{
    if (written >= length)
        return {WriteStatus::Sent, length, error};
    return {WriteStatus::TimedOut, written, error};
}

bool PortOpens(uint32_t n)
{
    char name[12];
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", static_cast<unsigned>(n));
    const HANDLE h = CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

} // namespace

void SerialConfigure(SerialFlavor flavor, SerialReceiveSink sink)
{
    Flavor.store(flavor, std::memory_order_relaxed);
    Sink.store(sink, std::memory_order_release);
}

void SerialSetEvents(const SerialEvents &events)
{
    LineErrorSink.store(events.line_errors, std::memory_order_release);
    LostSink.store(events.port_lost, std::memory_order_release);
}

uint32_t BaudRateForIndex(uint32_t baud_index)
{
    return baud_index < 7 ? BaudRateTable[baud_index] : 9600;
}

SerialOpenResult SerialOpenChecked(const char *device_path, uint32_t baud_index)
{
    if (!device_path)
        return SerialOpenResult::Failed;
    ClosePortIfOpen();

    const HANDLE port = CreateFileA(device_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    LastOpenError = port == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (port == INVALID_HANDLE_VALUE)
        return SerialOpenResult::Failed; // PortHandle is already invalid: no port is open
    // The port is published only once it is configured: a wait that the
    // receive thread issued before SetCommMask below would wait with an
    // empty mask, which some drivers (Wine's among them) never end, and the
    // thread would hear nothing from this port until the next open.

    SetCommMask(port, EV_RXCHAR);
    // A driver may keep a smaller queue than asked for; the request is a
    // recommendation, and its refusal leaves the port usable.
    SetupComm(port, kDriverReceiveQueue, kDriverSendQueue);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 500;
    SetCommTimeouts(port, &timeouts);

    // The whole line state, not just the speed: whatever the program that
    // used the port before left (flow control, NUL stripping, parity
    // checks) would otherwise swallow or hold bytes without a word. The
    // characters and limits the DCB also holds come from the driver.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    ApplyLineState(BenchLineState(BaudRateForIndex(baud_index)), &dcb);
    if (!SetCommState(port, &dcb)) {
        // Running on at whatever speed the port kept would garble every
        // byte while the dialog shows the speed chosen.
        CloseHandle(port);
        return SerialOpenResult::Refused;
    }

    // Pellfray must hand on nothing that arrived before the open ended. A
    // read issued on the port while it was being configured may still be
    // pending after the purge (not every driver ends it on PURGE_RXABORT;
    // Wine's does not) and would then deliver the first bytes after the open
    // as if they were stale, or stale bytes as if they were new. So the
    // receive thread sees the port only now: every read it issues on it
    // holds bytes that arrived after the purge. The generation tells it to
    // drop bytes held from the previous port.
    PurgeComm(port, IsPellfray() ? kPurgeAll : kPurgeQueues);
    {
        std::lock_guard<std::mutex> lock(PortLock);
        PortOpenGeneration.fetch_add(1, std::memory_order_release);
        PortHandle.store(port, std::memory_order_release);
        if (IsPellfray())
            PortReady.store(true, std::memory_order_release);
    }
    PortPublished.Notify();
    return SerialOpenResult::Opened;
}

bool SerialOpen(const char *device_path, uint32_t baud_index)
{
    return SerialOpenChecked(device_path, baud_index) == SerialOpenResult::Opened;
}

DWORD SerialLastOpenError()
{
    return LastOpenError;
}

uint32_t SerialPortGeneration()
{
    return PortOpenGeneration.load(std::memory_order_acquire);
}

SerialWriteOutcome SerialWriteReport(const uint8_t *data, uint32_t length)
{
    EventHandle event;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.handle;

    HANDLE port;
    uint32_t generation;
    BOOL done;
    DWORD error;
    DWORD written = 0;
    {
        std::lock_guard<std::mutex> lock(PortLock);
        port = PortHandle.load(std::memory_order_relaxed);
        if (port == INVALID_HANDLE_VALUE)
            return {WriteStatus::NoPort, 0, 0};
        if (!event.handle)
            return {WriteStatus::Failed, 0, GetLastError()};
        generation = PortOpenGeneration.load(std::memory_order_relaxed);
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(port, &errors, &status);
        if ((errors & kLineErrorMask) != 0)
            WriterSawLineErrors.fetch_or(errors & kLineErrorMask, std::memory_order_acq_rel);
        done = WriteFile(port, data, length, &written, &overlapped);
        error = GetLastError();
    }
    // A write that ends at once may still have ended short: the driver's
    // write time-out (100 ms a byte + 500 ms) ends it with fewer bytes taken.
    if (done)
        return Outcome(length, written, 0);
    if (error != ERROR_IO_PENDING)
        return {WriteStatus::Failed, 0, error};
    if (WaitForSingleObject(event.handle, kWriteWaitMs) == WAIT_OBJECT_0) {
        written = 0;
        if (!GetOverlappedResult(port, &overlapped, &written, FALSE))
            return {WriteStatus::Failed, written, GetLastError()};
        return Outcome(length, written, 0);
    }
    // Still pending: the driver may use the OVERLAPPED, the event and the
    // caller's buffer until the write has ended, so end it here. A port
    // closed meanwhile has ended it already, and its handle value may name
    // another port by now. What the driver took before the cancel is what
    // went out.
    {
        std::lock_guard<std::mutex> lock(PortLock);
        if (PortOfGeneration(generation) == port)
            CancelIoEx(port, &overlapped);
    }
    written = 0;
    if (GetOverlappedResult(port, &overlapped, &written, TRUE) && written == length)
        return {WriteStatus::Sent, written, 0}; // it ended just as the wait ran out
    return {WriteStatus::TimedOut, written > length ? length : written, 0};
}

bool SerialWriteChecked(const uint8_t *data, uint32_t length)
{
    return SerialWriteReport(data, length).status != WriteStatus::NoPort;
}

void SerialWrite(const uint8_t *data, uint32_t length)
{
    SerialWriteReport(data, length);
}

void SerialClose()
{
    ClosePortIfOpen();
}

bool SerialPortAnswers()
{
    std::lock_guard<std::mutex> lock(PortLock);
    const HANDLE port = PortHandle.load(std::memory_order_relaxed);
    if (port == INVALID_HANDLE_VALUE)
        return true;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status))
        return false;
    if ((errors & kLineErrorMask) != 0)
        WriterSawLineErrors.fetch_or(errors & kLineErrorMask, std::memory_order_acq_rel);
    return true;
}

DWORD WINAPI SerialReceiveThread(LPVOID)
{
    EventHandle event;
    ReceiveContext context{};
    context.event = event.handle;
    const RxPortCalls calls = {&context, ReceiveWait, ReceiveRead, ReceiveLineErrors, ReportLineErrors};
    // The generation this thread found gone; it is not touched again.
    uint32_t lost_generation = 0;
    bool lost_any = false;
    while (!StopReceiving.load(std::memory_order_acquire)) {
        bool open;
        {
            std::lock_guard<std::mutex> lock(PortLock);
            open = PortHandle.load(std::memory_order_relaxed) != INVALID_HANDLE_VALUE;
            context.generation = PortOpenGeneration.load(std::memory_order_relaxed);
        }
        if (!open || (lost_any && context.generation == lost_generation)) {
            // Nothing can arrive without a port; a stale notification from an
            // earlier open only costs one more look.
            PortPublished.Wait();
            continue;
        }
        switch (RunReceivePass(calls)) {
        case RxPassEnd::Done:
            break;
        case RxPassEnd::CallFailed:
            Sleep(1); // a port that fails calls yet answers is not spun on
            break;
        case RxPassEnd::PortGone:
            lost_any = true;
            lost_generation = context.generation;
            if (auto sink = LostSink.load(std::memory_order_acquire))
                sink(lost_generation);
            break;
        }
    }
    return 0;
}

void SerialStopReceiveThread()
{
    StopReceiving.store(true, std::memory_order_release);
    ClosePortIfOpen();
    PortPublished.Notify();
}

void EnumerateComPorts()
{
    ComPortCount = 0;
    for (uint32_t n = 1; n <= 256; ++n) {
        if (PortOpens(n))
            ComPortList[ComPortCount++] = n;
    }
}

uint32_t EnumerateComPortMask()
{
    uint32_t mask = 0;
    for (uint32_t n = 1; n <= 32; ++n) {
        if (PortOpens(n))
            mask |= 1u << (n - 1);
    }
    return mask;
}

void ExpandComPortMask(uint32_t mask)
{
    ComPortCount = 0;
    for (uint32_t n = 1; n <= 32; ++n) {
        if (mask & (1u << (n - 1)))
            ComPortList[ComPortCount++] = n;
    }
}
