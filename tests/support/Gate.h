// A one-way gate between a test and the thread it drives: one side waits
// until the other has opened it. The wait is bounded, so that a fault
// fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace oriel::test {

class Gate {
public:
    void Open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // False when the gate stayed shut for the whole timeout.
    bool WaitOpen(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return open_; });
    }
    bool IsOpen() const
    {
        std::lock_guard lock(mutex_);
        return open_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

} // namespace oriel::test
