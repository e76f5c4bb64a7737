#include "tagbench/tarnwick_settings.h"

#include "tagbench/reminder.h"

const char kTarnwickPortSetting[] = "Port";
const char kTarnwickBaudSetting[] = "BaudRate";
const char kTarnwickStartIdSetting[] = "StartId";
const char kTarnwickQuantitySetting[] = "Quantity";
const char kTarnwickGreenSetting[] = "GreenLamp";
const char kTarnwickRedSetting[] = "RedLamp";
const char kTarnwickBuzzerSetting[] = "Buzzer";

const uint32_t kTarnwickBaudRates[kTarnwickBaudCount] = {9600, 14400, 19200, 38400, 56000, 57600, 115200};

namespace {

// Tarnwick lists COM1 to COM256.
constexpr uint32_t kHighestPort = 256;

} // namespace

TarnwickSettings TarnwickSettingsFrom(const std::function<SettingValue(const char *name)> &read)
{
    TarnwickSettings s;
    SavedPortName(read(kTarnwickPortSetting), kHighestPort, &s.port);
    SavedChoice(read(kTarnwickBaudSetting), kTarnwickBaudRates, kTarnwickBaudCount, &s.baud_index);
    SavedDecimal(read(kTarnwickStartIdSetting), 10, 0, 0xFFFFFFFFu, &s.start_id);
    SavedDecimal(read(kTarnwickQuantitySetting), 2, 1, kReminderMaxQuantity, &s.quantity);
    SavedFlag(read(kTarnwickGreenSetting), &s.green);
    SavedFlag(read(kTarnwickRedSetting), &s.red);
    SavedFlag(read(kTarnwickBuzzerSetting), &s.buzzer);
    return s;
}
