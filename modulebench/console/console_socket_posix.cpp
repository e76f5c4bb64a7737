// BSD-socket side of the console's platform layer, for the host build: the
// tests run the console logic over real loopback connections with it.

#include "modulebench/console/console_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

int Fd(ConsoleSocket s)
{
    return static_cast<int>(s);
}

ConsoleSocket FromFd(int fd)
{
    return fd < 0 ? kConsoleNoSocket : static_cast<ConsoleSocket>(fd);
}

sockaddr_in AddressOf(uint32_t host, uint16_t port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    return address;
}

// The thread procedure travels to the new thread in a heap block of its own.
struct ThreadStart
{
    void (*proc)();
};

void *ThreadEntry(void *parameter)
{
    ThreadStart *start = static_cast<ThreadStart *>(parameter);
    void (*proc)() = start->proc;
    delete start;
    proc();
    return nullptr;
}

} // namespace

bool ConsoleSockStartup()
{
    return true;
}

ConsoleSocket ConsoleSockOpenTcp()
{
    return FromFd(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

ConsoleBindResult ConsoleSockBindAny(ConsoleSocket s, uint16_t port)
{
    sockaddr_in address = AddressOf(INADDR_ANY, port);
    if (bind(Fd(s), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return ConsoleBindResult::Bound;
    if (errno == EADDRINUSE)
        return ConsoleBindResult::InUse;
    return errno == EACCES ? ConsoleBindResult::Denied : ConsoleBindResult::Failed;
}

int ConsoleSockLastError()
{
    return errno;
}

bool ConsoleSockListen(ConsoleSocket s, int backlog)
{
    return listen(Fd(s), backlog) == 0;
}

ConsoleSocket ConsoleSockAccept(ConsoleSocket listener)
{
    return FromFd(accept(Fd(listener), nullptr, nullptr));
}

void ConsoleSockSetNoDelay(ConsoleSocket s)
{
    int on = 1;
    setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void ConsoleSockSetBuffers(ConsoleSocket s, int bytes)
{
    setsockopt(Fd(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    setsockopt(Fd(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int ConsoleSockRecv(ConsoleSocket s, char *buffer, int size)
{
    return static_cast<int>(recv(Fd(s), buffer, static_cast<size_t>(size), 0));
}

void ConsoleSockPrepareBoundedSends(ConsoleSocket)
{
}

bool ConsoleSockSendWithin(ConsoleSocket s, const char *data, int length, unsigned timeout_ms)
{
    timespec start = {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (length > 0) {
        ssize_t sent = send(Fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            length -= static_cast<int>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return false;
        }
        timespec now = {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        long waited = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
        if (waited >= static_cast<long>(timeout_ms)) {
            return false;
        }
        pollfd room = {Fd(s), POLLOUT, 0};
        if (poll(&room, 1, static_cast<int>(timeout_ms - waited)) < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

void ConsoleSockClose(ConsoleSocket s)
{
    close(Fd(s));
}

void ConsoleSockShutdown(ConsoleSocket s)
{
    shutdown(Fd(s), SHUT_RDWR);
}

uint16_t ConsoleSockLocalPort(ConsoleSocket s)
{
    sockaddr_in address = {};
    socklen_t size = sizeof address;
    if (getsockname(Fd(s), reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

ConsoleSocket ConsoleSockConnectLoopback(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) {
        return kConsoleNoSocket;
    }
    sockaddr_in address = AddressOf(INADDR_LOOPBACK, port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return kConsoleNoSocket;
    }
    return FromFd(fd);
}

bool ConsoleStartThread(void (*proc)())
{
    ThreadStart *start = new ThreadStart{proc};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, ThreadEntry, start) != 0) {
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}
