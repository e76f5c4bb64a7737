// The module bench core's way out to the rest of the program.
//
// The queue, the processor and the frame builders never touch a window or a
// port themselves: they reach the serial link, the traffic log, the status
// label and the debug console through these function pointers. Pellfray
// fills them with its Win32 functions during the main dialog's start-up; the
// host tests fill them with recorders. A null member is simply not called.
//
// The table is written with SetModuleHooks before any thread that uses it is
// started (the dialog's initialisation, or a test before it starts threads)
// and is only read afterwards, by the GUI, receive and processor threads.
#pragma once

#include "serial/write_outcome.h"

#include <cstdint>

struct ModuleHooks {
    // The port: one write of the whole buffer (SerialWriteReport), and what
    // became of it: how many bytes went out, and why not all if not.
    SerialWriteOutcome (*serial_write)(const uint8_t *data, uint32_t length);
    // One received / sent line in the log list plus the byte counter.
    void (*log_received)(uint32_t count, const uint8_t *bytes);
    void (*log_sent)(uint32_t count, const uint8_t *bytes);
    // The processor sent the configuration armed as number arm (see
    // ArmedConfig) in answer to a wake-up frame. The GUI thread decides what
    // the status label says: "完成配置" only if that arming is still the
    // current one and the port is open.
    void (*config_answered)(uint32_t arm);
    // The processor's answer to a wake-up, the configuration armed as number
    // arm, did not go out whole (outcome of the write of length bytes); the
    // configuration stays armed for the tag's next wake-up.
    void (*config_not_sent)(uint32_t arm, const SerialWriteOutcome &outcome, uint32_t length);
    // A finished message for the remote console, "\r\n" included; the
    // program forwards it as ConsolePrintf("%s", text).
    void (*console_print)(const char *text);
    // A line of the program's own in the log, in order with the traffic
    // lines (LogNote).
    void (*log_note)(const char *text);
};

// Replaces the whole table. Not thread-safe by design: call it only while no
// other thread of the core runs.
void SetModuleHooks(const ModuleHooks &hooks);
const ModuleHooks &CurrentModuleHooks();

// Null-safe forwarders used by the core. Without a serial_write hook
// nothing is written, and HookSerialWrite says NoPort.
SerialWriteOutcome HookSerialWrite(const uint8_t *data, uint32_t length);
void HookLogReceived(uint32_t count, const uint8_t *bytes);
void HookLogSent(uint32_t count, const uint8_t *bytes);
void HookConfigAnswered(uint32_t arm);
void HookConsolePrint(const char *text);
void HookLogNote(const char *text);
