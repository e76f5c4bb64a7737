// A terminal that stays connected but stops reading must not hold up the
// threads that write diagnostics: their messages keep returning, the terminal
// is dropped (by the send bound, its own half-close or its "bye"), and the
// next terminal is served. Nothing here is timed: a writer that never
// returns, or a next terminal that is never served, is the failure.
#include "modulebench/console/console.h"
#include "modulebench/console/tests/console_test_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// A 128-byte message with its number in front, as ConsolePrintf sends it.
std::string Message(int number)
{
    char head[16];
    std::snprintf(head, sizeof head, "%06d ", number);
    std::string text(head);
    text.append(kConsoleMaxMessage - 2 - text.size(), static_cast<char>('a' + number % 26));
    text.append("\r\n");
    return text;
}

// A terminal with a small receive window that never reads: the console's
// send buffer fills after a few hundred kilobytes.
int ConnectStuckTerminal(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class ConsoleStall : public ConsoleFixture
{
};

TEST_F(ConsoleStall, AStuckTerminalIsDroppedAndTheNextOneServedWhileWritersGoOn)
{
    // How the terminal leaves: the send bound, a half-close, "bye".
    for (const char *how : {"bound", "half-close", "bye"}) {
        SCOPED_TRACE(how);
        const std::string c(how);
        int stuck = ConnectStuckTerminal(port_);
        ASSERT_GE(stuck, 0);
        // Served: the console answers its first CR (the answer stays unread).
        ASSERT_EQ(send(stuck, "\r", 1, MSG_NOSIGNAL), 1);

        // Two writers, as the receive and processor threads; they stop only
        // when told, so they are still writing while the terminal leaves.
        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        auto writer = [&](int first) {
            for (int n = first; !stop.load(); n += 2) {
                ConsolePrintf("%s", Message(n).c_str());
                ++written;
            }
        };
        std::thread receive(writer, 0);
        std::thread processor(writer, 1);
        // Far more than every buffer between the writers and the terminal.
        while (written.load() < 40000) {
            std::this_thread::yield();
        }
        if (c == "half-close")
            shutdown(stuck, SHUT_WR);
        if (c == "bye")
            send(stuck, "bye\r", 4, MSG_NOSIGNAL);

        TestClient next;
        ASSERT_TRUE(next.Connect(port_));
        ASSERT_TRUE(next.Send("\r"));
        EXPECT_NE(std::string::npos, next.Read(2000 * kConsoleMaxMessage, 5000).find("->"))
            << "the next terminal was not served";
        stop.store(true);
        receive.join();
        processor.join();
        next.Close();
        close(stuck);
    }
}

} // namespace
