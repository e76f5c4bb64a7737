// The console's socket layer, the same cases on BSD sockets (host) and on
// Winsock (under Wine): a bounded send that does not fit into the socket
// buffers at once goes out in pieces, and every piece must continue where
// the last one ended. A terminal reading steadily behind small buffers
// makes every send partial; only a send that cannot go on at all within its
// bound fails.
#include "modulebench/console/console_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// A connected loopback pair with small buffers at both ends: the console's
// side prepared for bounded sends, and the terminal's side.
struct Connection {
    ConsoleSocket console = kConsoleNoSocket;
    ConsoleSocket terminal = kConsoleNoSocket;

    bool Open()
    {
        if (!ConsoleSockStartup())
            return false;
        const ConsoleSocket listener = ConsoleSockOpenTcp();
        if (listener == kConsoleNoSocket)
            return false;
        const bool listening =
            ConsoleSockBindAny(listener, 0) == ConsoleBindResult::Bound && ConsoleSockListen(listener, 1);
        if (listening) {
            terminal = ConsoleSockConnectLoopback(ConsoleSockLocalPort(listener));
            if (terminal != kConsoleNoSocket)
                console = ConsoleSockAccept(listener);
        }
        ConsoleSockClose(listener);
        if (console == kConsoleNoSocket)
            return false;
        ConsoleSockSetBuffers(console, 4096);
        ConsoleSockSetBuffers(terminal, 4096);
        ConsoleSockPrepareBoundedSends(console);
        return true;
    }
    ~Connection()
    {
        if (console != kConsoleNoSocket)
            ConsoleSockClose(console);
        if (terminal != kConsoleNoSocket)
            ConsoleSockClose(terminal);
    }
};

std::string Numbered(size_t length)
{
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>('a' + (i / 7 + i) % 26);
    return text;
}

TEST(ConsoleSocket, ASendLargerThanTheBuffersArrivesWholeAndInOrder)
{
    Connection c;
    ASSERT_TRUE(c.Open());
    const std::string message = Numbered(64 << 10);
    std::string received;
    std::thread terminal([&] {
        char chunk[2048];
        while (received.size() < message.size()) {
            const int n = ConsoleSockRecv(c.terminal, chunk, sizeof chunk);
            if (n <= 0)
                break;
            received.append(chunk, static_cast<size_t>(n));
        }
    });
    // Generous: the bound is for a terminal that stops reading, not a speed.
    const bool sent = ConsoleSockSendWithin(c.console, message.data(), static_cast<int>(message.size()), 60000);
    terminal.join();
    EXPECT_TRUE(sent);
    ASSERT_EQ(message.size(), received.size());
    EXPECT_TRUE(message == received) << "the pieces of the send did not follow each other";
}

TEST(ConsoleSocket, ASendThatCannotGoOnFailsAtItsBound)
{
    Connection c;
    ASSERT_TRUE(c.Open());
    // Nobody reads: the buffers fill, and the send gives up.
    const std::string message = Numbered(8 << 20);
    EXPECT_FALSE(ConsoleSockSendWithin(c.console, message.data(), static_cast<int>(message.size()), 200));
}

} // namespace
