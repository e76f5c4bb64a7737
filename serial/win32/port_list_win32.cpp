#include "serial/win32/port_list_win32.h"

std::string PortListText(HWND combo)
{
    char text[10] = {}; // "COMnnn"; at most 9 characters are taken
    GetWindowTextA(combo, text, sizeof text);
    return text;
}

void RefillPortList(HWND combo, const std::vector<std::string> &names, bool editable)
{
    const std::string current = PortListText(combo);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string &name : names)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    const LRESULT found =
        current.empty() ? CB_ERR : SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                reinterpret_cast<LPARAM>(current.c_str()));
    if (found != CB_ERR) {
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
        return;
    }
    if (editable) {
        // A typed name (or an empty field) is the user's; it stays.
        SetWindowTextA(combo, current.c_str());
        return;
    }
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

std::string PortListChoice(HWND combo)
{
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return PortListText(combo);
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length == CB_ERR || length > 64)
        return PortListText(combo);
    char text[65] = {};
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text));
    return std::string(text).substr(0, 9);
}
