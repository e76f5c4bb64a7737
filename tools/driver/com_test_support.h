// Test side of a null-modem COM port pair made by with-com-pairs.sh.
//
// A Win32 test (gtest or a plain driver program) runs under Wine with the
// pairs listed in BENCH_COM_PAIRS ("3:13 10:20"). The product opens one end
// of a pair; the test opens the other with TestComPort and plays the device:
// it writes what the device would send and reads what the product sent,
// always with a time limit so that a silent product fails a test instead of
// hanging it.
//
// Wine also turns the host's ttyS0 into COM1 in every session. A test must
// never touch a port it did not create: call RemoveForeignComPorts() first,
// before the product lists or opens ports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The pairs of this run, from BENCH_COM_PAIRS; empty when not run through
// with-com-pairs.sh.
std::vector<std::pair<uint32_t, uint32_t>> ComPairsFromEnvironment();

// The other end of port n's cable, or 0 when n is not in any pair.
uint32_t ComPeerOf(uint32_t n);

// "\\.\COMn", the device path of COMn.
std::string ComDevicePath(uint32_t n);

// The rate GetCommState reads back after a port was set to rate. Wine keeps
// the line speed in termios, which knows no 14400 or 56000: it sets such a
// rate through a custom divisor on top of B38400 and reads 38400 back.
DWORD ReadBackBaudRate(DWORD rate);

// Whether COMn currently opens (exclusive open, closed at once).
bool ComPortOpens(uint32_t n);

// Removes the DOS device definition of every COMn (1..999) that is not an
// end of one of this run's pairs, Wine's automatic COM1 included, and makes
// the device map of serial ports hold exactly this run's pair ends. Returns
// the number of definitions removed.
int RemoveForeignComPorts();

// The ports the programs' lists are refilled from: Windows's device map of
// serial ports (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), where every serial
// driver registers the ports it made. Wine registers only the host ports it
// found when the prefix started, so the tests keep the map themselves:
// RemoveForeignComPorts leaves in it exactly this run's pair ends, and the
// cable requests below register and unregister the ports they make and
// remove, as a driver would. Value names are "\Device\BenchSerialN".
bool RegisterComPort(uint32_t n);
bool UnregisterComPort(uint32_t n);
// Any value, for registry contents a driver might leave (junk, other case).
bool RegisterComValue(const std::string &value, const std::string &data);
bool UnregisterComValue(const std::string &value);
// Every value of the map removed.
bool ClearRegisteredComPorts();

// Removes Wine's automatic COM1 only. Returns true when it was defined.
bool RemoveWineCom1();

// Leaves COMn as a terminal program that used it before might: XON/XOFF
// both ways, RTS/CTS and DSR handshaking, NUL stripping, parity checking and
// replacement, abort on error, DTR off, at 9600. A driver keeps such
// settings for the next program that opens the port (a pty keeps its
// termios while the cable lasts). False when the port did not take XON/XOFF.
bool LeaveComPortInAnotherProgramsState(uint32_t n);

// Sends WM_DEVICECHANGE to window as Windows does when the device of port
// name ("COM5") arrived (DBT_DEVICEARRIVAL) or was removed
// (DBT_DEVICEREMOVECOMPLETE), with its DEV_BROADCAST_PORT record; false
// when the window did not return from it within timeout_ms (a window that
// holds the broadcast, with a modal box say).
bool SendPortDeviceChange(HWND window, WPARAM event, const char *name, DWORD timeout_ms);

// The cables themselves, changed by with-com-pairs.sh on request while the
// test runs (false when the harness did not do it within a few seconds):
// COMn's link removed (still listed by a program that listed it, but it no
// longer opens, and unregistered) and made again; n's pair pulled out (both
// ends vanish and are unregistered, as a USB adapter's do) and plugged in
// again with the same names; a new pair a:b plugged in (and registered).
bool UnlinkComPort(uint32_t n);
bool RelinkComPort(uint32_t n);
bool PullComPair(uint32_t n);
bool PlugComPair(uint32_t n);
bool AddComPair(uint32_t a, uint32_t b);
// Under the pty shim: every port refuses to be set to rate (0: none does).
bool RefuseComRate(uint32_t rate);

// The test's own end of a pair: an overlapped handle at 115200 8N1, closed
// when the object goes. All calls are bounded by a time limit. Opened
// without sharing, but Wine does not enforce that on COM ports: a second
// open of the same end succeeds there, so tests cannot use it to prove that
// a port was released.
class TestComPort {
public:
    TestComPort() = default;
    explicit TestComPort(uint32_t n) { Open(n); }
    ~TestComPort() { Close(); }
    TestComPort(const TestComPort &) = delete;
    TestComPort &operator=(const TestComPort &) = delete;

    // Opens COMn; purge drops whatever already waits in its queues.
    bool Open(uint32_t n, bool purge = true);
    void Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }

    // Writes all of data; false when it did not finish within timeout_ms.
    bool Write(const void *data, uint32_t length, DWORD timeout_ms = 2000);
    bool Write(const std::vector<uint8_t> &data, DWORD timeout_ms = 2000)
    {
        return Write(data.data(), static_cast<uint32_t>(data.size()), timeout_ms);
    }

    // Reads until length bytes arrived or timeout_ms passed; returns what
    // arrived (fewer bytes on time-out).
    std::vector<uint8_t> Read(uint32_t length, DWORD timeout_ms = 2000);

    // Reads whatever arrives until nothing more came for quiet_ms, at most
    // timeout_ms in all.
    std::vector<uint8_t> ReadUntilQuiet(DWORD quiet_ms, DWORD timeout_ms = 5000);

    // Discards whatever arrives within ms.
    void Drain(DWORD ms) { ReadUntilQuiet(ms, ms); }

    // Bytes received and not yet read (the driver's input queue).
    uint32_t QueuedInput();
    // Waits until at least count bytes wait in the input queue; false after
    // timeout_ms. Lets a test know that bytes it sent have arrived before it
    // lets the product open the port.
    bool WaitForQueuedInput(uint32_t count, DWORD timeout_ms = 3000);

private:
    // One read of at most max bytes, waiting at most timeout_ms for the
    // first; returns the count (0 on time-out or failure).
    uint32_t ReadSome(uint8_t *out, uint32_t max, DWORD timeout_ms);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
};

// A cable that takes nothing more from the program on COMn: with the device
// on the far end not reading, COMn is opened a second time (Wine allows it)
// and written to until not even one byte more is taken, so every buffer on
// the way is full. The program's next write on COMn then stays pending until
// its own time-out runs out, and the cancel leaves 0 bytes taken. The line
// flows again once the far end reads (what it reads first is 0x5A filler).
// False when COMn did not open or the line never filled.
bool StallComLine(uint32_t n);
