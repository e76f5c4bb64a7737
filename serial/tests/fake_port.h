// A serial port as the receive pass meets it on Windows, for host tests:
// bytes wait in the driver's queue; the "character received" event is set
// when bytes arrive and consumed by a wait, so bytes that are still queued
// do not set it again; a read takes at most one read's worth without
// waiting (or, like a USB adapter's driver, one transfer of at most
// `transfer` bytes while more wait); the error query answers (and clears)
// the line errors and counts the bytes queued, or fails once the device is
// gone. Every read's bytes go to a sink, as the Win32
// edge hands them to the program's receive path.
#pragma once

#include "serial/receive_pass.h"
#include "serial/rx_staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FakePort {
    std::deque<uint8_t> queue;
    bool event = false;     // a character arrived since the last wait
    bool wait_fails = false;
    bool gone = false;      // the error query fails: the device went
    bool withdrawn = false; // the program closed the port
    uint32_t line_errors = 0;
    size_t transfer = 0;         // bytes a read returns at most; 0: a whole read's worth
    uint32_t count_extra = 0;    // a driver whose queued count is off by this much
    // Read counts and error reports, in the order the pass made them.
    std::vector<std::string> calls;
    void (*sink)(const uint8_t *data, uint32_t length) = nullptr;
    void (*errors_sink)(uint32_t flags) = nullptr;

    void Arrive(const std::vector<uint8_t> &bytes)
    {
        queue.insert(queue.end(), bytes.begin(), bytes.end());
        event = true;
    }

    // One pass, as the receive thread runs it once the wait would end.
    RxPassEnd Pass()
    {
        const RxPortCalls port = {this, Wait, Read, LineErrors, Report};
        return RunReceivePass(port);
    }

private:
    static FakePort &Of(void *context) { return *static_cast<FakePort *>(context); }

    static bool Wait(void *context)
    {
        FakePort &p = Of(context);
        // A real wait would sleep here until a character arrives.
        EXPECT_TRUE(p.event || p.wait_fails) << "the pass waited with nothing to come";
        p.event = false;
        return !p.wait_fails;
    }

    static int32_t Read(void *context)
    {
        FakePort &p = Of(context);
        if (p.gone || p.withdrawn)
            return -1;
        const size_t n = std::min<size_t>(p.queue.size(), p.transfer != 0 ? p.transfer : kRxReadMax);
        const std::vector<uint8_t> bytes(p.queue.begin(), p.queue.begin() + static_cast<long>(n));
        p.queue.erase(p.queue.begin(), p.queue.begin() + static_cast<long>(n));
        p.calls.push_back("read " + std::to_string(n));
        if (n != 0 && p.sink != nullptr)
            p.sink(bytes.data(), static_cast<uint32_t>(n));
        return static_cast<int32_t>(n);
    }

    static PortAnswer LineErrors(void *context, uint32_t *flags, uint32_t *queued)
    {
        FakePort &p = Of(context);
        if (p.withdrawn)
            return PortAnswer::Withdrawn;
        if (p.gone)
            return PortAnswer::NoAnswer;
        *flags = p.line_errors;
        p.line_errors = 0;
        *queued = static_cast<uint32_t>(p.queue.size()) + p.count_extra;
        return PortAnswer::Answered;
    }

    static void Report(void *context, uint32_t flags)
    {
        FakePort &p = Of(context);
        p.calls.push_back("errors " + std::to_string(flags));
        if (p.errors_sink != nullptr)
            p.errors_sink(flags);
    }
};
