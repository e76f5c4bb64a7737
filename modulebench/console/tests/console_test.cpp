// The console over real loopback connections: what a terminal sees for each
// byte it types, the built-in words, registered commands, one client at a
// time, and messages.

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
    if (text == nullptr) {
        return "-";
    }
    std::string out;
    char pair[3];
    for (const char *p = text; *p != '\0'; ++p) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(*p));
        out += pair;
    }
    return out;
}

const char *OrDash(const char *text)
{
    return text != nullptr ? text : "-";
}

// Handlers answer through ConsolePrintf, so the terminal sees what they got.
void ShowHex(char *a1, char *a2, char *, char *)
{
    ConsolePrintf("<%s|%s>", Hex(a1).c_str(), Hex(a2).c_str());
}

void ShowArgs(char *a1, char *a2, char *a3, char *a4)
{
    ConsolePrintf("<%s|%s|%s|%s>", OrDash(a1), OrDash(a2), OrDash(a3), OrDash(a4));
}

void ShowLength(char *a1, char *, char *, char *)
{
    size_t length = a1 != nullptr ? std::strlen(a1) : 0;
    ConsolePrintf("<%zu:%c>", length, length > 0 ? a1[length - 1] : '-');
}

std::string Args(const char *a1, const char *a2, const char *a3, const char *a4)
{
    return std::string("<") + a1 + "|" + a2 + "|" + a3 + "|" + a4 + ">";
}

// Sends bytes in a chunk of their own: the console's recv has taken
// everything sent before by the time the pause is over.
void SendChunk(TestClient &client, const std::string &bytes)
{
    ASSERT_TRUE(client.Send(bytes));
    usleep(200 * 1000);
}

typedef ConsoleFixture ConsoleTest;

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

        std::string alone;
        switch (value) {
        case 0x08:
        case 0x7F:
        case 0x0A:
        case 0x20:
            alone = kPrompt;
            break;
        case 0x09:
            alone = "    " + kPrompt;
            break;
        case 0x0D:
            alone = kPrompt + kPrompt;
            break;
        default:
            alone = kNotFound + kPrompt;
            break;
        }
        ASSERT_TRUE(client.Send(std::string(1, byte) + "\r"));
        ASSERT_EQ(alone, client.Read(alone.size()));

        std::string inWord;
        switch (value) {
        case 0x08:
        case 0x7F:
            inWord = kErase + "<79|->" + kPrompt;
            break;
        case 0x09:
            inWord = "    <78|79>" + kPrompt;
            break;
        case 0x0A:
            inWord = "<7879|->" + kPrompt;
            break;
        case 0x0D:
            inWord = "<78|->" + kPrompt + kNotFound + kPrompt;
            break;
        case 0x20:
            inWord = "<78|79>" + kPrompt;
            break;
        case 0x00:
            inWord = "<78|->" + kPrompt; // stored; the word's text ends there
            break;
        default:
            inWord = "<78" + Hex(std::string(1, byte).c_str()) + "79|->" + kPrompt;
            break;
        }
        ASSERT_TRUE(client.Send(std::string("show x") + byte + "y\r"));
        ASSERT_EQ(inWord, client.Read(inWord.size()));
    }
    EXPECT_EQ("", client.ReadFor(100));
}

TEST_F(ConsoleTest, LineOverflowDropsTheRestOfTheChunkAndALaterCrRunsTheLine)
{
    ConsoleRegisterCommand("len", ShowLength, "length and last character of the argument");
    TestClient client;
    ConnectServed(client);

    // "len " and 123 more characters fill the line; the CR after the byte
    // that does not fit goes with it.
    std::string full = "len " + std::string(122, 'a') + "b";
    ASSERT_EQ(127u, full.size());
    SendChunk(client, full + "c\r\b");
    EXPECT_EQ("", client.ReadFor(100));

    SendChunk(client, "\r");
    std::string expected = "<123:b>" + kPrompt;
    EXPECT_EQ(expected, client.Read(expected.size()));

    // An erase in the next chunk makes room again.
    SendChunk(client, full + "c");
    ASSERT_TRUE(client.Send("\bd\r"));
    expected = kErase + "<123:d>" + kPrompt;
    EXPECT_EQ(expected, client.Read(expected.size()));
}

TEST_F(ConsoleTest, TabFillsTheLineAt123AndIsDroppedWithTheChunkAt124)
{
    ConsoleRegisterCommand("len", ShowLength, "length and last character of the argument");
    TestClient client;
    ConnectServed(client);

    // 123 characters and a TAB make 127: the next byte no longer fits.
    std::string line = "len " + std::string(119, 'a');
    SendChunk(client, line + "\tz\r");
    EXPECT_EQ("    ", client.Read(4));
    EXPECT_EQ("", client.ReadFor(100));
    SendChunk(client, "\r");
    std::string expected = "<119:a>" + kPrompt;
    EXPECT_EQ(expected, client.Read(expected.size()));

    line = "len " + std::string(120, 'a');
    SendChunk(client, line + "\t\r");
    EXPECT_EQ("", client.ReadFor(100));
    SendChunk(client, "z\r");
    expected = "<121:z>" + kPrompt;
    EXPECT_EQ(expected, client.Read(expected.size()));
}

TEST_F(ConsoleTest, HelpIsItsFirstFourLettersInAnyCase)
{
    TestClient client;
    ConnectServed(client);
    const std::string listing = kHelpHeader + kPrompt;
    for (const char *line : {"help\r", "HELP\r", "hElP\r", "helpme\r", "  help with words\r"}) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(client.Send(line));
        EXPECT_EQ(listing, client.Read(listing.size()));
    }
    for (const char *line : {"hel\r", "\x01help\r", "hel p\r"}) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(client.Send(line));
        EXPECT_EQ(kNotFound + kPrompt, client.Read(kNotFound.size() + 2));
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

        ASSERT_TRUE(first.Send(bye));
        std::string before;
        EXPECT_TRUE(first.WaitClosed(5000, &before));
        EXPECT_EQ("", before);
        EXPECT_EQ(kPrompt, next.Read(2));
        next.Close();
    }
}

TEST_F(ConsoleTest, HandlersGetWordsTwoToFiveAndNullsForMissingOnes)
{
    ConsoleRegisterCommand("args", ShowArgs, "the four arguments");
    TestClient client;
    ConnectServed(client);
    struct Case
    {
        const char *line;
        std::string answer;
    };
    const Case cases[] = {
        {"args a b c d e f\r", Args("a", "b", "c", "d")},
        {"args one two three four\r", Args("one", "two", "three", "four")},
        {"args a\r", Args("a", "-", "-", "-")},
        {"args\r", Args("-", "-", "-", "-")},
        {"   args   x  y   \r", Args("x", "y", "-", "-")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(client.Send(c.line));
        EXPECT_EQ(c.answer + kPrompt, client.Read(c.answer.size() + 2));
    }
}

TEST_F(ConsoleTest, ASecondClientWaitsUntilTheFirstLeaves)
{
    TestClient first;
    ConnectServed(first);
    TestClient second;
    ASSERT_TRUE(second.Connect(port_));
    ASSERT_TRUE(second.Send("help\r"));
    EXPECT_EQ("", second.ReadFor(300));

    // The first keeps being served meanwhile.
    ASSERT_TRUE(first.Send("\r"));
    EXPECT_EQ(kPrompt, first.Read(2));
    first.Close();

    std::string expected = kHelpHeader + kPrompt;
    EXPECT_EQ(expected, second.Read(expected.size()));
}

TEST_F(ConsoleTest, MessagesReachTheClientCutTo128Bytes)
{
    TestClient client;
    ConnectServed(client);

    ConsolePrintf("check error\r\n");
    ConsolePrintf("%s %d%c", "id", 42, '!');
    EXPECT_EQ("check error\r\nid 42!", client.Read(19));

    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += static_cast<char>('A' + i % 26);
    }
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
    ConsoleStopForTest();

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
