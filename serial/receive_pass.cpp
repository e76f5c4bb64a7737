#include "serial/receive_pass.h"

#include "serial/rx_staging.h"

#include <cstring>

RxPassEnd RunReceivePass(const RxPortCalls &port)
{
    // Reads follow a failed wait too: the failure may be the port's own (a
    // read then fails as well), and what the driver holds is taken either way.
    const bool waited = port.wait(port.context);
    bool read_failed = false;
    for (;;) {
        uint32_t got = 0;
        for (;;) {
            const int32_t count = port.read(port.context);
            if (count < 0) {
                read_failed = true;
                break;
            }
            got += static_cast<uint32_t>(count);
            if (static_cast<uint32_t>(count) < kRxReadMax)
                break; // a short read: the queue may be empty, the count says
        }

        uint32_t flags = 0;
        uint32_t queued = 0;
        switch (port.line_errors(port.context, &flags, &queued)) {
        case PortAnswer::NoAnswer:
            return RxPassEnd::PortGone;
        case PortAnswer::Withdrawn:
            return RxPassEnd::Done;
        case PortAnswer::Answered:
            break;
        }
        flags &= kLineErrorMask;
        if (flags != 0)
            port.report_errors(port.context, flags);
        if (read_failed || queued == 0 || got == 0)
            break;
    }
    return waited && !read_failed ? RxPassEnd::Done : RxPassEnd::CallFailed;
}

const char *LineErrorWords(uint32_t flags, char *out, uint32_t size)
{
    static const struct {
        uint32_t flag;
        const char *word;
    } kWords[] = {
        {kLineErrorOverrun, "overrun"}, {kLineErrorRxOver, "queue overflow"}, {kLineErrorFraming, "framing"},
        {kLineErrorParity, "parity"},   {kLineErrorBreak, "break"},
    };
    if (size == 0)
        return out;
    out[0] = '\0';
    for (const auto &w : kWords) {
        if ((flags & w.flag) == 0)
            continue;
        const size_t used = std::strlen(out);
        const size_t need = (used != 0 ? 2 : 0) + std::strlen(w.word);
        if (used + need + 1 > size)
            break;
        if (used != 0)
            std::strcat(out, ", ");
        std::strcat(out, w.word);
    }
    return out;
}
