// Serial port link shared by both programs (Win32 edge).
//
// One port per process. The GUI thread opens and closes it; SerialWrite may
// be called from the GUI thread and, in Pellfray, also from the chunk
// processor; SerialReceiveThread runs for the life of the process and hands
// every chunk it reads to the program's receive sink, in arrival order,
// without framing.
//
// Exact behaviour callers rely on:
//  - SerialOpen(path, baud_index): null path -> false, an open port stays
//    open. Otherwise any open port is closed first (also the same port), the
//    new one is opened with FILE_FLAG_OVERLAPPED, EV_RXCHAR mask, a receive
//    queue of kDriverReceiveQueue bytes and a 2048-byte send queue, read
//    time-outs MAXDWORD/0/0 (a read returns at once with what the driver
//    holds), write time-outs 100 ms per byte + 500 ms, and the whole line
//    state of line_state.h (8N1, no flow control, no NUL stripping, no
//    parity check, DTR and RTS on) at BaudRateTable[baud_index] (9600 for
//    any index above 6), whatever the port kept from before. True when the
//    port is open and configured. False means no port is open: it is
//    missing or busy (CreateFileA failed), or SerialOpenChecked says
//    Refused: the driver rejected the line settings (SetCommState failed),
//    and the port was closed again rather than run at a speed it does not
//    run at.
//  - SerialWriteReport(data, length): one overlapped WriteFile of the whole
//    buffer. Returns within about 1000 ms. A write still pending after
//    1000 ms is cancelled and waited for before returning, so the caller's
//    buffer is free when the call returns. The outcome (write_outcome.h)
//    says whether every byte went out, and if not, why and how many did:
//    NoPort (nothing written), Failed (WriteFile or its completion failed,
//    with the error code), TimedOut (the driver's write time-out ended it
//    short, or it was cancelled after the second). SerialWrite is the same
//    without the outcome; SerialWriteChecked says only whether a port was
//    open to write to.
//  - SerialClose(): closes the port if one is open, else nothing. Ends a
//    pending wait of the receive thread first.
//  - Tarnwick's flavour purges TX/RX queues after configuring and hands every
//    read on at once. Pellfray's flavour keeps PortReady clear from the start
//    of SerialOpen/SerialClose to the end of a successful SerialOpen; bytes
//    read meanwhile are staged and never handed on. In both flavours
//    PortHandle becomes valid only once the port is configured and purged,
//    so no wait or read of the receive thread spans the configuration.
//  - The receive thread reads what the driver holds to the end after every
//    event, asks the port for line errors after every event, and reports a
//    port that stops answering as lost, once per open (see receive_pass.h).
#pragma once

#include <windows.h>

#include "serial/write_outcome.h"

#include <atomic>
#include <cstdint>

enum class SerialFlavor : uint8_t { Tarnwick, Pellfray };

// Receives each chunk the receive thread read, on the receive thread.
// Must copy the bytes before returning: the staging buffer is reused.
using SerialReceiveSink = void (*)(const uint8_t *data, uint32_t length);

// Chooses the program's behaviour; call once before starting the receive
// thread (the main dialog's initialisation).
void SerialConfigure(SerialFlavor flavor, SerialReceiveSink sink);

// What else the receive thread reports, on the receive thread; either may be
// null. line_errors: the port's line errors (receive_pass.h flags), after
// the bytes handed to the sink before them. port_lost: the open port of that
// generation stopped answering (an adapter pulled out); called once per
// open, after which the thread leaves the port alone until the next open.
struct SerialEvents {
    void (*line_errors)(uint32_t flags);
    void (*port_lost)(uint32_t generation);
};
// Call before starting the receive thread.
void SerialSetEvents(const SerialEvents &events);

// The receive queue asked of the driver. The receive path may hold the
// receive thread for up to a second while its consumer catches up (the
// ring's or the chunk queue's wait for room), and the driver must keep what
// arrives meanwhile: a second at the fastest speed offered, 115200 bit/s at
// ten bits a byte, is 11520 bytes, rounded up to the next power of two.
constexpr DWORD kDriverReceiveQueue = 16384;
constexpr DWORD kDriverSendQueue = 2048;
constexpr uint32_t kConsumerWaitBoundMs = 1000; // Tarnwick's ring, Pellfray's chunk queue
static_assert(kDriverReceiveQueue >= 115200 / 10 * kConsumerWaitBoundMs / 1000,
              "the driver's queue must hold what arrives while the receive thread waits for room");

extern const uint32_t BaudRateTable[7];
uint32_t BaudRateForIndex(uint32_t baud_index);

// Written only by SerialOpen/SerialClose (GUI thread); read by every thread.
// A close withdraws it before it closes the handle.
extern std::atomic<HANDLE> PortHandle;
// Pellfray only. Written by the GUI thread, read by the receive thread.
extern std::atomic<bool> PortReady;

enum class SerialOpenResult : uint8_t { Opened, Failed, Refused };
SerialOpenResult SerialOpenChecked(const char *device_path, uint32_t baud_index);
bool SerialOpen(const char *device_path, uint32_t baud_index);
// GUI thread: CreateFileA's error when the last SerialOpenChecked failed
// (missing, held by another program), for telling the user why; 0 after an
// open that got that far.
DWORD SerialLastOpenError();
// Generation of the port open now (every open counts one up); what
// port_lost reports. GUI thread, after a successful open.
uint32_t SerialPortGeneration();
SerialWriteOutcome SerialWriteReport(const uint8_t *data, uint32_t length);
void SerialWrite(const uint8_t *data, uint32_t length);
// False when no port was open, so nothing was written (see above).
bool SerialWriteChecked(const uint8_t *data, uint32_t length);
void SerialClose();
// GUI thread: whether the open port still answers (ClearCommError), for a
// device change that Windows announces while a wait on the port goes on; a
// driver that does not end that wait when its device goes is caught this
// way. True with no port open.
bool SerialPortAnswers();
DWORD WINAPI SerialReceiveThread(LPVOID unused);
// GUI thread, at exit: closes the port and makes the receive thread return;
// the caller then waits for the thread's handle. The thread must not be
// held in the sink meanwhile (the callers end their consumers' waits first).
void SerialStopReceiveThread();

// Port numbers n of the COMn that could be opened at start-up, ascending.
// Tarnwick probes COM1..COM256, Pellfray COM1..COM32.
extern uint32_t ComPortList[256];
extern uint32_t ComPortCount;

// Tarnwick: probes COM1..COM256 into ComPortList/ComPortCount.
void EnumerateComPorts();
// Pellfray: probes COM1..COM32; bit n-1 set when COMn opened. The dialog
// expands it with ExpandComPortMask.
uint32_t EnumerateComPortMask();
void ExpandComPortMask(uint32_t mask);
