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

void HookSerialWrite(const uint8_t *data, uint32_t length)
{
    if (Hooks.serial_write != nullptr)
        Hooks.serial_write(data, length);
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

void HookShowConfigStatus(const char *text)
{
    if (Hooks.show_config_status != nullptr)
        Hooks.show_config_status(text);
}

void HookConsolePrint(const char *text)
{
    if (Hooks.console_print != nullptr)
        Hooks.console_print(text);
}
