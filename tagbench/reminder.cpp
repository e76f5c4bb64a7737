// Reminder frames and the start/stop state machine.
//
// Frames are built whole in a local buffer and written in one call, so a
// frame never goes out in pieces. The builders refuse more than 51 entries
// instead of writing a length byte that wraps: the reader would misread such
// a frame, and the reminder itself never asks for more than 35.
#include "tagbench/reminder.h"

#include "serial/crc16.h"
#include "tagbench/frame_assembler.h"

bool ReminderRunning = false;
bool ReminderPassArmed = false;
uint32_t ReminderSentCount = 0;
uint32_t ReminderStartId = 0;
uint32_t ReminderQuantity = 0;
int32_t ReminderMode = kReminderOffMode;
uint32_t ReminderWriteFailures = 0;

namespace {

ReminderIo Io = {};

constexpr int kEditTextSize = 20; // the edits are read up to 19 characters

void PutId(uint8_t *out, uint32_t id)
{
    out[0] = static_cast<uint8_t>(id >> 24);
    out[1] = static_cast<uint8_t>(id >> 16);
    out[2] = static_cast<uint8_t>(id >> 8);
    out[3] = static_cast<uint8_t>(id);
}

// Writes n entries from out on; returns the bytes written (5n).
uint32_t PutEntries(uint8_t *out, uint32_t n, uint32_t first_id, uint8_t mode)
{
    for (uint32_t i = 0; i < n; ++i) {
        PutId(out + 5 * i, first_id + i);
        out[5 * i + 4] = mode;
    }
    return 5 * n;
}

void ShowWriteFailures()
{
    if (Io.show_write_failures != nullptr) {
        Io.show_write_failures(ReminderWriteFailures);
    }
}

// A frame the builder refused (length 0) is no write at all; any other that
// did not wholly go out is counted and shown.
void Write(const uint8_t *data, uint32_t length)
{
    if (length == 0) {
        return;
    }
    const SerialWriteOutcome outcome =
        Io.write != nullptr ? Io.write(data, length) : SerialWriteOutcome{WriteStatus::NoPort, 0, 0};
    if (WriteWentOut(outcome)) {
        return;
    }
    ++ReminderWriteFailures;
    ShowWriteFailures();
}

void ReadEdit(int control_id, char *text)
{
    text[0] = '\0';
    if (Io.read_edit != nullptr) {
        Io.read_edit(control_id, text, kEditTextSize);
        text[kEditTextSize - 1] = '\0';
    }
}

bool IsChecked(int control_id)
{
    return Io.is_checked != nullptr && Io.is_checked(control_id);
}

void ShowMessage(const char *text)
{
    if (Io.show_message != nullptr) {
        Io.show_message(text);
    }
}

void SetRunningUi(bool running)
{
    if (Io.set_running_ui != nullptr) {
        Io.set_running_ui(running);
    }
}

inline uint8_t ModeByte() { return static_cast<uint8_t>(ReminderMode & 0xFF); }

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

void SetReminderIo(const ReminderIo &io)
{
    Io = io;
}

const char *ReminderButtonCaption(bool running)
{
    return running ? "停止" : "启动";
}

int32_t ReminderModeFromChecks(bool green, bool red, bool buzzer)
{
    int32_t lamp;
    if (green && red) {
        lamp = 2;
    } else if (red) {
        lamp = 1;
    } else if (green) {
        lamp = 0;
    } else {
        return -1;
    }
    return 2 * lamp + (buzzer ? 1 : 0);
}

uint32_t ParseUnsigned32(const char *text)
{
    if (text == nullptr) {
        return 0;
    }
    const char *p = text;
    while (IsSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    uint64_t value = 0;
    bool overflow = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (!overflow) {
            value = value * 10 + static_cast<uint64_t>(*p - '0');
            overflow = value > 0xFFFFFFFFull;
        }
    }
    if (overflow) {
        return 0xFFFFFFFFu;
    }
    const uint32_t magnitude = static_cast<uint32_t>(value);
    return negative ? 0u - magnitude : magnitude;
}

uint32_t BuildLegacyReminderFrame(uint32_t n, uint32_t first_id, uint8_t mode, uint8_t *out, uint32_t capacity)
{
    if (n > kReminderMaxFrameEntries || out == nullptr || capacity < 5 * n + 8) {
        return 0;
    }
    out[0] = 0xFF;
    out[1] = 0xFF;
    out[2] = 0xFF;
    out[3] = 0xFF;
    out[4] = 0x01;
    out[5] = static_cast<uint8_t>(5 * n);
    const uint32_t covered = 6 + PutEntries(out + 6, n, first_id, mode);
    PutCrc16(out + covered, Crc16Modbus(out, covered));
    return covered + 2;
}

uint32_t BuildReminderFrame55AA(uint32_t n, uint32_t first_id, uint8_t mode, uint8_t *out, uint32_t capacity)
{
    if (n > kReminderMaxFrameEntries || out == nullptr || capacity < 5 * n + 6) {
        return 0;
    }
    out[0] = 0x55;
    out[1] = 0xAA;
    out[2] = 0x02;
    out[3] = static_cast<uint8_t>(5 * n);
    const uint32_t end = 4 + PutEntries(out + 4, n, first_id, mode);
    PutCrc16(out + end, Crc16Modbus(out + 2, end - 2));
    return end + 2;
}

uint32_t BuildReminderStartFrame(uint32_t start_id, uint8_t mode, uint8_t *out, uint32_t capacity)
{
    return BuildLegacyReminderFrame(1, start_id, mode, out, capacity);
}

void SendReminderStartFrame()
{
    uint8_t frame[kReminderStartFrameLength];
    Write(frame, BuildReminderStartFrame(ReminderStartId, ModeByte(), frame, sizeof frame));
}

void SendLegacyReminderFrame(uint32_t n, uint32_t first_id, uint8_t mode)
{
    uint8_t frame[kReminderFrameCapacity];
    Write(frame, BuildLegacyReminderFrame(n, first_id, mode, frame, sizeof frame));
}

void SendReminderFrame(uint32_t n, uint32_t first_id)
{
    if (LastFrame55AA.load(std::memory_order_relaxed) == 0) {
        SendLegacyReminderFrame(n, first_id, ModeByte());
        return;
    }
    uint8_t frame[kReminderFrameCapacity];
    Write(frame, BuildReminderFrame55AA(n, first_id, ModeByte(), frame, sizeof frame));
}

void OnReminderButton()
{
    if (ReminderRunning) {
        // Stop: nothing goes out now; the off pass follows on timer 2.
        ReminderRunning = false;
        ReminderPassArmed = true;
        ReminderMode = kReminderOffMode;
        ReminderSentCount = 0;
        SetRunningUi(false);
        return;
    }

    char text[kEditTextSize];
    ReadEdit(kReminderStartIdEdit, text);
    if (text[0] == '\0') {
        return;
    }
    const uint32_t start_id = ParseUnsigned32(text);
    ReadEdit(kReminderQuantityEdit, text);
    uint32_t quantity = ParseUnsigned32(text);
    if (quantity == 0) {
        quantity = 1;
    } else if (quantity > kReminderMaxQuantity) {
        ShowMessage("最多呼叫80个");
        return;
    }
    const int32_t mode = ReminderModeFromChecks(IsChecked(kReminderGreenCheck), IsChecked(kReminderRedCheck),
                                                IsChecked(kReminderBuzzerCheck));
    if (mode < 0) {
        ShowMessage("必须选择一种灯模式");
        return;
    }

    ReminderStartId = start_id;
    ReminderQuantity = quantity;
    ReminderMode = mode;
    ReminderRunning = true;
    SetRunningUi(true);
    ReminderPassArmed = true;
    ReminderSentCount = 0;
    SendReminderStartFrame();
}

void OnReminderSecondTick()
{
    if (!ReminderRunning) {
        return;
    }
    ReminderPassArmed = true;
    ReminderSentCount = 0;
}

void OnReminderBatchTick()
{
    if (!ReminderPassArmed) {
        return;
    }
    const uint32_t remaining = ReminderQuantity - ReminderSentCount;
    const uint32_t first_id = ReminderStartId + ReminderSentCount;
    if (remaining > kReminderEntriesPerFrame) {
        SendReminderFrame(kReminderEntriesPerFrame, first_id);
        ReminderSentCount += kReminderEntriesPerFrame;
        return;
    }
    SendReminderFrame(remaining, first_id);
    ReminderPassArmed = false;
    ReminderSentCount = 0;
}

void MarkReminderIdle()
{
    ReminderRunning = false;
}

void ResetReminderWriteFailures()
{
    ReminderWriteFailures = 0;
    ShowWriteFailures();
}
