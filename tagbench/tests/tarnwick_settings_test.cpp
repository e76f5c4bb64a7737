// Tarnwick's remembered settings as read back: values in range are taken,
// damaged ones leave the defaults of the dialog's start.
#include "tagbench/tarnwick_settings.h"
#include "shell/tests/stored_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

namespace {

TarnwickSettings Read(const std::map<std::string, SettingValue> &stored)
{
    return ReadStored<TarnwickSettings>(TarnwickSettingsFrom, stored);
}

auto Fields(const TarnwickSettings &s)
{
    return std::tie(s.port, s.baud_index, s.start_id, s.quantity, s.green, s.red, s.buzzer);
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
    EXPECT_EQ(std::make_tuple("COM256", 1u, "4294967295", "80", false, true, false), Fields(s));
    EXPECT_EQ(0u, Read({{"BaudRate", Number(9600)}}).baud_index);
    EXPECT_EQ("0", Read({{"StartId", Text("0")}}).start_id);
    EXPECT_EQ("COM1", Read({{"Port", Text("COM1")}}).port);
}

TEST(TarnwickSettings, DamagedValuesLeaveTheDefaults)
{
    const TarnwickSettings defaults = Read({});
    EXPECT_EQ(std::make_tuple("", 6u, "", "1", true, false, true), Fields(defaults));

    const SettingValue other = OtherType();
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
        EXPECT_EQ(Fields(defaults), Fields(s)) << stored.begin()->first;
    }
}

} // namespace
