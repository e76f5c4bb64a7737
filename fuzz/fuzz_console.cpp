// Fuzzing Pellfray's remote console: the line editor and the line executor
// fed arbitrary chunks, with nobody connected (every send is dropped, as in
// the program before a terminal connects), and a command table that holds
// commands the fuzzer can reach, commands it must never reach, and a 21st
// registration that must have been refused.
//
// console.cpp is compiled into this harness rather than linked beside it so
// that the checks can see the line, its length and the word count, which
// the console keeps to itself.
//
// Input layout: chunks, each a length byte followed by that many bytes (the
// last one may be short). Chunk boundaries matter: a byte that does not fit
// in the line drops the rest of its chunk.
//
// Alongside the console, the harness edits its own copy of the line by the
// editor's rules and splits it into words at each CR. After every chunk the
// console's line must equal that copy, hold at most 127 characters and be
// NUL-terminated. Every handler call must be the one the copy predicts, with
// each argument NUL-terminated inside the line.
#include "modulebench/console/console.cpp"

#include "fuzz/fuzz_support.h"

#include <strings.h>

#include <cstring>
#include <deque>
#include <string>

namespace {

constexpr int kCommands = 20;

// The command table as registered. reachable is false for entries no line
// can reach: a built-in word takes the line first, or an earlier entry has
// the same name.
struct Registered {
    const char *name;
    bool reachable;
};
Registered Table[kCommands];
int TableCount = 0;

struct ExpectedCall {
    int command;
    int argc;
    std::string args[4];
};
std::deque<ExpectedCall> Expected;

std::string CString(const std::string &bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

template <int K>
void Handler(char *arg1, char *arg2, char *arg3, char *arg4)
{
    FUZZ_CHECK(Table[K].reachable, "command %d \"%s\" should be unreachable", K, Table[K].name);
    FUZZ_CHECK(!Expected.empty(), "command %d \"%s\" called, no call expected", K, Table[K].name);
    const ExpectedCall call = Expected.front();
    Expected.pop_front();
    FUZZ_CHECK(call.command == K, "command %d called, %d expected", K, call.command);
    char *args[4] = {arg1, arg2, arg3, arg4};
    for (int i = 0; i < 4; ++i) {
        FUZZ_CHECK((args[i] != nullptr) == (i < call.argc), "argument %d given or missing, the line has %d", i + 1,
                   call.argc);
        if (args[i] == nullptr)
            continue;
        FUZZ_CHECK(args[i] >= Line && args[i] < Line + kLineCapacity, "argument %d points outside the line", i + 1);
        const size_t room = static_cast<size_t>(Line + kLineCapacity - args[i]);
        FUZZ_CHECK(std::memchr(args[i], '\0', room) != nullptr, "argument %d not NUL-terminated in the line", i + 1);
        FUZZ_CHECK(call.args[i] == args[i], "argument %d is \"%s\", expected \"%s\"", i + 1, args[i],
                   call.args[i].c_str());
    }
    // A handler's own message, longer than one send may carry: formatted and
    // dropped, since nobody is connected.
    ConsolePrintf("%s|%s|%s|%s|%0200d\r\n", arg1 ? arg1 : "-", arg2 ? arg2 : "-", arg3 ? arg3 : "-",
                  arg4 ? arg4 : "-", K);
}

template <int K>
void Register(const char *name, bool reachable)
{
    Table[K] = Registered{name, reachable};
    ConsoleRegisterCommand(name, Handler<K>, "fuzz");
    TableCount = K + 1;
}

void NeverCalled(char *, char *, char *, char *)
{
    FUZZ_CHECK(false, "a refused registration was called");
}

bool StartsWithInAnyCase(const std::string &word, const char *lower)
{
    return strncasecmp(word.c_str(), lower, std::strlen(lower)) == 0;
}

// What a CR does with the copy of the line: queues the call it must make.
void ModelExecute(const std::string &line)
{
    std::string words[kMaxWords];
    int count = 0;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        const size_t end = line.find(' ', i);
        const size_t stop = end == std::string::npos ? line.size() : end;
        if (count < kMaxWords)
            words[count++] = line.substr(i, stop - i);
        i = stop;
    }
    if (count == 0)
        return;
    // Words are NUL-terminated in place: a NUL typed into a word ends it.
    const std::string first = CString(words[0]);
    if (StartsWithInAnyCase(first, "help") || StartsWithInAnyCase(first, "bye"))
        return;
    int k = 0;
    while (k < TableCount && first != Table[k].name)
        ++k;
    if (k == TableCount)
        return;
    ExpectedCall call{k, count - 1, {}};
    for (int w = 1; w < count; ++w)
        call.args[w - 1] = CString(words[w]);
    Expected.push_back(call);
}

// One chunk through the editor's rules, on the copy of the line.
void ModelChunk(std::string &line, const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if ((b == 0x08 || b == 0x7F) && !line.empty()) {
            line.pop_back();
        } else if (b == 0x0D) {
            ModelExecute(line);
            line.clear();
        } else if (b == 0x08 || b == 0x7F || b == 0x0A) {
            // nothing to erase; a line feed is dropped
        } else if (line.size() + (b == 0x09 ? 4 : 1) > 127) {
            return; // the rest of the chunk is dropped
        } else {
            line.append(b == 0x09 ? 4 : 1, b == 0x09 ? ' ' : static_cast<char>(b));
        }
    }
}

void CheckLine(const std::string &model)
{
    FUZZ_CHECK(LineLength <= kMaxLineLength, "line length %u", LineLength);
    FUZZ_CHECK(Line[LineLength] == '\0', "line not NUL-terminated at %u", LineLength);
    FUZZ_CHECK(LineLength == model.size() && std::memcmp(Line, model.data(), LineLength) == 0,
               "line of %u characters, the editor's rules give %zu", LineLength, model.size());
    FUZZ_CHECK(WordCount >= 0 && WordCount <= kMaxWords, "word count %d", WordCount);
    FUZZ_CHECK(Expected.empty(), "%zu expected command calls did not happen", Expected.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Refused: no name, no handler.
    ConsoleRegisterCommand(nullptr, NeverCalled, "no name");
    ConsoleRegisterCommand("nohandler", nullptr, "no handler");
    Register<0>("show", true);
    Register<1>("set", true);
    Register<2>("SET", true);
    Register<3>("helper", false); // "help" comes first
    Register<4>("Byebye", false); // "bye" comes first
    Register<5>("show", false);   // the first "show" wins
    Register<6>("a", true);
    Register<7>("\x80\xff", true);
    Register<8>("go", true);
    Register<9>("hel", true);
    Register<10>("by", true);
    Register<11>("x1", true);
    Register<12>("x2", true);
    Register<13>("x3", true);
    Register<14>("x4", true);
    Register<15>("x5", true);
    Register<16>("x6", true);
    Register<17>("x7", true);
    Register<18>("x8", true);
    Register<19>("last", true);
    // The 21st: the table is full.
    ConsoleRegisterCommand("extra", NeverCalled, "one too many");
    FUZZ_CHECK(CommandCount.load() == kCommands, "command count %u", CommandCount.load());
    FUZZ_CHECK(ClientSocket == kConsoleNoSocket, "a client is connected");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size, 0};
    ClearLine();
    WordCount = 0;
    Expected.clear();
    std::string model;
    while (!in.Empty()) {
        const uint8_t *chunk;
        const size_t n = in.Take(in.Byte(), &chunk);
        ModelChunk(model, chunk, n);
        ConsoleEditChunk(reinterpret_cast<const char *>(chunk), static_cast<int>(n));
        CheckLine(model);
    }
    FUZZ_CHECK(ClientSocket == kConsoleNoSocket, "a client appeared");
    return 0;
}
