// Remote debug console: state, start-up, the accept thread, the line editor,
// line execution and messages.
//
// Design. One process-wide console. The accept thread owns everything about
// the conversation: it accepts one client at a time (later ones wait in the
// listen backlog), receives its bytes in chunks, edits them into the line and
// runs the line on each CR, including the command handlers. Only it changes
// the client socket. The line and its length belong to the console rather
// than to a connection: a client that leaves mid-line hands the text to the
// next one.
//
// Other threads only write to the terminal, through ConsolePrintf. A socket
// number can be reused by the system as soon as it is closed, so a writer
// must never send on a number that the accept thread may be closing at that
// moment; and a writer must never be held up by a terminal that stops
// reading, because the writers are the receive path's own threads. So:
//  - the client socket, the "a send is under way" mark and the "this client
//    failed" mark change only under ClientMutex, which is never held across
//    a send;
//  - one send at a time goes to the client (SendBusy), so sends never
//    interleave within one send, only between sends;
//  - each send gives up after kSendBoundMs in all, counted from the call,
//    waiting for an earlier send included. A send that gives up marks the
//    client failed and shuts it down: no later send waits for it, and the
//    accept thread's receive ends, so it drops the client and takes the next;
//  - the accept thread drops a client (its end, a half-close, "bye", a failed
//    send) by withdrawing the socket and shutting it down first, which ends a
//    send stuck on it, then waits for that send to leave before it closes the
//    number.
// A terminal that reads sees exactly the bytes it always saw. Each
// ConsolePrintf formats into a buffer on its own stack, so simultaneous
// messages cannot overwrite each other's text.
//
// Output is never buffered: every echo, prompt, listing line and message is
// its own send on a socket with TCP_NODELAY set.

#include "modulebench/console/console.h"

#include "modulebench/console/console_internal.h"
#include "modulebench/console/console_socket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

constexpr uint16_t kConsolePort = 23;
constexpr int kListenBacklog = 10;
constexpr int kSocketBufferBytes = 0x40000; // SO_SNDBUF and SO_RCVBUF
constexpr int kReceiveChunk = 2048;
constexpr int kLineCapacity = 128; // 127 characters and the NUL
constexpr int kMaxLineLength = kLineCapacity - 1;
constexpr int kMaxWords = 5;
// Longest a ConsolePrintf (or an echo) may wait for a terminal that does not
// read, in all; then the terminal is dropped.
constexpr unsigned kSendBoundMs = 100;
// Pause after a failed accept (out of descriptors, say), so a lasting failure
// does not spin; a test's stop ends it at once.
constexpr unsigned kAcceptRetryMs = 100;

using Clock = std::chrono::steady_clock;

std::mutex ClientMutex;
// Told whenever SendBusy clears, a client is dropped, the accept thread ends
// or a stop is requested.
std::condition_variable ClientChanged;

const char kPrompt[] = "->";
const char kEraseEcho[] = "\b \b";
const char kTabText[] = "    ";
const char kNotFound[] = "\r\nCan not find this command!\r\n";
const char kHelpHeader[] = "\r\n---------- help ------------\r\n";
const char kHelpSeparator[] = " -- ";
const char kLineBreak[] = "\r\n";

} // namespace

// Written by ConsoleStart before the accept thread starts (and by the tests'
// stop once it has ended); read by the accept thread.
static ConsoleSocket ListenSocket = kConsoleNoSocket;

// Written by ConsoleStartOnPort (the GUI thread, at start-up); read after it.
static char StartProblem[160];

// Written by the accept thread alone, always under ClientMutex; every other
// thread reads it only under that lock, immediately before its send.
static ConsoleSocket ClientSocket = kConsoleNoSocket;
// Under ClientMutex. Set by the sender that takes the client for one send and
// cleared by it afterwards; the accept thread waits for it to clear before it
// closes the socket.
static bool SendBusy = false;
// Under ClientMutex. Set by a sender whose send gave up (the client is being
// shut down; nothing more is sent to it); cleared by the accept thread when
// it drops the client.
static bool ClientFailed = false;

// Accept thread only (emptied by ConsoleInit before the thread starts).
static char Line[kLineCapacity];
static uint16_t LineLength;
static char *Words[kMaxWords];
static int8_t WordCount;

// Entries are written by ConsoleRegisterCommand under ClientMutex before
// the release store of CommandCount publishes them; the accept thread reads
// the count with acquire and only the entries below it. Published entries are
// never changed again.
static ConsoleCommand Commands[kConsoleMaxCommands];
static std::atomic<uint16_t> CommandCount{0};

// Set by ConsoleStop, read by the accept thread; AcceptThreadRunning is
// cleared by the accept thread as its last act.
static std::atomic<bool> StopRequested{false};
static std::atomic<bool> AcceptThreadRunning{false};

static unsigned MillisecondsLeft(Clock::time_point deadline)
{
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
        return 0;
    }
    return static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
}

// One send to the connected client, if there is one; gives up, and has the
// client dropped, when it cannot be done within kSendBoundMs.
static void SendToClient(const char *data, int length)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSendBoundMs);
    std::unique_lock<std::mutex> lock(ClientMutex);
    for (;;) {
        if (ClientSocket == kConsoleNoSocket || ClientFailed) {
            return;
        }
        if (!SendBusy) {
            break;
        }
        // The send under way ends by its own bound; if it gives up, it marks
        // the client failed and this one returns above.
        if (ClientChanged.wait_until(lock, deadline) == std::cv_status::timeout && SendBusy) {
            return;
        }
    }
    const ConsoleSocket client = ClientSocket;
    SendBusy = true;
    lock.unlock();

    const bool sent = ConsoleSockSendWithin(client, data, length, MillisecondsLeft(deadline));

    lock.lock();
    SendBusy = false;
    if (!sent && ClientSocket == client && !ClientFailed) {
        ClientFailed = true;
        ConsoleSockShutdown(client);
    }
    ClientChanged.notify_all();
}

static void SendTextToClient(const char *text)
{
    SendToClient(text, static_cast<int>(std::strlen(text)));
}

// Closes the client socket, if any, and records that nobody is connected.
// Accept thread only. A send stuck on the socket is ended by the shutdown
// and waited for before the number is given back to the system.
static void DropClient()
{
    std::unique_lock<std::mutex> lock(ClientMutex);
    const ConsoleSocket client = ClientSocket;
    ClientSocket = kConsoleNoSocket;
    ClientFailed = false;
    if (client == kConsoleNoSocket) {
        return;
    }
    ConsoleSockShutdown(client);
    ClientChanged.wait(lock, [] { return !SendBusy; });
    ConsoleSockClose(client);
    ClientChanged.notify_all();
}

static void ClearLine()
{
    LineLength = 0;
    Line[0] = '\0';
}

void ConsoleInit()
{
    // The line and the table are emptied before the accept thread exists, so
    // that no client byte can be edited into a line that is then reset.
    ClearLine();
    CommandCount.store(0, std::memory_order_release);
    ConsoleStart();
}

void ConsoleStart()
{
    ConsoleStartOnPort(kConsolePort);
}

// Records why the console stays off; the text names the port.
static void NoteStartProblem(ConsoleBindResult bind_result, const char *step, int error, uint16_t port)
{
    const char *const tail = "，本次运行没有控制台";
    if (bind_result == ConsoleBindResult::InUse) {
        std::snprintf(StartProblem, sizeof StartProblem, "调试控制台未启动：TCP 端口 %u 已被其他程序占用%s",
                      static_cast<unsigned>(port), tail);
    } else if (bind_result == ConsoleBindResult::Denied) {
        std::snprintf(StartProblem, sizeof StartProblem, "调试控制台未启动：没有使用 TCP 端口 %u 的权限%s",
                      static_cast<unsigned>(port), tail);
    } else {
        std::snprintf(StartProblem, sizeof StartProblem, "调试控制台未启动：%s 失败（错误 %d）%s", step, error,
                      tail);
    }
}

const char *ConsoleStartProblem()
{
    return StartProblem;
}

void ConsoleStartOnPort(uint16_t port)
{
    ListenSocket = kConsoleNoSocket;
    StartProblem[0] = '\0';
    {
        std::lock_guard<std::mutex> lock(ClientMutex);
        ClientSocket = kConsoleNoSocket;
        ClientFailed = false;
    }

    if (!ConsoleSockStartup()) {
        NoteStartProblem(ConsoleBindResult::Failed, "WSAStartup", ConsoleSockLastError(), port);
        return;
    }
    ConsoleSocket listener = ConsoleSockOpenTcp();
    if (listener == kConsoleNoSocket) {
        NoteStartProblem(ConsoleBindResult::Failed, "socket", ConsoleSockLastError(), port);
        return;
    }
    const ConsoleBindResult bound = ConsoleSockBindAny(listener, port);
    if (bound != ConsoleBindResult::Bound) {
        NoteStartProblem(bound, "bind", ConsoleSockLastError(), port);
        ConsoleSockClose(listener);
        return;
    }
    if (!ConsoleSockListen(listener, kListenBacklog)) {
        NoteStartProblem(ConsoleBindResult::Failed, "listen", ConsoleSockLastError(), port);
        ConsoleSockClose(listener);
        return;
    }
    ListenSocket = listener;
    StopRequested.store(false);
    AcceptThreadRunning.store(true);
    if (!ConsoleStartThread(ConsoleAcceptThread)) {
        // Without the thread nobody would ever answer the queued clients.
        AcceptThreadRunning.store(false);
        ConsoleSockClose(listener);
        ListenSocket = kConsoleNoSocket;
        NoteStartProblem(ConsoleBindResult::Failed, "CreateThread", 0, port);
    }
}

// Receives the recorded client's bytes until the connection ends or "bye"
// drops it, then closes it.
static void ServeClient()
{
    std::unique_ptr<char[]> buffer(new char[kReceiveChunk]);
    for (;;) {
        // After "bye" there is no client any more and its old number must not
        // be used: it may already belong to another socket.
        ConsoleSocket client = ClientSocket;
        if (client == kConsoleNoSocket) {
            break;
        }
        int received = ConsoleSockRecv(client, buffer.get(), kReceiveChunk);
        if (received <= 0) {
            break;
        }
        ConsoleEditChunk(buffer.get(), received);
    }
    DropClient();
}

// Returns only when ConsoleStop asks it to.
void ConsoleAcceptThread()
{
    while (!StopRequested.load()) {
        ConsoleSocket client = ConsoleSockAccept(ListenSocket);
        if (client == kConsoleNoSocket) {
            // Treated like a connection that ended at once. The pause keeps a
            // lasting failure (out of descriptors) from spinning a core; a
            // stop ends it at once.
            std::unique_lock<std::mutex> lock(ClientMutex);
            ClientChanged.wait_for(lock, std::chrono::milliseconds(kAcceptRetryMs),
                                   [] { return StopRequested.load(); });
            continue;
        }
        ConsoleSockSetNoDelay(client);
        ConsoleSockSetBuffers(client, kSocketBufferBytes);
        ConsoleSockPrepareBoundedSends(client);

        // ServeClient always drops its client, so none is recorded here.
        DropClient();
        bool stopping = false;
        {
            std::lock_guard<std::mutex> lock(ClientMutex);
            ClientSocket = client;
            // Read under the lock: either the stop sees this client and shuts
            // it down, or this sees the stop.
            stopping = StopRequested.load();
        }
        if (stopping) {
            DropClient();
            break;
        }
        // No greeting and no prompt on connection.
        ServeClient();
    }
    std::lock_guard<std::mutex> lock(ClientMutex);
    AcceptThreadRunning.store(false);
    ClientChanged.notify_all();
}

void ConsoleEditChunk(const char *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        switch (byte) {
        case 0x08:
        case 0x7F:
            if (LineLength == 0) {
                break;
            }
            --LineLength;
            Line[LineLength] = '\0';
            // Three sends of one byte each: back, blank, back.
            SendToClient(&kEraseEcho[0], 1);
            SendToClient(&kEraseEcho[1], 1);
            SendToClient(&kEraseEcho[2], 1);
            break;
        case 0x09:
            if (LineLength > kMaxLineLength - 4) {
                return; // the rest of the chunk is dropped
            }
            std::memcpy(Line + LineLength, kTabText, 4);
            LineLength += 4;
            Line[LineLength] = '\0';
            SendToClient(kTabText, 4);
            break;
        case 0x0A:
            break;
        case 0x0D:
            ConsoleExecuteLine();
            ClearLine();
            SendToClient(kPrompt, 2);
            break;
        default:
            if (LineLength >= kMaxLineLength) {
                return; // the rest of the chunk is dropped
            }
            Line[LineLength] = static_cast<char>(byte);
            ++LineLength;
            Line[LineLength] = '\0';
            break;
        }
    }
}

static void ShowHelp()
{
    SendTextToClient(kHelpHeader);
    uint16_t count = CommandCount.load(std::memory_order_acquire);
    for (uint16_t i = 0; i < count; ++i) {
        SendTextToClient(Commands[i].name);
        SendTextToClient(kHelpSeparator);
        SendTextToClient(Commands[i].help);
        SendTextToClient(kLineBreak);
    }
}

static void SayBye()
{
    DropClient();
}

// The built-in words are recognised by their first letters only, in any case;
// a shorter word stops the comparison at its NUL, which matches no letter.
static bool StartsWithWord(const char *word, const char *lowerLetters)
{
    for (; *lowerLetters != '\0'; ++word, ++lowerLetters) {
        char lower = *lowerLetters;
        char upper = static_cast<char>(lower - 'a' + 'A');
        if (*word != lower && *word != upper) {
            return false;
        }
    }
    return true;
}

void ConsoleExecuteLine()
{
    WordCount = 0;
    if (LineLength == 0) {
        return;
    }
    // Only the space separates words; the space that ends a word becomes its
    // NUL. Words after the fifth are not recorded.
    bool inWord = false;
    for (uint16_t i = 0; i < LineLength; ++i) {
        if (Line[i] == ' ') {
            if (inWord) {
                Line[i] = '\0';
                inWord = false;
            }
            continue;
        }
        if (!inWord) {
            inWord = true;
            if (WordCount < kMaxWords) {
                Words[WordCount] = Line + i;
                ++WordCount;
            }
        }
    }
    if (WordCount == 0) {
        return;
    }

    const char *first = Words[0];
    if (StartsWithWord(first, "help")) {
        ShowHelp();
        return;
    }
    if (StartsWithWord(first, "bye")) {
        SayBye();
        return;
    }
    uint16_t count = CommandCount.load(std::memory_order_acquire);
    for (uint16_t i = 0; i < count; ++i) {
        if (std::strcmp(Commands[i].name, first) != 0) {
            continue;
        }
        char *args[kMaxWords - 1] = {};
        for (int w = 1; w < WordCount; ++w) {
            args[w - 1] = Words[w];
        }
        Commands[i].handler(args[0], args[1], args[2], args[3]);
        return;
    }
    SendTextToClient(kNotFound);
}

void ConsolePrintf(const char *format, ...)
{
    // The caller's own buffer: messages formatted at the same moment by
    // different threads never share one.
    char message[kConsoleMaxMessage + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    message[kConsoleMaxMessage] = '\0';
    int length = static_cast<int>(std::strlen(message));
    if (length > 0) {
        SendToClient(message, length);
    }
}

void ConsoleRegisterCommand(const char *name, ConsoleHandler handler, const char *help)
{
    // An entry without a name or a handler could only crash the accept
    // thread later; a missing help text is listed as empty.
    if (name == nullptr || handler == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(ClientMutex);
    uint16_t count = CommandCount.load(std::memory_order_relaxed);
    if (count < kConsoleMaxCommands) {
        Commands[count].name = name;
        Commands[count].handler = handler;
        Commands[count].help = help != nullptr ? help : "";
        CommandCount.store(static_cast<uint16_t>(count + 1), std::memory_order_release);
    }
}

uint16_t ConsoleListeningPort()
{
    if (ListenSocket == kConsoleNoSocket) {
        return 0;
    }
    return ConsoleSockLocalPort(ListenSocket);
}

void ConsoleStop()
{
    // Bounds each of the two waits for the accept thread: the exit must not
    // hang on a socket layer that never wakes it; a thread still running
    // then goes with the process.
    constexpr auto kStopWait = std::chrono::milliseconds(1000);
    if (ListenSocket != kConsoleNoSocket) {
        {
            std::lock_guard<std::mutex> lock(ClientMutex);
            StopRequested.store(true);
            if (ClientSocket != kConsoleNoSocket) {
                ConsoleSockShutdown(ClientSocket);
            }
            ClientChanged.notify_all();
        }
        // A listener shut down makes a waiting accept fail on BSD sockets;
        // where it does not, a connection of our own wakes it.
        uint16_t port = ConsoleSockLocalPort(ListenSocket);
        ConsoleSockShutdown(ListenSocket);
        ConsoleSocket wake = kConsoleNoSocket;
        {
            std::unique_lock<std::mutex> lock(ClientMutex);
            const auto ended = [] { return !AcceptThreadRunning.load(); };
            if (!ClientChanged.wait_for(lock, std::chrono::milliseconds(100), ended)) {
                lock.unlock();
                wake = ConsoleSockConnectLoopback(port);
                lock.lock();
                ClientChanged.wait_for(lock, kStopWait, ended);
            }
        }
        if (wake != kConsoleNoSocket) {
            ConsoleSockClose(wake);
        }
        ConsoleSockClose(ListenSocket);
        ListenSocket = kConsoleNoSocket;
    }
    ClearLine();
    WordCount = 0;
    CommandCount.store(0, std::memory_order_release);
}
