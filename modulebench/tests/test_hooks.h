// Records what the core hands to the outside world, for single-threaded
// tests: one event list in call order plus per-kind views.
#pragma once

#include "modulebench/module_hooks.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct HookEvent {
    enum Kind { Write, Received, Sent, Answered, Console, Note, NotSent } kind;
    Bytes bytes;      // Write, Received, Sent
    std::string text; // Console, Note; Answered: the arming's number;
                      // NotSent: "arm status written/length"
};

struct HookRecorder {
    std::vector<HookEvent> events;
    // Called once from inside the next serial_write, after recording; lets
    // a test act as the GUI thread while a write is in progress.
    void (*during_write)() = nullptr;
    // What serial_write answers: by default every byte went out. A test
    // plays any outcome: the status, how many bytes the driver took (capped
    // at the length) and the error. NoPort is not recorded as a write.
    SerialWriteOutcome outcome = {WriteStatus::Sent, kAllBytes, 0};
    static constexpr uint32_t kAllBytes = ~0u;
    // When not 0, every n-th write (counting from the first) times out with
    // nothing taken, whatever outcome says.
    uint32_t time_out_every = 0;
    uint32_t writes = 0;

    std::vector<Bytes> Of(HookEvent::Kind kind) const;
    std::vector<std::string> TextsOf(HookEvent::Kind kind) const;
    void Clear();
};

extern HookRecorder Recorded;

// Installs recording hooks and clears the record.
void InstallRecorder();

// A 9-byte tag wake-up frame FF FF FF FF 00 x y with its CRC.
Bytes WakeUpFrame(uint8_t x, uint8_t y);
