#pragma once
// The reading thread shared by the microphone and the system-sound capture: takes data from a
// device as it arrives, puts silence in front of the first data for the time the device took to
// deliver it (so the track starts when the recording starts), discards what was captured while
// paused, and at stop keeps reading until the sound covers the recording's time or a grace ends.
// The device's own clock is followed: its sound is stretched to the recording clock's rate.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/RecordingTimeline.h"
#include "audio/SoundDevices.h"
#include "audio/WaveFormat.h"

namespace torvane {

class CCaptureThread {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~CCaptureThread();

    void pause(Clock::time_point at = Clock::now()) { timeline_.pause(at); }
    void resume(Clock::time_point at = Clock::now()) { timeline_.resume(at); }
    bool isPaused() const { return timeline_.paused(); }
    bool running() const { return thread_.joinable(); }

    // Sample frames delivered so far (silence in front included, paused data excluded).
    int64_t framesDelivered() const { return delivered_.load(); }
    // Set when the device failed during the recording: the recording time (ms) of the failure.
    bool deviceLost(int64_t* atMs, std::string* error) const;
    // How far the device's clock ran from nominal against the recording clock, in ppm, once
    // measured; `corrected` tells whether its sound was resampled for it.
    bool clockOffset(double* ppm, bool* corrected) const;
    // Sound the device lost while it kept running, filled with silence where it was missing:
    // how many gaps, how long in all, and the recording time (ms) of the first.
    int soundGaps(int64_t* totalMs, int64_t* firstAtMs) const;
    // Before a draining stop: the track is to end after exactly `frames` frames (the video's
    // end), with the device's own sound where it has it and silence after a pause.
    void endTrackAt(int64_t frames) { trackEnd_ = frames; }
    // A stop is coming whose end is not known yet (the video is still finishing): what is held
    // back at `at` stays held until stopThread() says where the track ends.
    void holdFrom(Clock::time_point at) { holdAtTicks_ = at.time_since_epoch().count(); }

protected:
    // Starts reading `device` on a new thread. chunkBytes: the most read at once. opened: a moment
    // before the device was opened (nothing it delivers was captured earlier).
    bool startThread(std::unique_ptr<IWaveInDevice> device, const WaveFormat& format,
                     Clock::time_point origin, size_t chunkBytes, Clock::time_point opened);
    // drain: keep reading until the sound reaches `at` (waiting at most graceMs past it);
    // otherwise end at once.
    void stopThread(bool drain, Clock::time_point at = Clock::now(), int graceMs = 1500);

    // On the capture thread: takes `bytes` bytes (whole frames; zeros when `silence`).
    // Returning false ends the thread.
    virtual bool consume(const uint8_t* data, size_t bytes) = 0;
    // On the capture thread after its loop ended.
    virtual void finish() {}
    // Shown by system tools; at most 15 characters.
    virtual const char* threadName() const = 0;

    WaveFormat threadFormat_{};

private:
    void run();

    std::unique_ptr<IWaveInDevice> device_;
    std::thread thread_;
    RecordingTimeline timeline_;
    size_t chunkBytes_ = 0;
    Clock::time_point opened_{};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> abort_{false};
    std::atomic<int> graceMs_{1500};
    std::atomic<int64_t> stopAtTicks_{0};
    std::atomic<int64_t> delivered_{0};
    std::atomic<int64_t> trackEnd_{-1};
    std::atomic<int64_t> holdAtTicks_{INT64_MAX};
    std::atomic<bool> clockKnown_{false};
    std::atomic<bool> clockCorrected_{false};
    std::atomic<double> clockPpm_{0};
    mutable std::mutex lossLock_;
    bool lost_ = false;
    int64_t lostAtMs_ = 0;
    std::string lostError_;
    int gaps_ = 0;
    int64_t gapMs_ = 0;
    int64_t firstGapAtMs_ = 0;
};

}  // namespace torvane
