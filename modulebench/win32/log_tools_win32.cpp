// HEX发送 helpers and Pellfray's remembered settings (log_tools_win32.h).
#include "modulebench/win32/log_tools_win32.h"

#include <string>

#include "modulebench/hex_send_extras.h"
#include "modulebench/input_filters.h"
#include "modulebench/pellfray_settings.h"
#include "modulebench/win32/log_find_win32.h"
#include "modulebench/win32/log_tools_resources.h"
#include "modulebench/win32/pellfray_resources.h"
#include "shell/win32/app_shell.h"
#include "shell/win32/settings_win32.h"

namespace {

// GUI thread only.
HWND Dialog;
HWND CrcBox;
HWND HistoryButton;
HexHistory History;

// A history entry is shown in its menu up to this many characters.
constexpr size_t kMenuTextMax = 60;

// A child control of the dialog at x, y, w, h dialog units, in its font.
HWND AddControl(const wchar_t *window_class, const wchar_t *text, DWORD style, int id, RECT at)
{
    MapDialogRect(Dialog, &at);
    HWND control = CreateWindowExW(0, window_class, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, at.left,
                                   at.top, at.right, at.bottom, Dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), AppInstance, nullptr);
    if (control != nullptr)
        SendMessageW(control, WM_SETFONT, SendMessageW(Dialog, WM_GETFONT, 0, 0), FALSE);
    return control;
}

void CreateHelpers()
{
    // Between the log list (bottom at 261) and the hex field (top at 274).
    CrcBox = AddControl(L"Button", L"加CRC", BS_AUTOCHECKBOX, IDC_HEX_ADD_CRC, RECT{7, 262, 40, 11});
    // Between the hex field (right edge at 422) and HEX发送 (left at 435).
    HistoryButton = AddControl(L"Button", L"\u25BC", BS_PUSHBUTTON, IDC_HEX_HISTORY, RECT{423, 274, 11, 13});
}

void ShowHistoryMenu()
{
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    const auto &entries = History.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string text = entries[i].size() > kMenuTextMax ? entries[i].substr(0, kMenuTextMax) + "..." : entries[i];
        AppendMenuA(menu, MF_STRING, IDM_HEX_HISTORY_FIRST + i, text.c_str());
    }
    if (entries.empty())
        AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, L"（尚未发送过）");
    RECT button;
    GetWindowRect(HistoryButton, &button);
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_BOTTOMALIGN,
                                                         button.right, button.top, 0, Dialog, nullptr));
    DestroyMenu(menu);
    if (chosen < IDM_HEX_HISTORY_FIRST || chosen - IDM_HEX_HISTORY_FIRST >= entries.size())
        return;
    HWND edit = GetDlgItem(Dialog, IDC_HEX_TEXT);
    SetWindowTextA(edit, entries[chosen - IDM_HEX_HISTORY_FIRST].c_str());
    const LRESULT length = SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(edit, EM_SETSEL, length, length);
    SetFocus(edit);
}

// --- settings ---------------------------------------------------------------

std::string ControlText(int id)
{
    HWND control = GetDlgItem(Dialog, id);
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = GetWindowTextA(control, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void SelectText(int id, const char *text)
{
    const LRESULT index = SendDlgItemMessageA(Dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(text));
    if (index != CB_ERR)
        SendDlgItemMessageA(Dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void SetIfKept(int id, const std::string &text)
{
    if (!text.empty())
        SetDlgItemTextA(Dialog, id, text.c_str());
}

void LoadSettings()
{
    const PellfraySettings s = PellfraySettingsFrom(ReadSetting);
    if (!s.port.empty())
        SelectText(IDC_PORT_LIST, s.port.c_str());
    SelectText(IDC_BAUD_LIST, kBaudChoiceTexts[s.baud_choice]);
    SendDlgItemMessageA(Dialog, IDC_READER_MODE, BM_SETCHECK, s.tag_mode ? 0 : 1, 0);
    SendDlgItemMessageA(Dialog, IDC_TAG_MODE, BM_SETCHECK, s.tag_mode ? 1 : 0, 0);
    SetIfKept(IDC_READER_ID, s.reader_id);
    SelectText(IDC_CHANNEL_LIST, std::to_string(s.channel).c_str());
    SetIfKept(IDC_TAG_ID, s.tag_id);
    SetIfKept(IDC_SEND_PERIOD, s.send_period);
    SetIfKept(IDC_BATTERY_PERIOD, s.battery_period);
    History.Assign(s.hex_history);
}

} // namespace

void AttachLogTools(HWND dialog)
{
    Dialog = dialog;
    UseSettingsOf(L"Pellfray");
    CreateHelpers();
    AttachLogFind(dialog);
    LoadSettings();
}

void OnLogToolsCommand(int id)
{
    if (id == IDC_HEX_HISTORY)
        ShowHistoryMenu();
}

uint32_t AddChosenCrc(uint8_t *bytes, uint32_t count)
{
    if (SendMessageA(CrcBox, BM_GETCHECK, 0, 0) != BST_CHECKED)
        return count;
    return AppendCrc16(bytes, count);
}

void RememberHexText(const char *text, size_t length)
{
    if (History.Push(text, length))
        WriteTextListSetting(kPellfrayHexHistorySetting, History.entries());
}

void SaveLogToolsSettings(HWND)
{
    const bool tag = SendDlgItemMessageA(Dialog, IDC_TAG_MODE, BM_GETCHECK, 0, 0) == BST_CHECKED;
    WriteNumberSetting(kPellfrayModeSetting, tag ? 1 : 0);
    WriteTextSetting(kPellfrayReaderIdSetting, ControlText(IDC_READER_ID));
    int32_t channel = 0;
    if (ChannelForText(ControlText(IDC_CHANNEL_LIST).c_str(), &channel))
        WriteNumberSetting(kPellfrayChannelSetting, static_cast<uint32_t>(channel));
    WriteTextSetting(kPellfrayTagIdSetting, ControlText(IDC_TAG_ID));
    WriteTextSetting(kPellfraySendPeriodSetting, ControlText(IDC_SEND_PERIOD));
    WriteTextSetting(kPellfrayBatteryPeriodSetting, ControlText(IDC_BATTERY_PERIOD));
}
