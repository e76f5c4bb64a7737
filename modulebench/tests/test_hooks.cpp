#include "modulebench/tests/test_hooks.h"

#include "serial/crc16.h"

HookRecorder Recorded;

namespace {

SerialWriteOutcome RecordWrite(const uint8_t *data, uint32_t length)
{
    if (!Recorded.port_open)
        return {WriteStatus::NoPort, 0, 0};
    Recorded.events.push_back({HookEvent::Write, Bytes(data, data + length), {}});
    // Once only: the action may itself write.
    void (*action)() = Recorded.during_write;
    Recorded.during_write = nullptr;
    if (action != nullptr)
        action();
    return {WriteStatus::Sent, length, 0};
}

template <HookEvent::Kind K> void RecordBytes(uint32_t count, const uint8_t *bytes)
{
    Recorded.events.push_back({K, Bytes(bytes, bytes + count), {}});
}

template <HookEvent::Kind K> void RecordText(const char *text)
{
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
    port_open = true;
}

void InstallRecorder()
{
    Recorded.Clear();
    SetModuleHooks(ModuleHooks{
        RecordWrite, RecordBytes<HookEvent::Received>, RecordBytes<HookEvent::Sent>,
        [](uint32_t arm) { Recorded.events.push_back({HookEvent::Answered, {}, std::to_string(arm)}); }, nullptr,
        RecordText<HookEvent::Console>, RecordText<HookEvent::Note>});
}

Bytes WakeUpFrame(uint8_t x, uint8_t y)
{
    Bytes frame = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, x, y};
    const uint16_t crc = Crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}
