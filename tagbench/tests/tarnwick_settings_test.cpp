// Tarnwick's remembered settings as read back: values in range are taken,
// damaged ones leave the defaults of the dialog's start.
#include "tagbench/tarnwick_settings.h"

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

TarnwickSettings Read(const std::map<std::string, SettingValue> &stored)
{
    return TarnwickSettingsFrom([&](const char *name) {
        const auto found = stored.find(name);
        return found == stored.end() ? SettingValue() : found->second;
    });
}

TEST(TarnwickSettings, GoodValuesAreTaken)
{
    const TarnwickSettings s = Read({{"Port", Text("COM256")},
                                     {"BaudRate", Number(14400)},
                                     {"StartId", Text("4294967295")},
                                     {"Quantity", Text("80")},
                                     {"GreenLamp", Number(0)},
                                     {"RedLamp", Number(1)},
                                     {"Buzzer", Number(0)}});
    EXPECT_EQ("COM256", s.port);
    EXPECT_EQ(1u, s.baud_index);
    EXPECT_EQ("4294967295", s.start_id);
    EXPECT_EQ("80", s.quantity);
    EXPECT_FALSE(s.green);
    EXPECT_TRUE(s.red);
    EXPECT_FALSE(s.buzzer);
    EXPECT_EQ(0u, Read({{"BaudRate", Number(9600)}}).baud_index);
    EXPECT_EQ("0", Read({{"StartId", Text("0")}}).start_id);
    EXPECT_EQ("COM1", Read({{"Port", Text("COM1")}}).port);
}

TEST(TarnwickSettings, DamagedValuesLeaveTheDefaults)
{
    const TarnwickSettings defaults = Read({});
    EXPECT_EQ("", defaults.port);
    EXPECT_EQ(6u, defaults.baud_index);
    EXPECT_EQ("", defaults.start_id);
    EXPECT_EQ("1", defaults.quantity);
    EXPECT_TRUE(defaults.green);
    EXPECT_FALSE(defaults.red);
    EXPECT_TRUE(defaults.buzzer);

    SettingValue other;
    other.kind = SettingValue::Kind::Other;
    const std::map<std::string, SettingValue> damaged[] = {
        {{"Port", Text("COM257")}},          {{"Port", Text("COM")}},
        {{"Port", Text("com3")}},            {{"BaudRate", Number(115201)}},
        {{"BaudRate", other}},               {{"StartId", Text("4294967296")}},
        {{"StartId", Text("12345678901")}},  {{"StartId", Text("1 2")}},
        {{"StartId", Number(5)}},            {{"Quantity", Text("0")}},
        {{"Quantity", Text("81")}},          {{"Quantity", Text("")}},
        {{"GreenLamp", Number(2)}},          {{"RedLamp", Text("1")}},
        {{"Buzzer", Number(0xFFFFFFFF)}},
    };
    for (const auto &stored : damaged) {
        const TarnwickSettings s = Read(stored);
        const std::string name = stored.begin()->first;
        EXPECT_EQ(defaults.port, s.port) << name;
        EXPECT_EQ(defaults.baud_index, s.baud_index) << name;
        EXPECT_EQ(defaults.start_id, s.start_id) << name;
        EXPECT_EQ(defaults.quantity, s.quantity) << name;
        EXPECT_EQ(defaults.green, s.green) << name;
        EXPECT_EQ(defaults.red, s.red) << name;
        EXPECT_EQ(defaults.buzzer, s.buzzer) << name;
    }
}

} // namespace
