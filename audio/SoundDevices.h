#pragma once
// The sound devices as the capture code needs them: an input in a given format, the monitor of
// the default output, and a silent playback stream. The machine's devices come from
// defaultSoundDevices(); tests may hand in devices of their own.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/WaveFormat.h"

namespace torvane {

class IWaveInDevice {
public:
    virtual ~IWaveInDevice() = default;
    // Waits up to timeoutMs, returns bytes read (whole frames), 0 on time-out or after
    // interrupt(), -1 once the device has failed.
    virtual int read(void* dst, size_t maxBytes, int timeoutMs) = 0;
    // When the first byte delivered was captured; false when the device cannot tell.
    virtual bool firstCaptureTime(std::chrono::steady_clock::time_point* t) const = 0;
    virtual void interrupt() = 0;
    virtual std::string error() const = 0;
    // How often the device has put silence in or left sound out to keep its time line (a move to
    // another device): the data around such a place is not evenly paced.
    virtual int discontinuities() const { return 0; }
    // The reader places the first frame at `t` (firstCaptureTime() or earlier, see CCaptureThread).
    virtual void placedFrom(std::chrono::steady_clock::time_point) {}
};

class ISilenceOutput {
public:
    virtual ~ISilenceOutput() = default;
    // Queues up to maxBytes of zeros as far as the device takes them; -1 once failed.
    virtual int writeSilence(size_t maxBytes) = 0;
};

class ISoundDevices {
public:
    virtual ~ISoundDevices() = default;
    // Capability bits of the default input (the kCaps* constants); ok false (and why in error)
    // when the query failed.
    virtual uint32_t inputCapabilities(bool* ok, std::string* error) = 0;
    virtual std::unique_ptr<IWaveInDevice> openInput(const WaveFormat& format, uint32_t fragmentBytes,
                                                     std::string* error) = 0;
    // The format in which the default output's sound can be recorded: its rate and channels, 16 bits.
    virtual bool loopbackFormat(WaveFormat* format, std::string* error) = 0;
    virtual std::unique_ptr<IWaveInDevice> openLoopback(const WaveFormat& format, uint32_t fragmentBytes,
                                                        std::string* error) = 0;
    // Silence format: 44100 Hz, 2 channels, 16 bits.
    virtual std::unique_ptr<ISilenceOutput> openSilence(std::string* error) = 0;
};

// The sound server's devices when g_bVistaOrLater, else ALSA's "default" (no loopback there).
ISoundDevices& defaultSoundDevices();

}  // namespace torvane
