// A wake-up from a producer thread to the thread that waits for its work.
//
// Both programs pass data between their own threads through lock-free rings;
// this is only the doorbell beside a ring. The producer publishes its index
// first and then calls Notify; the waiter looks at the ring, and only when it
// finds nothing does it Wait. A Notify that comes between that look and the
// Wait is remembered (the signal stays set until one Wait consumes it), so no
// publish is ever slept through, and a waiter with nothing to do costs
// nothing. Several Notify calls before a Wait wake it once.
//
// Any thread may Notify; one thread at a time should wait on a signal.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class WakeSignal {
public:
    void Notify();
    // Sleeps until notified; consumes the notification.
    void Wait();
    // Sleeps until notified or timeout_ms has passed. True when it was
    // notified (the notification is consumed), false on the time-out.
    bool WaitFor(uint32_t timeout_ms);
    // Forgets a pending notification (state reset between tests).
    void Clear();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool pending_ = false; // guarded by mutex_
};
