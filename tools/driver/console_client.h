// A terminal for the console tests: a blocking loopback TCP client whose reads
// all carry a time-out. TCP may merge or split the console's sends, so the
// tests never rely on message boundaries: they read until they hold the bytes
// they expect, or until the time-out says those bytes are not coming.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

class TestClient
{
public:
    TestClient() = default;
    TestClient(const TestClient &) = delete;
    TestClient &operator=(const TestClient &) = delete;
    ~TestClient() { Close(); }

    // Connects to the console on loopback. The connection completes in the
    // listen backlog even while the console serves someone else.
    bool Connect(uint16_t port)
    {
        Close();
        fd_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (fd_ < 0) {
            return false;
        }
        int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            Close();
            return false;
        }
        return true;
    }

    bool Send(const std::string &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until count bytes have arrived, the peer closes or the time-out
    // passes; returns what arrived.
    std::string Read(size_t count, int timeoutMs = 5000)
    {
        std::string got;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count) {
            int left = MsUntil(deadline);
            if (left <= 0 || !WaitReadable(left)) {
                break;
            }
            char buffer[4096];
            size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
            ssize_t n = recv(fd_, buffer, want, 0);
            if (n <= 0) {
                closedByPeer_ = true;
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // Everything that arrives within quietMs (the console's answer to a byte
    // that should produce none shows up here).
    std::string ReadFor(int quietMs)
    {
        std::string got;
        auto deadline = Clock::now() + std::chrono::milliseconds(quietMs);
        for (;;) {
            int left = MsUntil(deadline);
            if (left <= 0 || !WaitReadable(left)) {
                break;
            }
            char buffer[4096];
            ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closedByPeer_ = true;
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // True once the console has closed the connection; bytes that arrive
    // before the end are appended to *before.
    bool WaitClosed(int timeoutMs = 5000, std::string *before = nullptr)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!closedByPeer_) {
            int left = MsUntil(deadline);
            if (left <= 0 || !WaitReadable(left)) {
                return false;
            }
            char buffer[4096];
            ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closedByPeer_ = true;
                break;
            }
            if (before != nullptr) {
                before->append(buffer, static_cast<size_t>(n));
            }
        }
        return true;
    }

    void Close()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
        closedByPeer_ = false;
    }

    int fd() const { return fd_; }

private:
    typedef std::chrono::steady_clock Clock;

    static int MsUntil(Clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(left.count());
    }

    bool WaitReadable(int timeoutMs)
    {
        pollfd p = {fd_, POLLIN, 0};
        return poll(&p, 1, timeoutMs) > 0;
    }

    int fd_ = -1;
    bool closedByPeer_ = false;
};
