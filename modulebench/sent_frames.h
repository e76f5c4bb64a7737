// What the log says of the bytes Pellfray writes: the wake-up answer, the
// transparent-mode frame and hand-typed hex.
//
// A write is logged by what became of it, not by what was asked. The bytes
// the driver took, all or only the first part, get one S line of exactly
// those bytes and are counted; when not all went out, a note of its own says
// which frame did not go out and why, with how much did if part of it:
//   "[ ! 09:05:07 ] 配置帧未能发出：1 秒内未能写完（已发出 3 / 12 字节）"
// A write that met no open port gets the note and no S line.
#pragma once

#include "serial/write_outcome.h"

#include <cstdint>

enum class SentFrame : uint8_t {
    ConfigAnswer, // the armed tag configuration, answering a wake-up frame
    ReaderFrame,  // 切换透传
    HexText,      // HEX发送
};

// "配置帧未能发出：<reason>", "透传切换帧未能发出：<reason>",
// "HEX数据未能发出：<reason>". Returns out.
const char *FrameNotSentNote(SentFrame frame, const SerialWriteOutcome &outcome, uint32_t length, char *out,
                             uint32_t size);

// Logs the write of data[0 .. length) through the hooks as said above.
// True when every byte went out.
bool LogWriteOutcome(SentFrame frame, const uint8_t *data, uint32_t length, const SerialWriteOutcome &outcome);

// Writes data with one serial write and logs the outcome; any thread.
SerialWriteOutcome SendAndLog(SentFrame frame, const uint8_t *data, uint32_t length);
