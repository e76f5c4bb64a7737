// Pellfray's remembered settings as read back: each value in range is
// taken, every damaged one (missing, wrong type, out of range, too long, not
// in the list) leaves the default.
#include "modulebench/pellfray_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

SettingValue Number(uint32_t n)
{
    SettingValue v;
    v.kind = SettingValue::Kind::Number;
    v.number = n;
    return v;
}

SettingValue Text(const std::string &t)
{
    SettingValue v;
    v.kind = SettingValue::Kind::Text;
    v.text = t;
    return v;
}

SettingValue List(const std::vector<std::string> &l)
{
    SettingValue v;
    v.kind = SettingValue::Kind::TextList;
    v.list = l;
    return v;
}

PellfraySettings Read(const std::map<std::string, SettingValue> &stored)
{
    return PellfraySettingsFrom([&](const char *name) {
        const auto found = stored.find(name);
        return found == stored.end() ? SettingValue() : found->second;
    });
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
    EXPECT_EQ("COM12", s.port);
    EXPECT_EQ(0u, s.baud_choice);
    EXPECT_TRUE(s.tag_mode);
    EXPECT_EQ("1000000", s.reader_id);
    EXPECT_EQ(7u, s.channel);
    EXPECT_EQ("1", s.tag_id);
    EXPECT_EQ("255", s.send_period);
    EXPECT_EQ("0", s.battery_period);
    EXPECT_EQ((std::vector<std::string>{"01 02", "FF"}), s.hex_history);
    EXPECT_EQ(2u, Read({{"BaudRate", Number(38400)}}).baud_choice);
}

TEST(PellfraySettings, DamagedValuesLeaveTheDefaults)
{
    const PellfraySettings defaults = Read({});
    EXPECT_EQ("", defaults.port);
    EXPECT_EQ(3u, defaults.baud_choice);
    EXPECT_FALSE(defaults.tag_mode);
    EXPECT_EQ(0u, defaults.channel);
    EXPECT_TRUE(defaults.reader_id.empty() && defaults.tag_id.empty() && defaults.send_period.empty() &&
                defaults.battery_period.empty() && defaults.hex_history.empty());

    SettingValue other;
    other.kind = SettingValue::Kind::Other;
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
        const std::string name = stored.begin()->first;
        EXPECT_EQ(defaults.port, s.port) << name;
        EXPECT_EQ(defaults.baud_choice, s.baud_choice) << name;
        EXPECT_EQ(defaults.tag_mode, s.tag_mode) << name;
        EXPECT_EQ(defaults.channel, s.channel) << name;
        EXPECT_EQ(defaults.reader_id, s.reader_id) << name;
        EXPECT_EQ(defaults.tag_id, s.tag_id) << name;
        EXPECT_EQ(defaults.send_period, s.send_period) << name;
        EXPECT_EQ(defaults.battery_period, s.battery_period) << name;
        EXPECT_EQ(defaults.hex_history, s.hex_history) << name;
    }
}

} // namespace
