// Serial port link: open/configure/close on the GUI thread, overlapped
// writes with a bounded wait from any thread, and one receive thread for the
// life of the process.
//
// No lock guards the port state. The receive thread learns of opens and closes only
// through PortHandle, PortReady and PortOpenGeneration, and it loads
// PortHandle anew for every operation it starts (and takes that operation's
// result from the same handle) so that it never starts one on a handle it
// kept from before a close. A close withdraws PortHandle first, then ends the
// thread's pending wait with SetCommMask(port, 0) and a pending read with
// PURGE_RXABORT, then closes the handle; the thread's next call fails or
// finds no port, and it sleeps until SerialOpen publishes the next one.
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

#include "serial/rx_staging.h"
#include "serial/wake_signal.h"

#include <cstdio>

const uint32_t BaudRateTable[7] = {9600, 14400, 19200, 38400, 56000, 57600, 115200};

std::atomic<HANDLE> PortHandle{INVALID_HANDLE_VALUE};
std::atomic<bool> PortReady{false};

uint32_t ComPortList[256];
uint32_t ComPortCount;

namespace {

// Written by SerialConfigure (GUI thread, before or between opens); read by
// the receive thread.
std::atomic<SerialFlavor> Flavor{SerialFlavor::Tarnwick};
std::atomic<SerialReceiveSink> Sink{nullptr};

// Bumped by Pellfray's SerialOpen (GUI thread) after the purge, before the
// port is published and PortReady set; read by the receive thread, which
// drops bytes held from an earlier port and hands on only reads issued in
// the current generation.
std::atomic<uint32_t> PortOpenGeneration{0};

// Receive thread only.
RxStagingBuffer RxStaging;

// The receive thread waits on it while no port is open; SerialOpen (GUI
// thread) notifies it after publishing a port.
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
    const HANDLE port = PortHandle.load(std::memory_order_acquire);
    if (port == INVALID_HANDLE_VALUE)
        return;
    // Withdrawn first: the receive thread, woken by the mask change below,
    // must find no port rather than start a new wait (with an empty mask,
    // which some drivers let wait for ever) on the handle being closed, or
    // use the handle value after it was closed and perhaps reused.
    PortHandle.store(INVALID_HANDLE_VALUE, std::memory_order_release);
    SetCommMask(port, 0);
    PurgeComm(port, kPurgeAll);
    CloseHandle(port);
}

HANDLE CurrentPort()
{
    return PortHandle.load(std::memory_order_acquire);
}

// One read of the receive thread and its hand-off. Returns after the port
// delivered bytes, or after a failed call (the caller pauses then).
void ReceiveOnePass(OVERLAPPED *overlapped, HANDLE event)
{
    *overlapped = OVERLAPPED{};
    overlapped->hEvent = event;

    // An operation's result is taken from the handle it was issued on: by
    // then PortHandle may name the next open's port, which knows nothing of
    // this operation.
    DWORD mask = 0;
    DWORD count = 0;
    const HANDLE wait_port = CurrentPort();
    if (!WaitCommEvent(wait_port, &mask, overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            Sleep(1);
            return;
        }
        GetOverlappedResult(wait_port, overlapped, &count, TRUE);
    }

    // Tarnwick hands every read on; Pellfray only a read issued on the port
    // of the current open that ends while the port is still ready. The
    // handle for the read is loaded before the generation: Pellfray
    // publishes a port after bumping the generation, so the generation seen
    // here is at least that of the port the read is issued on.
    const bool pellfray = IsPellfray();
    const HANDLE read_port = CurrentPort();
    const uint32_t generation_before = PortOpenGeneration.load(std::memory_order_acquire);

    uint8_t *target = RxStagingReadTarget(&RxStaging, generation_before);
    *overlapped = OVERLAPPED{};
    overlapped->hEvent = event;
    DWORD read = 0;
    if (!ReadFile(read_port, target, kRxReadMax, &read, overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            Sleep(1);
            return;
        }
        read = 0;
        GetOverlappedResult(read_port, overlapped, &read, TRUE);
    }

    const bool ready_after = !pellfray || PortReady.load(std::memory_order_acquire);
    const uint32_t generation_after = PortOpenGeneration.load(std::memory_order_acquire);
    const bool deliverable =
        !pellfray || RxReadDeliverable(generation_before, ready_after, generation_after);
    const RxChunk chunk = RxStagingCommitRead(&RxStaging, read, deliverable);
    if (chunk.length == 0)
        return;
    const SerialReceiveSink sink = Sink.load(std::memory_order_acquire);
    if (sink)
        sink(chunk.data, chunk.length);
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

uint32_t BaudRateForIndex(uint32_t baud_index)
{
    return baud_index < 7 ? BaudRateTable[baud_index] : 9600;
}

bool SerialOpen(const char *device_path, uint32_t baud_index)
{
    if (!device_path)
        return false;
    ClosePortIfOpen();
    if (IsPellfray())
        PortReady.store(false, std::memory_order_release);

    const HANDLE port = CreateFileA(device_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return false; // PortHandle is already invalid: no port is open
    // Both flavours publish the port only once it is configured: a wait
    // that the receive thread issued before SetCommMask below would wait
    // with an empty mask, which some drivers (Wine's among them) never end,
    // and the thread would hear nothing from this port until the next open.

    SetCommMask(port, EV_RXCHAR);
    SetupComm(port, 2048, 2048);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 500;
    SetCommTimeouts(port, &timeouts);

    // Flow control and every other field stay as the driver reports them.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = BaudRateForIndex(baud_index);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);

    if (!IsPellfray()) {
        PurgeComm(port, kPurgeQueues);
        PortHandle.store(port, std::memory_order_release);
        PortPublished.Notify();
        return true;
    }
    PurgeComm(port, kPurgeAll);
    // Pellfray must hand on nothing that arrived before the open ended. A
    // read issued on the port while it was being configured may still be
    // pending after the purge (not every driver ends it on PURGE_RXABORT;
    // Wine's does not) and would then deliver the first bytes after the open
    // as if they were stale, or stale bytes as if they were new. So the
    // receive thread sees the port only now: every read it issues on it
    // holds bytes that arrived after the purge. The generation tells it to
    // drop bytes held from the previous port.
    PortOpenGeneration.fetch_add(1, std::memory_order_release);
    PortHandle.store(port, std::memory_order_release);
    PortReady.store(true, std::memory_order_release);
    PortPublished.Notify();
    return true;
}

void SerialWrite(const uint8_t *data, uint32_t length)
{
    EventHandle event;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.handle;

    const HANDLE port = CurrentPort();
    if (port == INVALID_HANDLE_VALUE || !event.handle)
        return;

    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port, &errors, &status);

    DWORD written = 0;
    if (WriteFile(port, data, length, &written, &overlapped))
        return;
    if (GetLastError() != ERROR_IO_PENDING)
        return;
    if (WaitForSingleObject(event.handle, kWriteWaitMs) == WAIT_OBJECT_0)
        return;
    // Still pending: the driver may use the OVERLAPPED, the event and the
    // caller's buffer until the write has ended, so end it here.
    CancelIoEx(port, &overlapped);
    GetOverlappedResult(port, &overlapped, &written, TRUE);
}

void SerialClose()
{
    ClosePortIfOpen();
}

DWORD WINAPI SerialReceiveThread(LPVOID)
{
    EventHandle event;
    OVERLAPPED overlapped{};
    for (;;) {
        if (CurrentPort() == INVALID_HANDLE_VALUE) {
            // Nothing can arrive without a port; a stale notification from an
            // earlier open only costs one more look.
            PortPublished.Wait();
            continue;
        }
        ReceiveOnePass(&overlapped, event.handle);
    }
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
