// One pass of the serial receive thread over an open port, apart from the
// port itself (the Win32 edge fills in the calls; the host tests play a port).
//
// A pass waits for the port's "character received" event, then reads what
// the driver holds, one read of at most kRxReadMax bytes after another, until
// a read comes back short, and then asks the port for its line errors
// (overrun, receive queue overflow, framing, parity, break) and for the
// bytes still in its queue. While the driver still counts bytes queued, it
// reads again: a short read does not mean an empty queue on every driver
// (USB adapters' drivers return one USB transfer per read). A real port
// signals the event when a character arrives, not while characters wait, so
// bytes left in the driver would sit there until the next byte came: a
// tag's wake-up frame would then be read glued to older bytes, and a
// backlog left long enough overflows the driver's queue. Line errors are
// handed on after the bytes read before them, so that whoever assembles
// frames knows where the stream has a hole. A round of reads that got
// nothing ends the pass even if the driver still counts bytes, rather than
// spin on a driver whose count and reads disagree.
//
// A port that does not answer that question is gone, a pulled USB adapter
// say: a healthy port answers it even when a wait or a read ended with an
// error (Wine ends a pending wait with "operation aborted" about every
// millisecond; a removed adapter fails every call with errors such as access
// denied, bad command, general failure or device not connected). The pass
// then ends with PortGone and the caller stops using the port. A port that
// the program itself withdrew (a close) is no loss: the edge says Withdrawn.
#pragma once

#include <cstdint>

// Line error flags, with the values of the Win32 CE_ bits.
constexpr uint32_t kLineErrorRxOver = 0x0001;   // the driver's receive queue overflowed
constexpr uint32_t kLineErrorOverrun = 0x0002;  // the port's hardware buffer overran
constexpr uint32_t kLineErrorParity = 0x0004;   // a parity error
constexpr uint32_t kLineErrorFraming = 0x0008;  // a framing error
constexpr uint32_t kLineErrorBreak = 0x0010;    // a break condition on the line
constexpr uint32_t kLineErrorMask = 0x001F;

// What the port said when asked for its line errors.
enum class PortAnswer : uint8_t {
    Answered,  // *flags holds its line errors (possibly none)
    NoAnswer,  // the port failed the question: it is gone
    Withdrawn, // the program closed the port meanwhile
};

// The port as the receive thread uses it. Every call returns promptly except
// wait, which sleeps until a character arrives (or the wait fails).
struct RxPortCalls {
    void *context;
    // Waits for the next received character; false when the wait could not
    // be issued or ended with an error.
    bool (*wait)(void *context);
    // Reads up to kRxReadMax bytes without waiting and hands them on;
    // returns the count, or -1 when the read failed.
    int32_t (*read)(void *context);
    // *flags: the line errors since the last question; *queued: the bytes
    // the driver holds now (ClearCommError's cbInQue).
    PortAnswer (*line_errors)(void *context, uint32_t *flags, uint32_t *queued);
    // Called with the line errors (masked, never 0) after the bytes read
    // before them were handed on.
    void (*report_errors)(void *context, uint32_t flags);
};

enum class RxPassEnd : uint8_t {
    Done,       // the port delivered, or the program withdrew it
    CallFailed, // a wait or read failed on a port that still answers
    PortGone,   // the port no longer answers: stop using it
};

RxPassEnd RunReceivePass(const RxPortCalls &port);

// The line errors as words for the console ("overrun, framing"); out holds
// at least 64 bytes. Empty for none.
const char *LineErrorWords(uint32_t flags, char *out, uint32_t size);
