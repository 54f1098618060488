#pragma once
// A short sine tone on the default sound output, played on its own thread so the caller never
// waits for it. Silent when there is no sound server or device.

#include <atomic>
#include <thread>

namespace torvane {

class CBeeper {
public:
    CBeeper() = default;
    ~CBeeper();   // waits for a tone still playing
    CBeeper(const CBeeper&) = delete;
    CBeeper& operator=(const CBeeper&) = delete;

    // Starts the tone unless one is still playing (tones do not queue up). False when skipped.
    bool play(int frequencyHz, int durationMs);
    bool playing() const { return playing_.load(); }
    // How many tones were started (for diagnostics and tests).
    int started() const { return started_.load(); }

private:
    std::thread thread_;
    std::atomic<bool> playing_{false};
    std::atomic<int> started_{0};
};

// Plays the tone on the calling thread; false when no output could be opened.
bool playTone(int frequencyHz, int durationMs);

}  // namespace torvane
