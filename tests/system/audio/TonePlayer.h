#pragma once
// A player that is connected and playing silence before its tone is due, the way an application
// with sound keeps its output stream open. A player started for the tone would add its own start-up
// to what is measured: on PipeWire's server a new stream is only heard once the session manager has
// linked it (25-40 ms more than on PulseAudio, measured). play() tells when the tone is heard, from
// the server's latency figure of the stream, so tests compare the recording with that moment.

#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace torvane::test {

class TonePlayer {
public:
    using Clock = std::chrono::steady_clock;

    // sink: a sink name, empty for the default one.
    explicit TonePlayer(const std::string& sink = "");
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    bool ok() const { return stream_ != nullptr; }
    const std::string& error() const { return error_; }

    // Queues a sine (both channels) after what is queued now. Returns the moment its first sample
    // is heard; Clock::time_point() when the player does not work.
    Clock::time_point play(double freq, double seconds, double amplitude = 0.5);
    // The server's latency figure that play() last went by, in milliseconds.
    double latencyMs() const { return latencyMs_; }

private:
    void run();

    pa_simple* stream_ = nullptr;
    std::string error_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<int16_t> tone_;   // guarded by m_: the next tone, taken by the thread
    bool toneDue_ = false;        // guarded by m_
    bool toneStarted_ = false;    // guarded by m_
    Clock::time_point heardAt_;   // guarded by m_
    double latencyMs_ = 0;        // written by the thread before play() returns
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace torvane::test
