#include "modulebench/win32/log_options_win32.h"

#include <string>

#include "modulebench/win32/pellfray_resources.h"
#include "modulebench/win32/recording_win32.h"
#include "modulebench/win32/traffic_log_win32.h"
#include "shell/win32/app_shell.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\RfidBench\\Pellfray";
const wchar_t kMillisecondsValue[] = L"MillisecondTimes";

void SaveMillisecondChoice(bool on)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return; // not remembered: the choice still holds for this run
    const DWORD value = on ? 1 : 0;
    RegSetValueExW(key, kMillisecondsValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(key);
}

std::wstring LoadText(UINT id)
{
    const wchar_t *text = nullptr;
    const int length = LoadStringW(AppInstance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

} // namespace

bool LoadMillisecondChoice()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kMillisecondsValue, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return false;
    return value == 1;
}

void ToggleMillisecondsCommand(HWND)
{
    const bool on = !LogMilliseconds();
    SetLogMilliseconds(on);
    SaveMillisecondChoice(on);
}

void UpdateLogMenu(HWND, HMENU menu)
{
    CheckMenuItem(menu, IDM_LOG_MILLISECONDS, MF_BYCOMMAND | (LogMilliseconds() ? MF_CHECKED : MF_UNCHECKED));
    const std::wstring text = LoadText(RecordingActive() ? IDS_RECORD_STOP : IDS_RECORD_START);
    ModifyMenuW(menu, IDM_LOG_RECORD, MF_BYCOMMAND | MF_STRING, IDM_LOG_RECORD, text.c_str());
}
