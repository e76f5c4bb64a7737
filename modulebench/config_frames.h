// The two frames Pellfray sends besides hand-typed hex, and the arming flag
// of the tag configuration.
//
// Both frames are built in the one 13-byte OutFrame:
//   tag configuration, 12 bytes: FF FF FF FF 00 id23..0(3) send battery crc(2)
//       CRC over bytes 0..9
//   reader transparent mode, 13 bytes: 55 AA 03 07 id(4) channel 0A 1E crc(2)
//       CRC over bytes 2..10 (the 55 AA are not covered)
// Numbers are big-endian, CRCs CRC-16/MODBUS high byte first. The tag frame
// leaves byte 12 alone (it keeps the last reader frame's CRC low byte); it
// is never sent, the tag frame being 12 bytes.
//
// Hand-over of an armed frame: the GUI thread builds OutFrame completely and
// only then stores ConfigPending = true (release). The processor thread loads
// ConfigPending (acquire) before it reads OutFrame, copies the frame and
// claims it by exchanging the flag back to false; it sends its copy, so the
// GUI may build a new frame as soon as it sees the flag clear. The dialog
// never builds a frame while one is armed.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t kOutFrameSize = 13;
constexpr uint32_t kTagConfigFrameLength = 12;
constexpr uint32_t kReaderFrameLength = 13;
constexpr uint8_t kReaderCreateTimeout = 0x0A; // seconds, shown as "10"
constexpr uint8_t kReaderExitTimeout = 0x1E;   // seconds, shown as "30"

// Written by the GUI thread only; read by the processor thread only while
// ConfigPending is set.
extern uint8_t OutFrame[kOutFrameSize];

// Set by the GUI thread after BuildTagConfigFrame (arming); cleared by the
// GUI thread (disarm) and by the processor thread when it answers a wake-up
// frame, and by ChunkQueueInit.
extern std::atomic<bool> ConfigPending;

// GUI thread. Builds the 12-byte tag configuration frame in OutFrame from the
// values the dialog converted from text; sends nothing. Only the low 24 bits
// of the ID and the low 8 bits of the two periods are used.
void BuildTagConfigFrame(int32_t id, int32_t send_period, int32_t battery_period);

// GUI thread. Builds the 13-byte reader frame in OutFrame (all 32 ID bits;
// channel's low 8 bits, so no selection, -1, gives 0xFF), writes it with one
// serial write and then logs it as sent, whatever the write did.
void SendReaderFrame(int32_t id, int32_t channel);
