// The whole line state a port is given on every open, by both programs, the
// simulators and PortEcho.
//
// Windows keeps a port's settings from one program to the next, so a port
// that a terminal left with XON/XOFF, RTS/CTS or DSR handshaking, NUL
// stripping, parity checking or abort-on-error would otherwise keep them:
// with XON/XOFF on, every 0x11 and 0x13 byte of a report vanishes in the
// driver; with CTS flow control and a device that does not drive CTS, every
// write waits its full time-out. So every field of the device control block
// that shapes the bytes on the line is set here, none is taken over from the
// driver. The Win32 edge (win32/line_state_win32.h) copies this record into
// the DCB field by field; the fields keep the DCB's names and values (0 or
// 1, the DTR_/RTS_CONTROL_ and parity/stop-bit codes), so the host tests
// check the table without windows.h.
#pragma once

#include <cstdint>

// Values of the DCB's control-line and framing codes (winbase.h).
constexpr uint8_t kDtrControlEnable = 1; // DTR_CONTROL_ENABLE
constexpr uint8_t kRtsControlEnable = 1; // RTS_CONTROL_ENABLE
constexpr uint8_t kNoParity = 0;         // NOPARITY
constexpr uint8_t kOneStopBit = 0;       // ONESTOPBIT

struct LineState {
    uint32_t baud_rate;
    uint8_t byte_size;
    uint8_t parity;
    uint8_t stop_bits;
    uint8_t binary;              // fBinary: no end-of-file character processing
    uint8_t parity_check;        // fParity
    uint8_t error_char;          // fErrorChar: replace bytes with parity errors
    uint8_t null_strip;          // fNull: discard NUL bytes
    uint8_t outx_cts_flow;       // fOutxCtsFlow
    uint8_t outx_dsr_flow;       // fOutxDsrFlow
    uint8_t dsr_sensitivity;     // fDsrSensitivity: drop bytes while DSR is low
    uint8_t out_x;               // fOutX: XON/XOFF on sending
    uint8_t in_x;                // fInX: XON/XOFF on receiving
    uint8_t tx_continue_on_xoff; // fTXContinueOnXoff
    uint8_t abort_on_error;      // fAbortOnError: stop all I/O after a line error
    uint8_t dtr_control;         // fDtrControl
    uint8_t rts_control;         // fRtsControl
};

// 8N1 at rate, binary, no parity check or replacement, no NUL stripping, no
// hardware or software flow control, no abort on error, DTR and RTS on.
LineState BenchLineState(uint32_t baud_rate);
