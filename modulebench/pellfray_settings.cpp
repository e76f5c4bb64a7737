#include "modulebench/pellfray_settings.h"

#include "modulebench/hex_send_extras.h"
#include "modulebench/input_filters.h"

const char kPellfrayPortSetting[] = "Port";
const char kPellfrayBaudSetting[] = "BaudRate";
const char kPellfrayModeSetting[] = "Mode";
const char kPellfrayReaderIdSetting[] = "ReaderId";
const char kPellfrayChannelSetting[] = "Channel";
const char kPellfrayTagIdSetting[] = "TagId";
const char kPellfraySendPeriodSetting[] = "SendPeriod";
const char kPellfrayBatteryPeriodSetting[] = "BatteryPeriod";
const char kPellfrayHexHistorySetting[] = "HexHistory";

const uint32_t kPellfrayBaudRates[4] = {9600, 19200, 38400, 115200};

namespace {

// The highest port a name may be typed for (Windows has no higher).
constexpr uint32_t kHighestPort = 256;

// A numeric field's text as its keystroke filter would have let it in.
void ReadField(const SettingValue &value, NumericField field, std::string *out)
{
    const uint32_t minimum = static_cast<uint32_t>(NumericFieldMinimum(field));
    const uint32_t maximum = static_cast<uint32_t>(NumericFieldMaximum(field));
    SavedDecimal(value, 7, minimum, maximum, out);
}

} // namespace

PellfraySettings PellfraySettingsFrom(const std::function<SettingValue(const char *name)> &read)
{
    PellfraySettings s;
    SavedPortName(read(kPellfrayPortSetting), kHighestPort, &s.port);
    SavedChoice(read(kPellfrayBaudSetting), kPellfrayBaudRates, 4, &s.baud_choice);
    SavedFlag(read(kPellfrayModeSetting), &s.tag_mode);
    ReadField(read(kPellfrayReaderIdSetting), NumericField::ReaderId, &s.reader_id);
    SavedNumber(read(kPellfrayChannelSetting), 0, kChannelChoiceCount - 1, &s.channel);
    ReadField(read(kPellfrayTagIdSetting), NumericField::TagId, &s.tag_id);
    ReadField(read(kPellfraySendPeriodSetting), NumericField::SendPeriod, &s.send_period);
    ReadField(read(kPellfrayBatteryPeriodSetting), NumericField::BatteryPeriod, &s.battery_period);
    const SettingValue history = read(kPellfrayHexHistorySetting);
    if (history.kind == SettingValue::Kind::TextList) {
        HexHistory checked;
        checked.Assign(history.list);
        s.hex_history = checked.entries();
    }
    return s;
}
