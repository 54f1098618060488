#pragma once
// Records what the default output plays (its monitor) and writes each packet to the audio stream,
// mixed with the microphone's bytes from the ring when both are recorded. A silence player keeps
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

    int64_t position() const { return position_.load(); }
    bool writeFailed() const { return writeFailed_.load(); }
    const std::string& lastError() const { return lastError_; }

protected:
    bool consume(const uint8_t* data, size_t bytes) override;
    const char* threadName() const override { return "torvane-loop"; }

private:
    void silenceLoop(std::unique_ptr<ISilenceOutput> out);
    void stopSilence();

    CSoundCapture* owner_;
    ISoundDevices& devices_;
    WaveFormat format_{};
    bool ready_ = false;
    bool started_ = false;
    IAudioSink* sink_ = nullptr;
    std::vector<uint8_t> mix_;
    std::vector<uint8_t> mic_;
    std::atomic<int64_t> position_{0};
    std::atomic<bool> writeFailed_{false};
    std::string lastError_;

    std::thread silence_;
    std::mutex silenceLock_;
    std::condition_variable silenceWake_;
    bool silenceStop_ = false;
};

}  // namespace torvane
