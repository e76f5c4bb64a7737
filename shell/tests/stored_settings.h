// Settings as the registry would hand them back, for the tests of each
// program's reading of its remembered values.
#pragma once

#include "shell/settings_value.h"

#include <map>
#include <string>
#include <vector>

inline SettingValue Number(uint32_t n)
{
    SettingValue v;
    v.kind = SettingValue::Kind::Number;
    v.number = n;
    return v;
}

inline SettingValue Text(const std::string &t)
{
    SettingValue v;
    v.kind = SettingValue::Kind::Text;
    v.text = t;
    return v;
}

inline SettingValue List(const std::vector<std::string> &l)
{
    SettingValue v;
    v.kind = SettingValue::Kind::TextList;
    v.list = l;
    return v;
}

inline SettingValue OtherType()
{
    SettingValue v;
    v.kind = SettingValue::Kind::Other;
    return v;
}

// The values stored by name; a name not among them is missing.
template <class Settings, class From> Settings ReadStored(From from, const std::map<std::string, SettingValue> &stored)
{
    return from([&](const char *name) {
        const auto found = stored.find(name);
        return found == stored.end() ? SettingValue() : found->second;
    });
}
