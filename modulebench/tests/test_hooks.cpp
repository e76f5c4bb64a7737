#include "modulebench/tests/test_hooks.h"

#include "serial/crc16.h"

#include <mutex>

HookRecorder Recorded;

namespace {

// The threaded tests run the receive path and the processor together, and
// both report (the console's "msg buffer full" comes from the receive
// thread): the record takes one event at a time. Recursive, for a write's
// during_write action that reports in turn.
std::recursive_mutex RecordLock;

SerialWriteOutcome RecordWrite(const uint8_t *data, uint32_t length)
{
    SerialWriteOutcome outcome = Recorded.outcome;
    if (Recorded.time_out_every != 0 && ++Recorded.writes % Recorded.time_out_every == 0)
        outcome = {WriteStatus::TimedOut, 0, 0};
    if (outcome.status == WriteStatus::NoPort)
        return {WriteStatus::NoPort, 0, 0};
    if (outcome.written > length)
        outcome.written = length;
    std::lock_guard<std::recursive_mutex> lock(RecordLock);
    Recorded.events.push_back({HookEvent::Write, Bytes(data, data + length), {}});
    // Once only: the action may itself write.
    void (*action)() = Recorded.during_write;
    Recorded.during_write = nullptr;
    if (action != nullptr)
        action();
    return outcome;
}

template <HookEvent::Kind K> void RecordBytes(uint32_t count, const uint8_t *bytes)
{
    std::lock_guard<std::recursive_mutex> lock(RecordLock);
    Recorded.events.push_back({K, Bytes(bytes, bytes + count), {}});
}

template <HookEvent::Kind K> void RecordText(const char *text)
{
    std::lock_guard<std::recursive_mutex> lock(RecordLock);
    Recorded.events.push_back({K, {}, text});
}

template <class T> std::vector<T> Pick(const std::vector<HookEvent> &events, HookEvent::Kind kind, T HookEvent::*field)
{
    std::vector<T> out;
    for (const HookEvent &e : events)
        if (e.kind == kind)
            out.push_back(e.*field);
    return out;
}

} // namespace

std::vector<Bytes> HookRecorder::Of(HookEvent::Kind kind) const
{
    return Pick(events, kind, &HookEvent::bytes);
}

std::vector<std::string> HookRecorder::TextsOf(HookEvent::Kind kind) const
{
    return Pick(events, kind, &HookEvent::text);
}

void HookRecorder::Clear()
{
    events.clear();
    during_write = nullptr;
    outcome = {WriteStatus::Sent, kAllBytes, 0};
    time_out_every = 0;
    writes = 0;
}

void InstallRecorder()
{
    Recorded.Clear();
    SetModuleHooks(ModuleHooks{
        RecordWrite, RecordBytes<HookEvent::Received>, RecordBytes<HookEvent::Sent>,
        [](uint32_t arm) {
            std::lock_guard<std::recursive_mutex> lock(RecordLock);
            Recorded.events.push_back({HookEvent::Answered, {}, std::to_string(arm)});
        },
        RecordText<HookEvent::Console>, RecordText<HookEvent::Note>,
        [](uint32_t arm, const SerialWriteOutcome &o, uint32_t length) {
            std::lock_guard<std::recursive_mutex> lock(RecordLock);
            Recorded.events.push_back({HookEvent::NotSent, {},
                                       std::to_string(arm) + " " + std::to_string(static_cast<int>(o.status)) + " " +
                                           std::to_string(o.written) + "/" + std::to_string(length)});
        }});
}

Bytes WakeUpFrame(uint8_t x, uint8_t y)
{
    Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, x, y};
    const uint16_t crc = Crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}
