#pragma once
// Records what the default output plays (its monitor) and writes each packet to the audio stream,
// mixed, when both are recorded, with the microphone's sound at the same positions from the ring:
// a packet waits (at most kMixWaitMs) until the microphone has reached it. A silence player keeps
// a stream playing on the output while it runs.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/CaptureThread.h"
#include "audio/SoundDevices.h"
#include "audio/WaveFormat.h"

namespace torvane {

class CAudioRing;
class CSoundCapture;
class IAudioSink;

class CLoopbackCapture : public CCaptureThread {
public:
    // Sets up and, on success, writes the recording format into ownerFormat.
    CLoopbackCapture(CSoundCapture* owner, WaveFormat& ownerFormat, ISoundDevices& devices);
    ~CLoopbackCapture() override;

    bool ready() const { return ready_; }
    // 0 on success or when already started; -1 when not ready or on failure.
    int start(IAudioSink* sink, Clock::time_point origin = Clock::now());
    // 0 when stopped; 1 when it was not started.
    int stop(Clock::time_point at = Clock::now());
    void setPaused(bool paused, Clock::time_point at = Clock::now()) { paused ? pause(at) : resume(at); }

    // How long a packet waits for the microphone in the mix; past it, the microphone's part is
    // silence there and its late sound is left out.
    static constexpr int kMixWaitMs = 1500;

    // Sample frames taken from the device (those still waiting for the microphone included).
    int64_t position() const { return position_.load(); }
    // Whether the microphone came later than kMixWaitMs: from when (ms of the recording) and
    // how much of its sound was left out of the mix.
    bool microphoneLagged(int64_t* atMs, int64_t* missingMs) const;
    bool writeFailed() const { return writeFailed_.load(); }
    const std::string& lastError() const { return lastError_; }

protected:
    bool consume(const uint8_t* data, size_t bytes) override;
    void finish() override;
    const char* threadName() const override { return "torvane-loop"; }

private:
    // Mixes and writes what is waiting: what the microphone covers, what has waited its bound, or
    // with `all` everything.
    bool mixPending(CAudioRing& ring, bool all);
    bool writeOut(const uint8_t* data, size_t bytes);
    bool writeAt(int64_t position, const uint8_t* data, size_t bytes);
    void silenceLoop(std::unique_ptr<ISilenceOutput> out);
    void stopSilence();

    CSoundCapture* owner_;
    ISoundDevices& devices_;
    WaveFormat format_{};
    bool ready_ = false;
    bool started_ = false;
    IAudioSink* sink_ = nullptr;
    std::vector<uint8_t> pending_;   // system sound waiting for the microphone, up to position_
    std::vector<uint8_t> mix_;
    std::vector<uint8_t> mic_;
    std::atomic<int64_t> lagFrames_{0};
    std::atomic<int64_t> lagAtMs_{0};
    std::atomic<int64_t> position_{0};
    std::atomic<bool> writeFailed_{false};
    std::string lastError_;

    std::thread silence_;
    std::mutex silenceLock_;
    std::condition_variable silenceWake_;
    bool silenceStop_ = false;
};

}  // namespace torvane
