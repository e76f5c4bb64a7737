// What Pellfray remembers for the user between runs, as read back and
// checked: the port and speed last opened, the mode, the reader's ID and
// channel, the three tag fields and the hex history (the time stamp choice
// is log_options_win32.h's). Every value is checked as the control it
// fills would take it from the keyboard; one that fails leaves that control
// at its default. Portable; the dialog side reads and writes the registry.
//
// Values, under HKEY_CURRENT_USER\Software\RfidBench\Pellfray:
//   Port           REG_SZ        "COM1" .. "COM256"
//   BaudRate       REG_DWORD     9600, 19200, 38400 or 115200
//   Mode           REG_DWORD     0 reader, 1 tag
//   ReaderId       REG_SZ        "1" .. "1000000"
//   Channel        REG_DWORD     0 .. 7
//   TagId          REG_SZ        "1" .. "1000000"
//   SendPeriod     REG_SZ        "1" .. "255"
//   BatteryPeriod  REG_SZ        "0" .. "255"
//   HexHistory     REG_MULTI_SZ  up to 20 texts, newest first
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "shell/settings_value.h"

extern const char kPellfrayPortSetting[];
extern const char kPellfrayBaudSetting[];
extern const char kPellfrayModeSetting[];
extern const char kPellfrayReaderIdSetting[];
extern const char kPellfrayChannelSetting[];
extern const char kPellfrayTagIdSetting[];
extern const char kPellfraySendPeriodSetting[];
extern const char kPellfrayBatteryPeriodSetting[];
extern const char kPellfrayHexHistorySetting[];

// The speed list's rates, in list order.
extern const uint32_t kPellfrayBaudRates[4];

struct PellfraySettings {
    std::string port;       // empty: none remembered
    size_t baud_choice = 3; // entry of the speed list (115200)
    bool tag_mode = false;
    std::string reader_id; // empty: the field stays empty
    uint32_t channel = 0;
    std::string tag_id;
    std::string send_period;
    std::string battery_period;
    std::vector<std::string> hex_history; // newest first
};

// read gives the value stored under a name (Kind::Missing when none).
PellfraySettings PellfraySettingsFrom(const std::function<SettingValue(const char *name)> &read);
