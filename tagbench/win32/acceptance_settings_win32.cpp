#include "tagbench/win32/acceptance_settings_win32.h"

#include <windows.h>

namespace {

const wchar_t kSettingsKey[] = L"Software\\RfidBench\\Tarnwick";
const wchar_t kMinSignal[] = L"AcceptMinSignal";
const wchar_t kMinReports[] = L"AcceptMinReports";
const wchar_t kUnderVoltageFails[] = L"AcceptUnderVoltageFails";
const wchar_t kOfflineFails[] = L"AcceptOfflineFails";

StoredSetting Read(const wchar_t *name, bool is_signed)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    StoredSetting s;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return s;
    s.present = true;
    s.value = is_signed ? static_cast<int64_t>(static_cast<int32_t>(value)) : static_cast<int64_t>(value);
    return s;
}

void Write(HKEY key, const wchar_t *name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

} // namespace

AcceptanceCriteria LoadAcceptanceCriteria()
{
    return CriteriaFromStored(Read(kMinSignal, true), Read(kMinReports, false), Read(kUnderVoltageFails, false),
                              Read(kOfflineFails, false));
}

void SaveAcceptanceCriteria(const AcceptanceCriteria &c)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return; // not remembered: the criteria still hold for this run
    Write(key, kMinSignal, static_cast<DWORD>(c.min_signal));
    Write(key, kMinReports, c.min_reports);
    Write(key, kUnderVoltageFails, c.under_voltage_fails ? 1 : 0);
    Write(key, kOfflineFails, c.offline_fails ? 1 : 0);
    RegCloseKey(key);
}
