// The console over real loopback connections: what a terminal sees for each
// byte it types, the built-in words, one client at a time, and messages.
// What the line holds and which handler gets which words, for any bytes in
// any chunks, is the fuzz target's (fuzz/fuzz_console.cpp).

#include "modulebench/console/console.h"

#include "modulebench/console/console_internal.h"
#include "modulebench/console/tests/console_test_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const std::string kPrompt = "->";
const std::string kNotFound = "\r\nCan not find this command!\r\n";
const std::string kHelpHeader = "\r\n---------- help ------------\r\n";
const std::string kErase = "\b \b";

std::string Hex(const char *text)
{
    if (text == nullptr)
        return "-";
    std::string out;
    char pair[3];
    for (const char *p = text; *p != '\0'; ++p) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(*p));
        out += pair;
    }
    return out;
}

// Handlers answer through ConsolePrintf, so the terminal sees what they got.
void ShowHex(char *a1, char *a2, char *, char *)
{
    ConsolePrintf("<%s|%s>", Hex(a1).c_str(), Hex(a2).c_str());
}

typedef ConsoleFixture ConsoleTest;

// The bytes the editor treats on their own: what the terminal sees for each
// alone in a line, and between x and y in a word that show reports in hex.
const struct {
    int value;
    std::string alone;
    std::string in_word;
} kSpecialBytes[] = {
    {0x08, kPrompt, kErase + "<79|->" + kPrompt},
    {0x7F, kPrompt, kErase + "<79|->" + kPrompt},
    {0x0A, kPrompt, "<7879|->" + kPrompt},
    {0x20, kPrompt, "<78|79>" + kPrompt},
    {0x09, "    " + kPrompt, "    <78|79>" + kPrompt},
    {0x0D, kPrompt + kPrompt, "<78|->" + kPrompt + kNotFound + kPrompt},
    {0x00, kNotFound + kPrompt, "<78|->" + kPrompt}, // stored; the word's text ends there
};

// Every byte value alone in a line, then between two letters of a word
// that a command reports in hex: what is echoed, and what the line holds.
TEST_F(ConsoleTest, EditingTableForEveryByteValue)
{
    ConsoleRegisterCommand("show", ShowHex, "hex of the first two arguments");
    TestClient client;
    ConnectServed(client);

    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE("byte " + std::to_string(value));
        char byte = static_cast<char>(value);

        // Alone in a line, then between x and y in show's first word.
        std::string alone = kNotFound + kPrompt;
        std::string in_word = "<78" + Hex(std::string(1, byte).c_str()) + "79|->" + kPrompt;
        for (const auto &special : kSpecialBytes) {
            if (special.value == value) {
                alone = special.alone;
                in_word = special.in_word;
            }
        }
        ASSERT_TRUE(client.Send(std::string(1, byte) + "\r"));
        ASSERT_EQ(alone, client.Read(alone.size()));
        ASSERT_TRUE(client.Send(std::string("show x") + byte + "y\r"));
        ASSERT_EQ(in_word, client.Read(in_word.size()));
    }
    EXPECT_EQ("", client.ReadFor(100));
}

TEST_F(ConsoleTest, HelpIsItsFirstFourLettersInAnyCase)
{
    TestClient client;
    ConnectServed(client);
    const std::pair<const char *, bool> lines[] = {
        {"help\r", true}, {"HELP\r", true}, {"hElP\r", true},    {"helpme\r", true},
        {"  help with words\r", true}, {"hel\r", false}, {"\x01help\r", false}, {"hel p\r", false}};
    for (const auto &line : lines) {
        SCOPED_TRACE(line.first);
        ASSERT_TRUE(client.Send(line.first));
        const std::string expected = line.second ? kHelpHeader + kPrompt : kNotFound + kPrompt;
        EXPECT_EQ(expected, client.Read(expected.size()));
    }
    EXPECT_EQ("", client.ReadFor(100));
}

TEST_F(ConsoleTest, ByeInAnyCaseClosesWithoutPromptAndTheNextClientIsTaken)
{
    for (const char *bye : {"bye\r", "BYE\r", "byebye\r", "ByE now\r"}) {
        SCOPED_TRACE(bye);
        TestClient first;
        ConnectServed(first);
        TestClient next;
        ASSERT_TRUE(next.Connect(port_));
        ASSERT_TRUE(next.Send("\r"));
        EXPECT_EQ("", next.ReadFor(100));
        ASSERT_TRUE(first.Send("\r")); // the first is served meanwhile
        EXPECT_EQ(kPrompt, first.Read(2));

        ASSERT_TRUE(first.Send(bye));
        std::string before;
        EXPECT_TRUE(first.WaitClosed(5000, &before));
        EXPECT_EQ("", before);
        EXPECT_EQ(kPrompt, next.Read(2));
        next.Close();
    }
}

TEST_F(ConsoleTest, MessagesReachTheClientCutTo128Bytes)
{
    TestClient client;
    ConnectServed(client);

    ConsolePrintf("check error\r\n");
    ConsolePrintf("%s %d%c", "id", 42, '!');
    EXPECT_EQ("check error\r\nid 42!", client.Read(19));

    std::string text;
    for (int i = 0; i < 200; ++i)
        text += static_cast<char>('A' + i % 26);
    ConsolePrintf("%s", text.c_str());
    EXPECT_EQ(text.substr(0, 128), client.Read(128));
    ConsolePrintf("%s", text.substr(0, 128).c_str());
    EXPECT_EQ(text.substr(0, 128), client.Read(128));
    ConsolePrintf("%s", "");

    // Nothing more came: the next bytes are the prompt.
    ASSERT_TRUE(client.Send("\r"));
    EXPECT_EQ(kPrompt, client.Read(2));
}

} // namespace

// A port that another program holds leaves the console off with a reason
// the program can show; a console that listens has nothing to say.
TEST_F(ConsoleTest, APortTakenElsewhereLeavesTheConsoleOffWithAReason)
{
    EXPECT_STREQ("", ConsoleStartProblem());
    ConsoleStop();

    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address));
    ASSERT_EQ(0, listen(holder, 1));
    socklen_t size = sizeof address;
    ASSERT_EQ(0, getsockname(holder, reinterpret_cast<sockaddr *>(&address), &size));
    const unsigned taken = ntohs(address.sin_port);

    ConsoleStartOnPort(static_cast<uint16_t>(taken));
    EXPECT_EQ(0, ConsoleListeningPort());
    const std::string problem = ConsoleStartProblem();
    EXPECT_NE(std::string::npos, problem.find(u8"已被其他程序占用")) << problem;
    EXPECT_NE(std::string::npos, problem.find("TCP " + std::string(u8"端口 ") + std::to_string(taken))) << problem;
    close(holder);
}
