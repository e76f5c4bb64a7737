// The bench's line state (line_state.h) into a DCB, every field it names.
// Header-only so that the programs, the simulators and PortEcho share it
// without another library.
#pragma once

#include <windows.h>

#include "serial/line_state.h"

inline void ApplyLineState(const LineState &s, DCB *dcb)
{
    dcb->DCBlength = sizeof *dcb;
    dcb->BaudRate = s.baud_rate;
    dcb->ByteSize = s.byte_size;
    dcb->Parity = s.parity;
    dcb->StopBits = s.stop_bits;
    dcb->fBinary = s.binary;
    dcb->fParity = s.parity_check;
    dcb->fErrorChar = s.error_char;
    dcb->fNull = s.null_strip;
    dcb->fOutxCtsFlow = s.outx_cts_flow;
    dcb->fOutxDsrFlow = s.outx_dsr_flow;
    dcb->fDsrSensitivity = s.dsr_sensitivity;
    dcb->fOutX = s.out_x;
    dcb->fInX = s.in_x;
    dcb->fTXContinueOnXoff = s.tx_continue_on_xoff;
    dcb->fAbortOnError = s.abort_on_error;
    dcb->fDtrControl = s.dtr_control;
    dcb->fRtsControl = s.rts_control;
}

// Reads the DCB back into the record's form (for checking what the driver
// kept).
inline LineState LineStateOf(const DCB &dcb)
{
    LineState s{};
    s.baud_rate = dcb.BaudRate;
    s.byte_size = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stop_bits = dcb.StopBits;
    s.binary = static_cast<uint8_t>(dcb.fBinary);
    s.parity_check = static_cast<uint8_t>(dcb.fParity);
    s.error_char = static_cast<uint8_t>(dcb.fErrorChar);
    s.null_strip = static_cast<uint8_t>(dcb.fNull);
    s.outx_cts_flow = static_cast<uint8_t>(dcb.fOutxCtsFlow);
    s.outx_dsr_flow = static_cast<uint8_t>(dcb.fOutxDsrFlow);
    s.dsr_sensitivity = static_cast<uint8_t>(dcb.fDsrSensitivity);
    s.out_x = static_cast<uint8_t>(dcb.fOutX);
    s.in_x = static_cast<uint8_t>(dcb.fInX);
    s.tx_continue_on_xoff = static_cast<uint8_t>(dcb.fTXContinueOnXoff);
    s.abort_on_error = static_cast<uint8_t>(dcb.fAbortOnError);
    s.dtr_control = static_cast<uint8_t>(dcb.fDtrControl);
    s.rts_control = static_cast<uint8_t>(dcb.fRtsControl);
    return s;
}

static_assert(DTR_CONTROL_ENABLE == kDtrControlEnable && RTS_CONTROL_ENABLE == kRtsControlEnable &&
                  NOPARITY == kNoParity && ONESTOPBIT == kOneStopBit,
              "the line state's codes are the DCB's");
