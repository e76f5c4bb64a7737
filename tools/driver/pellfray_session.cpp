#include "tools/driver/pellfray_session.h"

#include <ws2tcpip.h>

namespace pellfray {

namespace {

struct WinsockUser {
    WinsockUser() { started = WSAStartup(MAKEWORD(2, 2), &data) == 0; }
    ~WinsockUser()
    {
        if (started)
            WSACleanup();
    }
    WSADATA data = {};
    bool started = false;
};

} // namespace

bool Port23Taken()
{
    WinsockUser winsock;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return true;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(23);
    const bool taken = bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == SOCKET_ERROR;
    closesocket(s);
    return taken;
}

bool WaitPort23Free(DWORD timeout_ms)
{
    return gui::WaitUntil([] { return !Port23Taken(); }, timeout_ms);
}

void ForgetSettings()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\RfidBench\\Pellfray");
}

bool Session::Start(const char *exe, std::string *why, bool wait_for_port23)
{
    if (!keep_settings)
        ForgetSettings();
    if (wait_for_port23 && !WaitPort23Free(60000)) {
        *why = "TCP port 23 stays taken by another program";
        return false;
    }
    if (!program.Start(exe)) {
        *why = std::string("cannot start ") + exe;
        return false;
    }
    main = gui::WaitForWindow("VAREK_OLSA", program.pid(), kStartTimeoutMs);
    if (main == nullptr) {
        *why = "no main window";
        return false;
    }
    dialog = gui::WaitForChildDialog(main, kStartTimeoutMs);
    if (dialog == nullptr) {
        *why = "no main dialog";
        return false;
    }
    return true;
}

bool Session::Close()
{
    if (main != nullptr)
        PostMessageA(main, WM_CLOSE, 0, 0);
    main = nullptr;
    dialog = nullptr;
    return program.WaitExit(10000);
}

HWND PortField(HWND dialog)
{
    return FindWindowExA(gui::Control(dialog, IDC_PORT_LIST), nullptr, "Edit", nullptr);
}

bool SelectPort(HWND dialog, uint32_t n)
{
    return gui::ComboSelect(dialog, IDC_PORT_LIST, "COM" + std::to_string(n));
}

void TypePortName(HWND dialog, const std::string &name)
{
    SendMessageA(gui::Control(dialog, IDC_PORT_LIST), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    HWND field = PortField(dialog);
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    for (unsigned char c : name)
        SendMessageA(field, WM_CHAR, c, 1);
}

HWND WaitMessageBox(DWORD pid, DWORD timeout_ms)
{
    return gui::WaitForPopup(pid, nullptr, timeout_ms);
}

std::string MessageBoxText(HWND box)
{
    // The message text is the static 0xFFFF of the box.
    return gui::Text(GetDlgItem(box, 0xFFFF));
}

void PressOk(HWND box)
{
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
}

bool MessageBoxShown(DWORD pid)
{
    return gui::WaitForPopup(pid, nullptr, 0) != nullptr;
}

ConsoleClient::ConsoleClient()
{
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

ConsoleClient::~ConsoleClient()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    if (started_)
        WSACleanup();
}

bool ConsoleClient::Connect()
{
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET)
        return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(23);
    return connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != SOCKET_ERROR;
}

bool ConsoleClient::Send(const std::string &bytes)
{
    return send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
}

std::string ConsoleClient::Read(size_t count, DWORD timeout_ms)
{
    std::string got;
    const DWORD start = GetTickCount();
    while (got.size() < count) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeout_ms)
            break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval wait = {0, static_cast<long>((timeout_ms - spent) > 100 ? 100000 : (timeout_ms - spent) * 1000)};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        char buffer[512];
        const size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        const int n = recv(socket_, buffer, static_cast<int>(want), 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

std::string ConsoleClient::ReadFor(DWORD ms)
{
    return Read(static_cast<size_t>(-1) / 2, ms);
}

} // namespace pellfray
