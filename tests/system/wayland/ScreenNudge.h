#pragma once
// The test desktop's portal sends a picture only when something on the screen changes, and on a
// loaded machine it can lose its first one (no buffer free yet). This test screen is so still (a
// real desktop has a clock, a blinking cursor) that no other would follow, and the casts after it
// in the same desktop session would wait too. While a ScreenNudge lives, a small window in the
// top-left corner changes colour every half second; it is gone when the nudge ends.

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/system/engine/XPainter.h"

class ScreenNudge {
public:
    ScreenNudge() : thread_([this] { run(); }) {}
    ~ScreenNudge() {
        stop_ = true;
        thread_.join();
    }
    ScreenNudge(const ScreenNudge&) = delete;
    ScreenNudge& operator=(const ScreenNudge&) = delete;

private:
    void run() {
        XPainter x;
        if (!x.ok()) return;
        const uint32_t window = x.window(0, 0, 8, 8, 0x808080);
        for (int i = 1; !stop_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (i % 25 == 0) x.setColour(window, i % 50 ? 0x404040 : 0x808080);
        }
        x.destroy(window);
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};
