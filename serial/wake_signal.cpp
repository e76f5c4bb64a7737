#include "serial/wake_signal.h"

#include <chrono>

void WakeSignal::Notify()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = true;
    }
    cv_.notify_one();
}

void WakeSignal::Wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return pending_; });
    pending_ = false;
}

bool WakeSignal::WaitFor(uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return pending_; })) {
        return false;
    }
    pending_ = false;
    return true;
}

void WakeSignal::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = false;
}
