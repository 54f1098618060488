#pragma once
// Passive grabs of the recorder's shortcuts on the root window, on a private X connection served by
// its own thread.

#include <QObject>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct xcb_connection_t;

namespace torvane {

class GlobalKeyGrabber {
public:
    GlobalKeyGrabber() = default;
    ~GlobalKeyGrabber();
    GlobalKeyGrabber(const GlobalKeyGrabber&) = delete;
    GlobalKeyGrabber& operator=(const GlobalKeyGrabber&) = delete;

    // Grabs the three shortcuts and starts delivering them to `target`. False when the display
    // cannot be opened or any grab was refused; `problems` then says why (one line per problem).
    // Keys that were grabbed are delivered even when others were refused.
    bool start(QObject* target, std::string& problems);
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    struct Grab {
        uint8_t keycode;
        uintptr_t virtualKey;
    };
    void run();

    xcb_connection_t* connection_ = nullptr;
    uint32_t root_ = 0;
    QObject* target_ = nullptr;
    std::vector<Grab> keys_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace torvane
