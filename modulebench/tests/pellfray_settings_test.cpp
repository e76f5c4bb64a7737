// Pellfray's remembered settings as read back: each value in range is
// taken, every damaged one (missing, wrong type, out of range, too long, not
// in the list) leaves the default.
#include "modulebench/pellfray_settings.h"
#include "shell/tests/stored_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

namespace {

PellfraySettings Read(const std::map<std::string, SettingValue> &stored)
{
    return ReadStored<PellfraySettings>(PellfraySettingsFrom, stored);
}

// Every field, so that a damaged value shows whichever it changed.
auto Fields(const PellfraySettings &s)
{
    return std::tie(s.port, s.baud_choice, s.tag_mode, s.channel, s.reader_id, s.tag_id, s.send_period,
                    s.battery_period, s.hex_history);
}

TEST(PellfraySettings, GoodValuesAreTaken)
{
    const PellfraySettings s = Read({{"Port", Text("COM12")},
                                     {"BaudRate", Number(9600)},
                                     {"Mode", Number(1)},
                                     {"ReaderId", Text("1000000")},
                                     {"Channel", Number(7)},
                                     {"TagId", Text("1")},
                                     {"SendPeriod", Text("255")},
                                     {"BatteryPeriod", Text("0")},
                                     {"HexHistory", List({"01 02", "FF"})}});
    EXPECT_EQ(std::make_tuple("COM12", 0u, true, 7u, "1000000", "1", "255", "0",
                              std::vector<std::string>{"01 02", "FF"}),
              Fields(s));
    EXPECT_EQ(2u, Read({{"BaudRate", Number(38400)}}).baud_choice);
}

TEST(PellfraySettings, DamagedValuesLeaveTheDefaults)
{
    const PellfraySettings defaults = Read({});
    EXPECT_EQ(std::make_tuple("", 3u, false, 0u, "", "", "", "", std::vector<std::string>{}), Fields(defaults));

    const SettingValue other = OtherType();
    const std::map<std::string, SettingValue> damaged[] = {
        {{"Port", Text("COM0")}},          {{"Port", Text("COM257")}},
        {{"Port", Text("COM05")}},         {{"Port", Text("LPT1")}},
        {{"Port", Text("COM1 ")}},         {{"Port", Number(5)}},
        {{"BaudRate", Number(14400)}},     {{"BaudRate", Text("9600")}},
        {{"BaudRate", Number(3)}},         {{"Mode", Number(2)}},
        {{"Mode", Text("1")}},             {{"Channel", Number(8)}},
        {{"Channel", other}},              {{"ReaderId", Text("0")}},
        {{"ReaderId", Text("1000001")}},   {{"ReaderId", Text("012")}},
        {{"ReaderId", Text("12a")}},       {{"ReaderId", Text("-5")}},
        {{"ReaderId", Number(12)}},        {{"TagId", Text("99999999")}},
        {{"SendPeriod", Text("0")}},       {{"SendPeriod", Text("256")}},
        {{"BatteryPeriod", Text("00")}},   {{"BatteryPeriod", Text("256")}},
        {{"BatteryPeriod", Text("")}},     {{"HexHistory", Text("01 02")}},
        {{"HexHistory", List({"xyz"})}},
    };
    for (const auto &stored : damaged) {
        const PellfraySettings s = Read(stored);
        EXPECT_EQ(Fields(defaults), Fields(s)) << stored.begin()->first;
    }
}

} // namespace
