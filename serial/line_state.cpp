#include "serial/line_state.h"

LineState BenchLineState(uint32_t baud_rate)
{
    LineState s{};
    s.baud_rate = baud_rate;
    s.byte_size = 8;
    s.parity = kNoParity;
    s.stop_bits = kOneStopBit;
    s.binary = 1; // the only mode Windows drivers support
    s.parity_check = 0;
    s.error_char = 0;
    s.null_strip = 0;
    s.outx_cts_flow = 0;
    s.outx_dsr_flow = 0;
    s.dsr_sensitivity = 0;
    s.out_x = 0;
    s.in_x = 0;
    // With XON/XOFF off it means nothing; set so that a driver which looks
    // at it anyway never holds sending after an XOFF it received.
    s.tx_continue_on_xoff = 1;
    s.abort_on_error = 0;
    // Both lines up: some adapters and readers only talk while they are, and
    // a board that resets on DTR is reset by the open, not by later calls.
    s.dtr_control = kDtrControlEnable;
    s.rts_control = kRtsControlEnable;
    return s;
}
