#pragma once
// The recording's own time: wall time since the recording began, less the paused intervals.
// Written by the thread that pauses and resumes, read by the sound threads.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace torvane {

class RecordingTimeline {
public:
    using Clock = std::chrono::steady_clock;
    void begin(Clock::time_point origin);
    void pause(Clock::time_point now);
    void resume(Clock::time_point now);
    bool paused() const;
    // Whether wall time t falls into a pause (one that is still going on included).
    bool pausedAt(Clock::time_point t) const;
    Clock::time_point origin() const;
    // Recording time at wall time t; a moment inside a pause counts as the pause's start.
    Clock::duration at(Clock::time_point t) const;
    int64_t framesAt(Clock::time_point t, uint32_t rate) const;

private:
    mutable std::mutex m_;
    Clock::time_point origin_{};
    std::vector<std::pair<Clock::time_point, Clock::time_point>> pauses_;
    bool paused_ = false;
    Clock::time_point pausedSince_{};
};

}  // namespace torvane
