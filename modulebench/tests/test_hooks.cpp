#include "modulebench/tests/test_hooks.h"

#include "serial/crc16.h"

HookRecorder Recorded;

namespace {

bool RecordWrite(const uint8_t *data, uint32_t length)
{
    if (!Recorded.port_open)
        return false;
    Recorded.events.push_back({HookEvent::Write, Bytes(data, data + length), {}});
    // Once only: the action may itself write.
    void (*action)() = Recorded.during_write;
    Recorded.during_write = nullptr;
    if (action != nullptr)
        action();
    return true;
}

void RecordReceived(uint32_t count, const uint8_t *bytes)
{
    Recorded.events.push_back({HookEvent::Received, Bytes(bytes, bytes + count), {}});
}

void RecordSent(uint32_t count, const uint8_t *bytes)
{
    Recorded.events.push_back({HookEvent::Sent, Bytes(bytes, bytes + count), {}});
}

void RecordAnswered(uint32_t arm)
{
    Recorded.events.push_back({HookEvent::Answered, {}, std::to_string(arm)});
}

void RecordNote(const char *text)
{
    Recorded.events.push_back({HookEvent::Note, {}, text});
}

void RecordConsole(const char *text)
{
    Recorded.events.push_back({HookEvent::Console, {}, text});
}

} // namespace

std::vector<Bytes> HookRecorder::Of(HookEvent::Kind kind) const
{
    std::vector<Bytes> out;
    for (const HookEvent &e : events)
        if (e.kind == kind)
            out.push_back(e.bytes);
    return out;
}

std::vector<std::string> HookRecorder::TextsOf(HookEvent::Kind kind) const
{
    std::vector<std::string> out;
    for (const HookEvent &e : events)
        if (e.kind == kind)
            out.push_back(e.text);
    return out;
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
    SetModuleHooks(ModuleHooks{RecordWrite, RecordReceived, RecordSent, RecordAnswered, RecordConsole, RecordNote});
}

Bytes WakeUpFrame(uint8_t x, uint8_t y)
{
    return WithCrc({0xFF, 0xFF, 0xFF, 0xFF, 0x00, x, y});
}

Bytes WithCrc(Bytes bytes)
{
    const uint16_t crc = Crc16Modbus(bytes.data(), bytes.size());
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    return bytes;
}
