#include "shell/win32/settings_win32.h"

#include <windows.h>

namespace {

// Written once at start-up (UseSettingsOf), read afterwards.
std::wstring KeyPath;

// A value larger than this is damaged for every use the programs make.
constexpr DWORD kMaxValueBytes = 64 * 1024;

std::wstring Wide(const char *text, size_t length)
{
    if (length == 0)
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &out[0], n);
    return out;
}

std::wstring Wide(const char *text)
{
    return Wide(text, std::char_traits<char>::length(text));
}

std::string Narrow(const wchar_t *text, size_t length)
{
    if (length == 0)
        return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

bool Write(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key = nullptr;
    if (KeyPath.empty() || RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(key, Wide(name).c_str(), 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace

void UseSettingsOf(const wchar_t *program)
{
    KeyPath = std::wstring(L"Software\\RfidBench\\") + program;
}

SettingValue ReadSetting(const char *name)
{
    SettingValue value;
    HKEY key = nullptr;
    if (KeyPath.empty() || RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    const std::wstring wide_name = Wide(name);
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return value;
    }
    value.kind = SettingValue::Kind::Other;
    if (status != ERROR_SUCCESS || size > kMaxValueBytes) {
        RegCloseKey(key);
        return value;
    }
    std::vector<BYTE> data(size + 2 * sizeof(wchar_t), 0); // room for missing terminators
    status = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return value;
    const wchar_t *text = reinterpret_cast<const wchar_t *>(data.data());
    const size_t chars = size / sizeof(wchar_t);
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        value.kind = SettingValue::Kind::Number;
        value.number = *reinterpret_cast<const DWORD *>(data.data());
    } else if (type == REG_SZ) {
        value.kind = SettingValue::Kind::Text;
        // The stored text ends at its first NUL, if it has one.
        const size_t end = std::wstring(text, chars).find(L'\0');
        value.text = Narrow(text, end == std::wstring::npos ? chars : end);
    } else if (type == REG_MULTI_SZ) {
        value.kind = SettingValue::Kind::TextList;
        size_t begin = 0;
        for (size_t i = 0; i <= chars; ++i) {
            if (i < chars && text[i] != L'\0')
                continue;
            if (i == begin)
                break; // the empty string that ends the list
            value.list.push_back(Narrow(text + begin, i - begin));
            begin = i + 1;
        }
    }
    return value;
}

bool WriteNumberSetting(const char *name, uint32_t value)
{
    const DWORD number = value;
    return Write(name, REG_DWORD, &number, sizeof number);
}

bool WriteTextSetting(const char *name, const std::string &text)
{
    const std::wstring wide = Wide(text.data(), text.size());
    return Write(name, REG_SZ, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

bool WriteTextListSetting(const char *name, const std::vector<std::string> &texts)
{
    std::wstring all;
    for (const std::string &text : texts) {
        if (text.empty())
            continue; // would end the list early
        all += Wide(text.data(), text.size());
        all.push_back(L'\0');
    }
    all.push_back(L'\0');
    return Write(name, REG_MULTI_SZ, all.data(), static_cast<DWORD>(all.size() * sizeof(wchar_t)));
}

void RememberOpenedPort(const std::string &name, uint32_t rate)
{
    // A name typed as com5 opens COM5; the list shows it in capitals.
    std::string upper = name;
    for (char &c : upper)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    WriteTextSetting("Port", upper);
    WriteNumberSetting("BaudRate", rate);
}
