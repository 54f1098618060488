#pragma once
// System sound that follows the default output: records the monitor of the sink that is the
// default now, and when the user picks another output during a recording, moves to the new sink's
// monitor. The switch keeps the time line: the frames the new monitor delivers are placed by their
// capture time, the time between the two streams becomes silence (or overlap is dropped).
// A silence player made from the same follower plays on whichever sink is recorded.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/SoundDevices.h"
#include "platform/pulse/PulseStream.h"

namespace torvane {

// The sink being recorded, shared by the capture and its silence player.
class RecordedSink {
public:
    void set(const std::string& name);
    // The name and how often it changed.
    std::string get(uint64_t* generation) const;

private:
    mutable std::mutex m_;
    std::string name_;
    uint64_t generation_ = 0;
};

class CFollowingMonitorInput : public IWaveInDevice {
public:
    // Opens the default sink's monitor; nullptr (and why in error) when there is none.
    static std::unique_ptr<CFollowingMonitorInput> open(const pulse::StreamSpec& spec, uint32_t fragmentBytes,
                                                        size_t maxBuffered, std::string* error);

    int read(void* dst, size_t maxBytes, int timeoutMs) override;
    bool firstCaptureTime(std::chrono::steady_clock::time_point* t) const override;
    void interrupt() override;
    std::string error() const override;
    int discontinuities() const override { return switches_; }
    // A later stream is placed against the start the reader settled on.
    void placedFrom(std::chrono::steady_clock::time_point t) override { first_ = t; }

    std::shared_ptr<RecordedSink> recordedSink() const { return recorded_; }
    int switches() const { return switches_; }

private:
    using Clock = std::chrono::steady_clock;
    CFollowingMonitorInput() = default;
    std::unique_ptr<pulse::Stream> openMonitor(const std::string& sink, std::string* error);
    // Moves to the default sink's monitor when it changed; false when the stream must end.
    bool follow(bool currentFailed);
    size_t takeHeld(uint8_t* dst, size_t maxBytes);

    pulse::StreamSpec spec_;
    uint32_t fragment_ = 0;
    size_t maxBuffered_ = 0;
    uint32_t frameBytes_ = 1;
    std::unique_ptr<pulse::DefaultSinkWatch> watch_;
    uint64_t seenGeneration_ = 0;
    std::shared_ptr<RecordedSink> recorded_ = std::make_shared<RecordedSink>();
    std::string sink_;

    mutable std::mutex m_;   // guards stream_ swaps against interrupt(), and error_
    std::unique_ptr<pulse::Stream> stream_;
    bool interrupted_ = false;
    std::string error_;

    bool haveFirst_ = false;
    Clock::time_point first_{};
    int64_t framesOut_ = 0;        // frames handed to the reader so far
    bool placeNext_ = false;       // the next stream's first data still needs placing
    int64_t zerosDue_ = 0;
    int64_t dropDue_ = 0;          // frames of a new stream that overlap the old one         // silence frames to hand out before the held data
    std::vector<uint8_t> held_;    // data of a new stream waiting behind the silence
    size_t heldOffset_ = 0;
    int switches_ = 0;
};

// Keeps the recorded sink playing (a null sink's monitor only delivers while its sink runs);
// reopens on the new sink when the recording follows another output.
class CFollowingSilence : public ISilenceOutput {
public:
    // Opens at once: the sink must be running before the first sound the recording is to hold.
    explicit CFollowingSilence(std::shared_ptr<RecordedSink> sink);
    int writeSilence(size_t maxBytes) override;

private:
    void reopen();
    std::shared_ptr<RecordedSink> sink_;
    std::unique_ptr<pulse::Stream> out_;
    uint64_t generation_ = ~uint64_t(0);
    std::string name_;
};

}  // namespace torvane
