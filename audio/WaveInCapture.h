#pragma once
// Records the default input device on a thread of its own and appends every filled block to the
// audio stream, or, when microphone and system sound are mixed, hands the blocks to the mixing ring.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "audio/CaptureThread.h"
#include "audio/SoundDevices.h"
#include "audio/WaveFormat.h"

namespace torvane {

class CSoundCapture;
class IAudioSink;

class CWaveInCapture : public CCaptureThread {
public:
    static constexpr int kBlockCount = 32;
    static constexpr uint32_t kBlockBytes = 19200;

    // inherit false: choose the format from the device's capabilities and write it into
    // ownerFormat; inherit true: record in ownerFormat as it is.
    CWaveInCapture(WaveFormat& ownerFormat, CSoundCapture* owner, bool inherit, ISoundDevices& devices);
    ~CWaveInCapture() override;

    // 0 on success (also when already running), -1 on failure.
    int start(IAudioSink* sink, Clock::time_point origin = Clock::now());
    // 0; the sound up to the moment of the call is still written.
    int stop(Clock::time_point at = Clock::now());
    void setPaused(bool paused, Clock::time_point at = Clock::now()) { paused ? pause(at) : resume(at); }

    const WaveFormat& format() const { return format_; }
    int64_t position() const { return position_.load(); }
    int failedWrites() const { return failedWrites_.load(); }
    const std::string& lastError() const { return lastError_; }

protected:
    bool consume(const uint8_t* data, size_t bytes) override;
    const char* threadName() const override { return "torvane-wavein"; }
    void finish() override;

private:
    bool deliver(const uint8_t* data, size_t bytes);

    WaveFormat format_{};
    CSoundCapture* owner_;
    ISoundDevices& devices_;
    IAudioSink* sink_ = nullptr;
    std::vector<uint8_t> block_;
    size_t fill_ = 0;
    std::atomic<int64_t> position_{0};
    std::atomic<int> failedWrites_{0};
    std::string lastError_;
};

}  // namespace torvane
