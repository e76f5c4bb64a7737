// The receive thread's pass against a port that behaves as a real one does:
// what is read per event, when a port counts as gone, and where line errors
// are reported.
#include "serial/receive_pass.h"
#include "serial/tests/fake_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

TEST(ReceivePass, ReadsTheDriverEmptyAfterEachEventAndReportsErrorsAfterTheBytes)
{
    struct Case {
        const char *what;
        size_t queued;
        uint32_t line_errors;
        Calls calls;
    };
    const Case cases[] = {
        {"one short read", 9, 0, {"read 9"}},
        {"a backlog: read until a read comes back short", 3000, 0, {"read 1024", "read 1024", "read 952"}},
        {"a whole number of reads ends on an empty read", 2048, 0, {"read 1024", "read 1024", "read 0"}},
        {"overrun and framing, after the bytes", 1500, kLineErrorOverrun | kLineErrorFraming,
         {"read 1024", "read 476", "errors 10"}},
        {"only the five line errors count", 5, 0x0100 | kLineErrorBreak, {"read 5", "errors 16"}},
        {"transmit-side flags alone are no line error", 5, 0x0100, {"read 5"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakePort port;
        port.Arrive(std::vector<uint8_t>(c.queued, 0x11));
        port.line_errors = c.line_errors;
        EXPECT_EQ(RxPassEnd::Done, port.Pass());
        EXPECT_EQ(c.calls, port.calls);
        EXPECT_TRUE(port.queue.empty());
    }
}

TEST(ReceivePass, ReadsWhileTheDriverCountsBytesQueuedNotOnlyToAShortRead)
{
    struct Case {
        const char *what;
        size_t queued;
        size_t transfer;
        uint32_t count_extra;
        uint32_t line_errors;
        Calls calls;
        size_t left;
    };
    const Case cases[] = {
        {"one USB transfer per read: the rest in the same pass", 200, 64, 0, 0,
         {"read 64", "read 64", "read 64", "read 8"}, 0},
        {"a transfer of exactly what is queued", 64, 64, 0, 0, {"read 64"}, 0},
        {"line errors after the bytes read before them", 100, 64, 0, kLineErrorOverrun,
         {"read 64", "errors 2", "read 36"}, 0},
        {"a count that reads never match ends the pass", 10, 64, 5, 0, {"read 10", "read 0"}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakePort port;
        port.transfer = c.transfer;
        port.count_extra = c.count_extra;
        port.Arrive(std::vector<uint8_t>(c.queued, 0x13));
        port.line_errors = c.line_errors;
        EXPECT_EQ(RxPassEnd::Done, port.Pass());
        EXPECT_EQ(c.calls, port.calls);
        EXPECT_EQ(c.left, port.queue.size());
        EXPECT_FALSE(port.event) << "the next pass would wait for bytes already there";
    }
}

TEST(ReceivePass, OnlyAPortThatStopsAnsweringIsGone)
{
    struct Case {
        const char *what;
        bool wait_fails;
        bool gone;
        bool withdrawn;
        RxPassEnd end;
    };
    const Case cases[] = {
        // Wine ends pending waits with "operation aborted" all the time.
        {"a failed wait on a port that answers", true, false, false, RxPassEnd::CallFailed},
        {"the device went during the wait", true, true, false, RxPassEnd::PortGone},
        {"the device went, the wait still ended well", false, true, false, RxPassEnd::PortGone},
        {"the program closed the port", true, false, true, RxPassEnd::Done},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakePort port;
        port.Arrive({1, 2, 3});
        port.wait_fails = c.wait_fails;
        port.gone = c.gone;
        port.withdrawn = c.withdrawn;
        port.line_errors = kLineErrorOverrun;
        EXPECT_EQ(c.end, port.Pass());
        const bool reported = !port.calls.empty() && port.calls.back().rfind("errors", 0) == 0;
        EXPECT_EQ(!c.gone && !c.withdrawn, reported) << "line errors of a port that no longer answers";
    }
}

TEST(ReceivePass, LineErrorWordsNameEachFlagOnceInAFixedOrder)
{
    char words[64];
    EXPECT_STREQ("", LineErrorWords(0, words, sizeof words));
    EXPECT_STREQ("overrun, framing", LineErrorWords(kLineErrorFraming | kLineErrorOverrun, words, sizeof words));
    EXPECT_STREQ("overrun, queue overflow, framing, parity, break", LineErrorWords(kLineErrorMask, words, sizeof words));
    // A short buffer holds whole words only.
    char tight[12];
    EXPECT_STREQ("overrun", LineErrorWords(kLineErrorMask, tight, sizeof tight));
}

} // namespace
