#include "modulebench/module_hooks.h"

namespace {

ModuleHooks Hooks{};

} // namespace

void SetModuleHooks(const ModuleHooks &hooks)
{
    Hooks = hooks;
}

const ModuleHooks &CurrentModuleHooks()
{
    return Hooks;
}

SerialWriteOutcome HookSerialWrite(const uint8_t *data, uint32_t length)
{
    if (Hooks.serial_write == nullptr)
        return {WriteStatus::NoPort, 0, 0};
    return Hooks.serial_write(data, length);
}

void HookLogReceived(uint32_t count, const uint8_t *bytes)
{
    if (Hooks.log_received != nullptr)
        Hooks.log_received(count, bytes);
}

void HookLogSent(uint32_t count, const uint8_t *bytes)
{
    if (Hooks.log_sent != nullptr)
        Hooks.log_sent(count, bytes);
}

void HookConfigAnswered(uint32_t arm)
{
    if (Hooks.config_answered != nullptr)
        Hooks.config_answered(arm);
}

void HookConfigNotSent(uint32_t arm, const SerialWriteOutcome &outcome, uint32_t length)
{
    if (Hooks.config_not_sent != nullptr)
        Hooks.config_not_sent(arm, outcome, length);
}

void HookLogNote(const char *text)
{
    if (Hooks.log_note != nullptr)
        Hooks.log_note(text);
}

void HookConsolePrint(const char *text)
{
    if (Hooks.console_print != nullptr)
        Hooks.console_print(text);
}
