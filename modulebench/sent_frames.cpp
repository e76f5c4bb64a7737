#include "modulebench/sent_frames.h"

#include "modulebench/module_hooks.h"

#include <cstdio>

const char *FrameNotSentNote(SentFrame frame, const SerialWriteOutcome &outcome, uint32_t length, char *out,
                             uint32_t size)
{
    const char *what = "配置帧";
    if (frame == SentFrame::ReaderFrame)
        what = "透传切换帧";
    else if (frame == SentFrame::HexText)
        what = "HEX数据";
    char reason[128];
    std::snprintf(out, size, "%s未能发出：%s", what, WriteOutcomeReason(outcome, length, reason, sizeof reason));
    return out;
}

bool LogWriteOutcome(SentFrame frame, const uint8_t *data, uint32_t length, const SerialWriteOutcome &outcome)
{
    // A driver never reports more than it was given; the S line must not
    // show bytes that were never in the buffer either way.
    const uint32_t went_out = outcome.written < length ? outcome.written : length;
    const bool whole = WriteWentOut(outcome) && went_out == length;
    if (whole) {
        HookLogSent(length, data);
        return true;
    }
    if (went_out != 0)
        HookLogSent(went_out, data);
    char note[224];
    HookLogNote(FrameNotSentNote(frame, outcome, length, note, sizeof note));
    return false;
}

SerialWriteOutcome SendAndLog(SentFrame frame, const uint8_t *data, uint32_t length)
{
    const SerialWriteOutcome outcome = HookSerialWrite(data, length);
    LogWriteOutcome(frame, data, length, outcome);
    return outcome;
}
