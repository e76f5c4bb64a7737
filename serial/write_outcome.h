// What became of one write to the port, in terms the programs show.
//
// A write is "sent" only when the driver took every byte within the write's
// second. Anything short of that (no port, a call that failed at once, a
// write still pending when its second ran out and was cancelled) says how
// many bytes did leave, so a caller logs and counts exactly those and tells
// the user what did not go. The Win32 edge (SerialWriteReport) fills it in;
// the cores and their tests only read it.
#pragma once

#include <cstdint>

enum class WriteStatus : uint8_t {
    Sent,     // every byte went out
    NoPort,   // no port was open: nothing went out
    Failed,   // the driver refused the write (error holds the system's code)
    TimedOut, // still pending after the write's wait, then cancelled
};

struct SerialWriteOutcome {
    WriteStatus status;
    uint32_t written; // bytes the driver took; equal to the length only when Sent
    uint32_t error;   // the system's error code for Failed, else 0
};

inline bool WriteWentOut(const SerialWriteOutcome &outcome)
{
    return outcome.status == WriteStatus::Sent;
}

// The reason in the programs' words (GBK text), for log lines and boxes:
// "串口未打开", "写入失败（错误 31）", "1 秒内未能写完（已发出 3 / 12 字节）".
// length is the size of the buffer the write was given. out holds at least
// 80 bytes; returns out.
const char *WriteOutcomeReason(const SerialWriteOutcome &outcome, uint32_t length, char *out, uint32_t size);
