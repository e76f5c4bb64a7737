// Winsock side of the console's platform layer, for Pellfray: a Winsock 2.2
// TCP server and one thread made with CreateThread. Winsock has no per-call
// "do not block" flag, so the client socket is non-blocking: a send waits for
// room in select with the time left, and recv waits for data in select
// without a time limit.

#include "modulebench/console/console_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace {

SOCKET Sock(ConsoleSocket s)
{
    return static_cast<SOCKET>(s);
}

sockaddr_in AddressOf(u_long host, uint16_t port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    return address;
}

// Written once, before the only thread that reads it is created.
void (*ThreadProc)() = nullptr;

// Set by ConsoleSockShutdown, reset for each new client: ends the accept
// thread's wait for data when another thread shuts the client down (a local
// shutdown does not make the socket readable under every Winsock).
HANDLE ReceiveWake = CreateEventA(nullptr, TRUE, FALSE, nullptr);

DWORD WINAPI ThreadEntry(LPVOID)
{
    ThreadProc();
    return 0;
}

} // namespace

bool ConsoleSockStartup()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return false;
    }
    return true;
}

ConsoleSocket ConsoleSockOpenTcp()
{
    return static_cast<ConsoleSocket>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

ConsoleBindResult ConsoleSockBindAny(ConsoleSocket s, uint16_t port)
{
    sockaddr_in address = AddressOf(INADDR_ANY, port);
    if (bind(Sock(s), reinterpret_cast<sockaddr *>(&address), sizeof address) != SOCKET_ERROR)
        return ConsoleBindResult::Bound;
    const int error = WSAGetLastError();
    if (error == WSAEADDRINUSE)
        return ConsoleBindResult::InUse;
    return error == WSAEACCES ? ConsoleBindResult::Denied : ConsoleBindResult::Failed;
}

int ConsoleSockLastError()
{
    return WSAGetLastError();
}

bool ConsoleSockListen(ConsoleSocket s, int backlog)
{
    return listen(Sock(s), backlog) != SOCKET_ERROR;
}

ConsoleSocket ConsoleSockAccept(ConsoleSocket listener)
{
    return static_cast<ConsoleSocket>(accept(Sock(listener), nullptr, nullptr));
}

void ConsoleSockSetNoDelay(ConsoleSocket s)
{
    BOOL on = TRUE;
    setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
}

void ConsoleSockSetBuffers(ConsoleSocket s, int bytes)
{
    setsockopt(Sock(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&bytes), sizeof bytes);
    setsockopt(Sock(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&bytes), sizeof bytes);
}

void ConsoleSockPrepareBoundedSends(ConsoleSocket s)
{
    ResetEvent(ReceiveWake);
    u_long on = 1;
    ioctlsocket(Sock(s), FIONBIO, &on);
}

namespace {

// Waits until s can be read (read true) or written, at most timeout_ms, or
// without a limit when timeout_ms is null. False on a time-out or an error.
bool WaitReady(SOCKET s, bool read, const DWORD *timeout_ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit = {};
    if (timeout_ms != nullptr) {
        limit.tv_sec = static_cast<long>(*timeout_ms / 1000);
        limit.tv_usec = static_cast<long>(*timeout_ms % 1000) * 1000;
    }
    // A failed connection ends the wait too; the next call then fails.
    fd_set errors = set;
    const int ready = select(0, read ? &set : nullptr, read ? nullptr : &set, &errors,
                             timeout_ms != nullptr ? &limit : nullptr);
    return ready > 0;
}

} // namespace

int ConsoleSockRecv(ConsoleSocket s, char *buffer, int size)
{
    for (;;) {
        const int received = recv(Sock(s), buffer, size, 0);
        if (received != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK) {
            return received;
        }
        // Data, the peer's end, or our own shutdown from another thread.
        WSAEVENT ready = WSACreateEvent();
        if (ready == WSA_INVALID_EVENT) {
            return -1;
        }
        WSAEventSelect(Sock(s), ready, FD_READ | FD_CLOSE);
        HANDLE waits[2] = {ready, ReceiveWake};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        WSAEventSelect(Sock(s), nullptr, 0);
        WSACloseEvent(ready);
        if (woken != WAIT_OBJECT_0) {
            return -1;
        }
    }
}

bool ConsoleSockSendWithin(ConsoleSocket s, const char *data, int length, unsigned timeout_ms)
{
    const ULONGLONG start = GetTickCount64();
    while (length > 0) {
        const int sent = send(Sock(s), data, length, 0);
        if (sent > 0) {
            data += sent;
            length -= sent;
            continue;
        }
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            return false;
        }
        const ULONGLONG waited = GetTickCount64() - start;
        if (waited >= timeout_ms) {
            return false;
        }
        const DWORD left = static_cast<DWORD>(timeout_ms - waited);
        WaitReady(Sock(s), false, &left);
    }
    return true;
}

void ConsoleSockClose(ConsoleSocket s)
{
    closesocket(Sock(s));
}

void ConsoleSockShutdown(ConsoleSocket s)
{
    shutdown(Sock(s), SD_BOTH);
    SetEvent(ReceiveWake);
}

uint16_t ConsoleSockLocalPort(ConsoleSocket s)
{
    sockaddr_in address = {};
    int size = sizeof address;
    if (getsockname(Sock(s), reinterpret_cast<sockaddr *>(&address), &size) == SOCKET_ERROR) {
        return 0;
    }
    return ntohs(address.sin_port);
}

ConsoleSocket ConsoleSockConnectLoopback(uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return kConsoleNoSocket;
    }
    sockaddr_in address = AddressOf(INADDR_LOOPBACK, port);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == SOCKET_ERROR) {
        closesocket(s);
        return kConsoleNoSocket;
    }
    return static_cast<ConsoleSocket>(s);
}

bool ConsoleStartThread(void (*proc)())
{
    ThreadProc = proc;
    HANDLE thread = CreateThread(nullptr, 0, ThreadEntry, nullptr, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}
