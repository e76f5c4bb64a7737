#include "tagbench/win32/tarnwick_settings_win32.h"

#include <string>

#include "shell/win32/settings_win32.h"
#include "tagbench/tarnwick_settings.h"
#include "tagbench/win32/tarnwick_resources.h"

namespace {

std::string ControlText(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = GetWindowTextA(control, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void Check(HWND dialog, int id, bool on)
{
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Checked(HWND dialog, int id)
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

} // namespace

void LoadTarnwickSettings(HWND dialog)
{
    UseSettingsOf(L"Tarnwick");
    const TarnwickSettings s = TarnwickSettingsFrom(ReadSetting);
    if (!s.port.empty()) {
        const LRESULT index = SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                  reinterpret_cast<LPARAM>(s.port.c_str()));
        if (index != CB_ERR)
            SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    // The speed list's position is the baud index.
    SendDlgItemMessageA(dialog, IDC_SPEED_LIST, CB_SETCURSEL, s.baud_index, 0);
    if (!s.start_id.empty())
        SetDlgItemTextA(dialog, IDC_REMINDER_START_ID, s.start_id.c_str());
    SetDlgItemTextA(dialog, IDC_REMINDER_QUANTITY, s.quantity.c_str());
    Check(dialog, IDC_LAMP_GREEN, s.green);
    Check(dialog, IDC_LAMP_RED, s.red);
    Check(dialog, IDC_BUZZER, s.buzzer);
}

void SaveTarnwickSettings(HWND dialog)
{
    WriteTextSetting(kTarnwickStartIdSetting, ControlText(dialog, IDC_REMINDER_START_ID));
    WriteTextSetting(kTarnwickQuantitySetting, ControlText(dialog, IDC_REMINDER_QUANTITY));
    WriteNumberSetting(kTarnwickGreenSetting, Checked(dialog, IDC_LAMP_GREEN) ? 1 : 0);
    WriteNumberSetting(kTarnwickRedSetting, Checked(dialog, IDC_LAMP_RED) ? 1 : 0);
    WriteNumberSetting(kTarnwickBuzzerSetting, Checked(dialog, IDC_BUZZER) ? 1 : 0);
}
