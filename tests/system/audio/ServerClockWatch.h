#pragma once
// Tells how much time a sound server's own clock lost while it ran. A server that runs its cycles
// on a timer (PipeWire's graph) and is starved of the processor skips the cycles it missed: every
// stream, the recorder's and the test players' alike, then lacks that stretch, and sound heard
// after it is late against the wall clock by as much. A reader of its own, on a connection of its
// own, counts the frames of a source against the steady clock; the least late reads near its start
// and near its end give the time lost between them, to a few ms. What it read is kept, so a test
// can also tell when a tone was heard by the server's own monitor: the check on a player's figure
// when a starved server dropped or hurried through what the player had queued.

#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace torvane::test {

class ServerClockWatch {
public:
    using Clock = std::chrono::steady_clock;

    // source: a source name, e.g. a sink's monitor.
    explicit ServerClockWatch(const std::string& source);
    ~ServerClockWatch();
    ServerClockWatch(const ServerClockWatch&) = delete;
    ServerClockWatch& operator=(const ServerClockWatch&) = delete;

    bool ok() const { return stream_ != nullptr; }
    const std::string& error() const { return error_; }

    // Ends the reading; the time (ms) the server's clock lost from the first half second of sound
    // to the last, 0 or more; -1 when it read too little to tell (less than 1.5 s: a sleeping
    // sink's monitor starts late).
    double stopAndTellLostMs();

    // After the stop: what was read (mono, 44100 Hz), and the moment a sample of it was heard,
    // from the least late reads in the half second after it; Clock::time_point() when none.
    const std::vector<int16_t>& samples() const { return samples_; }
    static constexpr int kRate = 44100;
    Clock::time_point heardAt(double soundSeconds) const;

private:
    void run();

    pa_simple* stream_ = nullptr;
    std::string error_;
    std::mutex m_;
    std::vector<std::pair<double, double>> reads_;   // guarded by m_: (seconds since start, seconds of sound)
    std::vector<int16_t> samples_;                    // written by the thread until the stop
    Clock::time_point start_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace torvane::test
