// Sound-and-light reminder: makes a range of up to 80 consecutive tag IDs
// light a lamp (optionally with the buzzer) by sending the reader reminder
// frames, a whole pass over the range once a second, one frame of at most 35
// entries per 100 ms tick; a stop sends one more pass with the off code 0xFF.
//
// Everything here runs on the GUI thread (button and both timers are dialog
// messages). The dialog reaches this code through the functions below and
// lends it the few things it needs from outside (port write, edit texts,
// check boxes, message box, button caption) through ReminderIo, so the whole
// state machine is portable and tested on the host.
//
// A start is checked in full before anything is stored: a refused start must
// not disturb an off pass still going out, which covers the range of the last
// start that went through.
//
// Every frame's write says what became of it. A frame that did not wholly go
// out (refused, still unwritten after its second, no port) is not sent again,
// as before, but it is counted and the dialog shows the count beside the
// port's line errors, so lamps that stay dark have a visible cause. The
// count starts again when the user opens a port, as the line errors do, and
// not when a lost port reopens by itself.
#pragma once

#include <cstdint>

#include "serial/write_outcome.h"

// Dialog controls this code reads through ReminderIo.
constexpr int kReminderStartIdEdit = 1178;
constexpr int kReminderQuantityEdit = 1180;
constexpr int kReminderGreenCheck = 1005;
constexpr int kReminderRedCheck = 1006;
constexpr int kReminderBuzzerCheck = 1007;

constexpr uint32_t kReminderMaxQuantity = 80;
constexpr uint32_t kReminderEntriesPerFrame = 35;
// The length byte holds 5 x n: beyond 51 entries it cannot describe the frame.
constexpr uint32_t kReminderMaxFrameEntries = 51;
constexpr uint32_t kReminderFrameCapacity = 5 * kReminderMaxFrameEntries + 8;
constexpr uint32_t kReminderStartFrameLength = 13;
constexpr int32_t kReminderOffMode = 255;

// Reminder state; GUI thread only.
extern bool ReminderRunning;      // on; button 1179 reads "停止"
extern bool ReminderPassArmed;    // a pass over the range is due or under way
extern uint32_t ReminderSentCount; // entries of the current pass already sent
extern uint32_t ReminderStartId;   // first ID of the range of the last start
extern uint32_t ReminderQuantity;  // tags in that range, 1 to 80 once started
extern int32_t ReminderMode;       // low byte is the mode byte; 255 = off
extern uint32_t ReminderWriteFailures; // frames not wholly sent since the user's open

// What the reminder needs from the dialog. Any member may be null: a missing
// write sends nothing (and counts as a frame not sent), a missing reader
// reads "" or unchecked.
struct ReminderIo {
    // The port write; says how much of the frame went out.
    SerialWriteOutcome (*write)(const uint8_t *data, uint32_t length);
    // Copies the text of an edit (at most size - 1 chars) NUL-terminated.
    void (*read_edit)(int control_id, char *text, int size);
    bool (*is_checked)(int control_id);
    // Modal message box on the dialog, information icon, default caption.
    void (*show_message)(const char *text);
    // Button 1179 caption (ReminderButtonCaption) and 1178 disabled while
    // running, enabled otherwise.
    void (*set_running_ui)(bool running);
    // ReminderWriteFailures changed to count: the dialog shows it.
    void (*show_write_failures)(uint32_t count);
};
void SetReminderIo(const ReminderIo &io);

// "停止" while running, "启动" otherwise.
const char *ReminderButtonCaption(bool running);

// Mode code 2 x lamp + buzzer (lamp 0 green, 1 red, 2 both); -1 when no lamp.
int32_t ReminderModeFromChecks(bool green, bool red, bool buzzer);

// Decimal text to a 32-bit unsigned number by the strtoul rules, the same on
// every platform: leading white space, optional sign, digits up to the first
// other character; no digits gives 0; a magnitude beyond 4294967295 gives
// 4294967295 whatever the sign; a minus sign negates modulo 2^32.
uint32_t ParseUnsigned32(const char *text);

// Frame builders: write into out and return the length, or 0 (nothing to
// send) when n exceeds 51 or out is too small. Entry i carries first_id + i
// (modulo 2^32) and the mode byte.
// FF FF FF FF 01 5n {ID mode}*n CRC(over all before it): 5n + 8 bytes.
uint32_t BuildLegacyReminderFrame(uint32_t n, uint32_t first_id, uint8_t mode, uint8_t *out, uint32_t capacity);
// 55 AA 02 5n {ID mode}*n CRC(over all after 55 AA): 5n + 6 bytes.
uint32_t BuildReminderFrame55AA(uint32_t n, uint32_t first_id, uint8_t mode, uint8_t *out, uint32_t capacity);
// The legacy layout with the single entry start_id: 13 bytes.
uint32_t BuildReminderStartFrame(uint32_t start_id, uint8_t mode, uint8_t *out, uint32_t capacity);

// Senders: build and write in one call; nothing is written when the builder
// refuses. SendReminderFrame answers in the header kind the reader used last
// (LastFrame55AA) with the mode byte of ReminderMode.
void SendReminderStartFrame();
void SendLegacyReminderFrame(uint32_t n, uint32_t first_id, uint8_t mode);
void SendReminderFrame(uint32_t n, uint32_t first_id);

// Dialog events.
void OnReminderButton();     // button 1179: start or stop
void OnReminderSecondTick(); // timer 1, after the table has been aged
void OnReminderBatchTick();  // timer 2: at most one frame per tick
// Dialog initialised, port opened or closed: the reminder is no longer on.
// A pass that was armed stays armed and resumes when the timers run again.
void MarkReminderIdle();
// The user opened a port: the count of frames not sent starts from 0 (and
// is shown). A port reopened by itself after a loss keeps the count.
void ResetReminderWriteFailures();
