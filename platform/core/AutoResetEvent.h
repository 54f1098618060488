#pragma once
// An event that releases one waiter and resets itself.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace torvane {

class AutoResetEvent {
public:
    void set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_one();
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    // True when the event was signalled within `timeout` (and is reset again).
    bool wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace torvane
