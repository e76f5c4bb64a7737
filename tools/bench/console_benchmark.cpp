// What the console costs over loopback: the round trip of a CR to its prompt,
// a message from ConsolePrintf to the terminal, and lines through the editor.

#include "modulebench/console/console.h"

#include "modulebench/console/console_internal.h"
#include "tools/driver/console_client.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const std::string kNotFound = "\r\nCan not find this command!\r\n";

// One console and one served client for the whole program.
TestClient &Client()
{
    static TestClient client;
    static bool ready = false;
    if (!ready) {
        ConsoleStartOnPort(0);
        ready = client.Connect(ConsoleListeningPort()) && client.Send("\r") && client.Read(2) == "->";
    }
    return client;
}

void BM_PromptRoundTrip(benchmark::State &state)
{
    TestClient &client = Client();
    for (auto _ : state) {
        client.Send("\r");
        if (client.Read(2) != "->") {
            state.SkipWithError("no prompt");
            break;
        }
    }
}
BENCHMARK(BM_PromptRoundTrip);

void BM_MessageToTerminal(benchmark::State &state)
{
    TestClient &client = Client();
    const std::string text = "check error\r\n";
    for (auto _ : state) {
        ConsolePrintf("%s", text.c_str());
        if (client.Read(text.size()) != text) {
            state.SkipWithError("message lost");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_MessageToTerminal);

// Sixteen 120-character lines in one send, each answered "not found".
void BM_LinesThroughTheEditor(benchmark::State &state)
{
    TestClient &client = Client();
    std::string chunk;
    std::string answers;
    for (int i = 0; i < 16; ++i) {
        chunk += std::string(120, 'a') + "\r";
        answers += kNotFound + "->";
    }
    for (auto _ : state) {
        client.Send(chunk);
        if (client.Read(answers.size()) != answers) {
            state.SkipWithError("answers lost");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * chunk.size()));
}
BENCHMARK(BM_LinesThroughTheEditor);

} // namespace

BENCHMARK_MAIN();
