// What Tarnwick remembers for the user between runs, as read back and
// checked: the port and speed last opened, and the reminder's start ID,
// quantity, lamps and buzzer. A value that fails its check leaves its
// control at the default it has at start. Portable; the dialog side reads
// and writes the registry.
//
// Values, under HKEY_CURRENT_USER\Software\RfidBench\Tarnwick:
//   Port           REG_SZ     "COM1" .. "COM256"
//   BaudRate       REG_DWORD  one of the speed list's seven rates
//   StartId        REG_SZ     decimal, "0" .. "4294967295" (empty: not kept)
//   Quantity       REG_SZ     "1" .. "80"
//   GreenLamp, RedLamp, Buzzer   REG_DWORD  0 or 1
#pragma once

#include <functional>
#include <string>

#include "shell/settings_value.h"

extern const char kTarnwickPortSetting[];
extern const char kTarnwickBaudSetting[];
extern const char kTarnwickStartIdSetting[];
extern const char kTarnwickQuantitySetting[];
extern const char kTarnwickGreenSetting[];
extern const char kTarnwickRedSetting[];
extern const char kTarnwickBuzzerSetting[];

// The speed list's rates; an entry's position is the serial link's baud
// index.
constexpr size_t kTarnwickBaudCount = 7;
extern const uint32_t kTarnwickBaudRates[kTarnwickBaudCount];

struct TarnwickSettings {
    std::string port;       // empty: none remembered
    size_t baud_index = 6;  // 115200
    std::string start_id;   // empty field
    std::string quantity = "1";
    bool green = true;
    bool red = false;
    bool buzzer = true;
};

TarnwickSettings TarnwickSettingsFrom(const std::function<SettingValue(const char *name)> &read);
