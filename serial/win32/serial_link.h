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
//    new one is opened with FILE_FLAG_OVERLAPPED, EV_RXCHAR mask, 2048/2048
//    driver queues, read time-outs MAXDWORD/0/0 (a read returns at once with
//    what the driver holds), write time-outs 100 ms per byte + 500 ms, and
//    8N1 at BaudRateTable[baud_index] (9600 for any index above 6). Returns
//    true when CreateFileA succeeded; later configuration failures are not
//    examined. False means no port is open.
//  - SerialWrite(data, length): one overlapped WriteFile of the whole buffer.
//    Returns within about 1000 ms and reports nothing. A write still pending
//    after 1000 ms is cancelled and waited for before returning, so the
//    caller's buffer is free when the call returns. Harmless with no port.
//  - SerialClose(): closes the port if one is open, else nothing. Ends a
//    pending wait of the receive thread first.
//  - Tarnwick's flavour purges TX/RX queues after configuring and hands every
//    read on at once. Pellfray's flavour keeps PortReady clear from the start
//    of SerialOpen/SerialClose to the end of a successful SerialOpen; bytes
//    read meanwhile are staged and never handed on. In both flavours
//    PortHandle becomes valid only once the port is configured and purged,
//    so no wait or read of the receive thread spans the configuration.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

enum class SerialFlavor : uint8_t { Tarnwick, Pellfray };

// Receives each chunk the receive thread read, on the receive thread.
// Must copy the bytes before returning: the staging buffer is reused.
using SerialReceiveSink = void (*)(const uint8_t *data, uint32_t length);

// Chooses the program's behaviour; call once before starting the receive
// thread (the main dialog's initialisation).
void SerialConfigure(SerialFlavor flavor, SerialReceiveSink sink);

extern const uint32_t BaudRateTable[7];
uint32_t BaudRateForIndex(uint32_t baud_index);

// Written only by SerialOpen/SerialClose (GUI thread); read by every thread.
// A close withdraws it before it closes the handle.
extern std::atomic<HANDLE> PortHandle;
// Pellfray only. Written by the GUI thread, read by the receive thread.
extern std::atomic<bool> PortReady;

bool SerialOpen(const char *device_path, uint32_t baud_index);
void SerialWrite(const uint8_t *data, uint32_t length);
void SerialClose();
DWORD WINAPI SerialReceiveThread(LPVOID unused);

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
