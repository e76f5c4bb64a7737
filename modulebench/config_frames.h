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
// Hand-over of an armed frame: arming (ConfigPending.store(true), GUI
// thread) takes a copy of the 12 bytes of OutFrame that the GUI has just
// built and publishes that copy with one atomic pointer store; disarming
// withdraws it with one atomic exchange. The processor claims the armed copy
// with one exchange too, and owns whatever it got. So the processor never
// reads OutFrame, which the GUI may rebuild at any moment, and a disarm and
// re-arm during an answer can only make the answer carry the old frame whole
// or the new frame whole, never a mix. A disarm that lands before the claim
// wins; one that lands after it comes too late for that wake-up.
//
// Every arming gets a number. The processor reports the number of the frame
// it sent, and the GUI thread, which alone arms and disarms, asks IsCurrent
// before it shows "完成配置": an answer to an arming that the user has
// since replaced, unlocked or disarmed (a mode change, a close) must not
// overwrite the label that arming left.
//
// An answer that did not go out puts its frame back (Restore), so the tag's
// next wake-up gets it; but only while its arming is still the current one
// and nothing else is armed, decided under the same short lock the GUI
// thread arms and disarms under, so a frame the user has since replaced or
// withdrawn never comes back to life.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr uint32_t kOutFrameSize = 13;
constexpr uint32_t kTagConfigFrameLength = 12;
constexpr uint32_t kReaderFrameLength = 13;
constexpr uint8_t kReaderCreateTimeout = 0x0A; // seconds, shown as "10"
constexpr uint8_t kReaderExitTimeout = 0x1E;   // seconds, shown as "30"

// Written by the GUI thread only; read by the processor thread only while
// ConfigPending is set.
extern uint8_t OutFrame[kOutFrameSize];

// The armed tag configuration: an immutable copy of a 12-byte frame, or
// none. Armed and disarmed by the GUI thread (store), claimed by the
// processor thread when it answers a wake-up frame (Claim), disarmed by
// ChunkQueueInit. load() tells whether a frame is armed, from any thread.
class ArmedConfig {
public:
    ArmedConfig() = default;
    ArmedConfig(const ArmedConfig &) = delete;
    ArmedConfig &operator=(const ArmedConfig &) = delete;
    ~ArmedConfig();

    // GUI thread. Arms a copy of the first 12 bytes of OutFrame as they are
    // now, replacing any armed frame; returns the arming's number (never 0).
    uint32_t Arm();
    // true: Arm(). false: disarms, and no arming is current any more. The
    // order argument is kept for callers that name one; every operation is
    // sequentially consistent.
    void store(bool armed, std::memory_order = std::memory_order_seq_cst);
    bool load(std::memory_order = std::memory_order_seq_cst) const;
    // Takes the armed frame into out (12 bytes) and its number into *arm
    // (when given), and disarms; the arming stays current. False, and out
    // untouched, when nothing was armed.
    bool Claim(uint8_t *out, uint32_t *arm = nullptr);
    // Processor thread: puts a claimed frame (12 bytes) back as arming arm,
    // if that arming is still the current one and nothing is armed. True
    // when it is armed again.
    bool Restore(const uint8_t *frame, uint32_t arm);
    // Any thread: arm is the latest arming and was not disarmed since.
    bool IsCurrent(uint32_t arm) const { return arm != 0 && arm == current_.load(); }
    // GUI thread: the latest arming's number, 0 once disarmed.
    uint32_t Current() const { return current_.load(); }

private:
    struct Frame {
        uint8_t bytes[kTagConfigFrameLength];
        uint32_t number;
    };
    // The published copy. Whoever exchanges a frame out of it owns it.
    std::atomic<Frame *> armed_{nullptr};
    // Held by the GUI thread while it arms or disarms and by Restore, so
    // that a restore sees the current arming and the published frame as
    // one; Claim does not take it.
    std::mutex change_;
    // Written by the GUI thread only, under change_.
    uint32_t armings_ = 0;
    std::atomic<uint32_t> current_{0};
};

extern ArmedConfig ConfigPending;

// GUI thread. Builds the 12-byte tag configuration frame in OutFrame from the
// values the dialog converted from text; sends nothing. Only the low 24 bits
// of the ID and the low 8 bits of the two periods are used.
void BuildTagConfigFrame(int32_t id, int32_t send_period, int32_t battery_period);

// GUI thread. Builds the 13-byte reader frame in OutFrame (all 32 ID bits;
// channel's low 8 bits, so no selection, -1, gives 0xFF), writes it with one
// serial write and logs what went out of it (sent_frames.h).
// Chunks still queued when it is asked for are processed unlogged
// (RequestSkipRxLog), so that the log shows what answers the switch.
void SendReaderFrame(int32_t id, int32_t channel);
