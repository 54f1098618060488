#pragma once
// Capture from an ALSA PCM (normally "default") for machines without a sound server. Reads wait
// with a time-out so that the reader thread can always be stopped.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct _snd_pcm;

namespace torvane::alsa {

// What the device accepts: one entry per (rate, channels, bits) combination tested.
struct PcmCapabilities {
    bool rate48000[3][2] = {};   // [channels 1..2][bits 8,16]
    bool rate44100[3][2] = {};
};

// Keeps alsa-lib from printing its own error messages (failures are returned instead).
void silenceLibraryMessages();

// Tests which of 44100/48000 Hz × mono/stereo × 8/16-bit the capture device supports.
bool captureCapabilities(const std::string& device, PcmCapabilities* caps, std::string* error);

class CapturePcm {
public:
    // bits: 8 (unsigned) or 16 (signed little-endian). periodBytes: the transfer unit.
    static std::unique_ptr<CapturePcm> open(const std::string& device, uint32_t rate, int channels,
                                            int bits, uint32_t periodBytes, std::string* error);
    ~CapturePcm();
    CapturePcm(const CapturePcm&) = delete;
    CapturePcm& operator=(const CapturePcm&) = delete;

    // Waits up to timeoutMs for data, then reads up to maxBytes (whole frames). Returns the byte
    // count, 0 on time-out or interrupt, -1 when the device failed.
    int read(void* dst, size_t maxBytes, int timeoutMs);
    void interrupt() { interrupted_ = true; }
    std::string error() const { return error_; }
    uint32_t frameBytes() const { return frameBytes_; }

private:
    CapturePcm() = default;
    ::_snd_pcm* pcm_ = nullptr;
    uint32_t frameBytes_ = 1;
    std::atomic<bool> interrupted_{false};
    std::string error_;   // written and read by the reader thread only
};

}  // namespace torvane::alsa
