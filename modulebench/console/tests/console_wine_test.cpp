// The console as Pellfray runs it: ConsoleInit with Winsock 2.2 on port 23 of
// every address, reached by a Winsock client on loopback.

#include "modulebench/console/console.h"

#include "modulebench/console/console_internal.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const std::string kHelpHeader = "\r\n---------- help ------------\r\n";

// A blocking Winsock client whose receives time out after two seconds.
class WinClient
{
public:
    WinClient() = default;
    WinClient(const WinClient &) = delete;
    WinClient &operator=(const WinClient &) = delete;
    ~WinClient() { Close(); }

    bool Connect(uint16_t port)
    {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) {
            return false;
        }
        DWORD timeout = 2000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout), sizeof timeout);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != SOCKET_ERROR;
    }

    bool Send(const std::string &bytes)
    {
        return send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
    }

    // Up to count bytes; fewer when the peer closes or two seconds pass.
    std::string Read(size_t count)
    {
        std::string got;
        while (got.size() < count) {
            char buffer[512];
            int n = recv(socket_, buffer, static_cast<int>(std::min(count - got.size(), sizeof buffer)), 0);
            if (n <= 0) {
                closed_ = n == 0;
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    bool closed() const { return closed_; }

    void Close()
    {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
        }
        socket_ = INVALID_SOCKET;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool closed_ = false;
};

// One console for the whole program, as in Pellfray.
void StartOnce()
{
    static bool started = false;
    if (!started) {
        ConsoleInit();
        started = true;
    }
}

TEST(ConsoleWine, ListensOnPort23OfEveryAddress)
{
    StartOnce();
    ASSERT_EQ(23, ConsoleListeningPort()) << "port 23 taken or Winsock refused";
}

TEST(ConsoleWine, AnswersAPromptAndTheHelpHeader)
{
    StartOnce();
    WinClient client;
    ASSERT_TRUE(client.Connect(23));
    ASSERT_TRUE(client.Send("\r"));
    EXPECT_EQ("->", client.Read(2));
    ASSERT_TRUE(client.Send("help\r"));
    EXPECT_EQ(kHelpHeader + "->", client.Read(kHelpHeader.size() + 2));
    ASSERT_TRUE(client.Send("x\b\r"));
    EXPECT_EQ("\b \b->", client.Read(5));
    ConsolePrintf("check error\r\n");
    EXPECT_EQ("check error\r\n", client.Read(13));
}

TEST(ConsoleWine, ByeClosesAndTheNextClientIsServed)
{
    StartOnce();
    WinClient first;
    ASSERT_TRUE(first.Connect(23));
    ASSERT_TRUE(first.Send("\r"));
    ASSERT_EQ("->", first.Read(2));
    WinClient second;
    ASSERT_TRUE(second.Connect(23));
    ASSERT_TRUE(second.Send("\r"));

    ASSERT_TRUE(first.Send("BYE\r"));
    EXPECT_EQ("", first.Read(1));
    EXPECT_TRUE(first.closed());
    EXPECT_EQ("->", second.Read(2));
}

} // namespace
