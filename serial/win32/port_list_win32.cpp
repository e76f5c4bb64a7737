#include "serial/win32/port_list_win32.h"

#include "serial/port_names.h"
#include "serial/win32/serial_link.h"

namespace {

// Entries are at most "COM256（不存在）"; anything longer is not ours.
constexpr int kEntryTextSize = 65;

std::string FieldText(HWND combo)
{
    char text[kEntryTextSize] = {};
    GetWindowTextA(combo, text, sizeof text);
    return text;
}

// The values' data of the SERIALCOMM map: the names the drivers gave their
// ports. A missing key means no port is registered.
std::vector<std::string> RegisteredPortNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char value[256];
        DWORD value_size = sizeof value;
        char data[kEntryTextSize];
        DWORD data_size = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, i, value, &value_size, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &data_size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue; // too long to be a port name, or not a name at all
        data[data_size] = '\0'; // the data need not end in a NUL
        names.push_back(data);
    }
    RegCloseKey(key);
    return names;
}

// The entry chosen after a refill; see the header.
void SelectAfterRefill(HWND combo, const std::string &current, const std::string &port, bool editable)
{
    // CB_FINDSTRINGEXACT compares without regard to case, as Windows reads
    // device names.
    const LRESULT found = port.empty() ? CB_ERR
                                       : SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                      reinterpret_cast<LPARAM>(port.c_str()));
    if (found != CB_ERR) {
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
        return;
    }
    if (editable) {
        // A typed name (or an empty field) is the user's; it stays.
        SetWindowTextA(combo, current.c_str());
        return;
    }
    if (!port.empty()) {
        const std::string absent = AbsentPortEntry(port);
        const LRESULT added = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(absent.c_str()));
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(added), 0);
        return;
    }
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

} // namespace

void ListRegisteredComPorts(uint32_t limit)
{
    const std::vector<uint32_t> numbers = RegisteredPortNumbers(RegisteredPortNames(), limit);
    ComPortCount = 0;
    for (const uint32_t n : numbers) {
        if (ComPortCount == sizeof ComPortList / sizeof ComPortList[0])
            break;
        ComPortList[ComPortCount++] = n;
    }
}

std::string PortListText(HWND combo)
{
    return FieldText(combo).substr(0, 9);
}

std::string PortListPort(HWND combo)
{
    return PortOfEntry(FieldText(combo)).substr(0, 9);
}

void RefillPortList(HWND combo, const std::vector<std::string> &names, bool editable)
{
    const std::string current = FieldText(combo);
    const std::string port = PortOfEntry(current);
    // Drawn once when complete, not once per entry: with a few hundred
    // ports that is most of a refill's time.
    SendMessageA(combo, WM_SETREDRAW, FALSE, 0);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string &name : names)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SelectAfterRefill(combo, current, port, editable);
    SendMessageA(combo, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(combo, nullptr, TRUE);
}

std::string PortListChoice(HWND combo)
{
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return PortListPort(combo);
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length == CB_ERR || length >= kEntryTextSize)
        return PortListPort(combo);
    char text[kEntryTextSize] = {};
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text));
    return PortOfEntry(text).substr(0, 9);
}
