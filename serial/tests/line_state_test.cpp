// The line state every open sets, field by field: each field that another
// program may have left otherwise (flow control, NUL stripping, parity
// checking, abort on error) has the one value under which every byte passes
// and every write goes out.
#include "serial/line_state.h"

#include <gtest/gtest.h>

namespace {

TEST(LineState, EveryFieldHasTheValueUnderWhichEveryBytePasses)
{
    for (const uint32_t rate : {9600u, 56000u, 115200u}) {
        SCOPED_TRACE(rate);
        const LineState s = BenchLineState(rate);
        const struct {
            const char *field;
            uint32_t value;
            uint32_t want;
        } fields[] = {
            {"BaudRate", s.baud_rate, rate},
            {"ByteSize", s.byte_size, 8},
            {"Parity (NOPARITY)", s.parity, 0},
            {"StopBits (ONESTOPBIT)", s.stop_bits, 0},
            {"fBinary", s.binary, 1},
            {"fParity", s.parity_check, 0},
            {"fErrorChar", s.error_char, 0},
            {"fNull", s.null_strip, 0},
            {"fOutxCtsFlow", s.outx_cts_flow, 0},
            {"fOutxDsrFlow", s.outx_dsr_flow, 0},
            {"fDsrSensitivity", s.dsr_sensitivity, 0},
            {"fOutX", s.out_x, 0},
            {"fInX", s.in_x, 0},
            {"fTXContinueOnXoff", s.tx_continue_on_xoff, 1},
            {"fAbortOnError", s.abort_on_error, 0},
            {"fDtrControl (DTR_CONTROL_ENABLE)", s.dtr_control, 1},
            {"fRtsControl (RTS_CONTROL_ENABLE)", s.rts_control, 1},
        };
        for (const auto &f : fields)
            EXPECT_EQ(f.want, f.value) << f.field;
    }
}

} // namespace
