// The running program's remembered settings in the registry, per user:
// values under HKEY_CURRENT_USER\Software\RfidBench\<program>. Reads give
// whatever is stored, type and all (settings_value.h checks it); writes
// create the key when needed. Nothing here shows a message: a value that
// cannot be written is simply not remembered, and the program carries on
// with what the user chose. GUI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/settings_value.h"

// The program whose key is used ("Pellfray", "Tarnwick"); set once at
// start-up, before any read or write.
void UseSettingsOf(const wchar_t *program);

// Names are ASCII; texts are in the code page of the build.
SettingValue ReadSetting(const char *name);
bool WriteNumberSetting(const char *name, uint32_t value);
bool WriteTextSetting(const char *name, const std::string &text);
bool WriteTextListSetting(const char *name, const std::vector<std::string> &texts);

// Both programs, after the user's own open succeeded: the port's name
// (REG_SZ Port) and its speed in bit/s (REG_DWORD BaudRate), to be chosen
// again at the next start.
void RememberOpenedPort(const std::string &name, uint32_t rate);
