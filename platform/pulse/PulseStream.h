#pragma once
// One connection to the PulseAudio-compatible sound server carrying one record or playback stream.
// The server's own threaded main loop delivers record data into a local buffer; a reader thread of
// the caller takes it out with read(), which waits with a time-out and can be interrupted, so a
// stalled or vanished server never blocks the caller for long.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace torvane::pulse {

enum class SampleFormat { kU8, kS16LE };

struct StreamSpec {
    SampleFormat format = SampleFormat::kS16LE;
    uint32_t rate = 44100;
    uint8_t channels = 2;
};

struct DeviceSpec {
    uint32_t rate = 0;
    uint8_t channels = 0;
};

// True when a server answers within the time-out.
bool serverReachable(int timeoutMs = 1500);

// Rate and channel count of the default sink ("@DEFAULT_SINK@") or default source.
bool defaultSinkSpec(DeviceSpec* spec, std::string* error, int timeoutMs = 1500);
bool defaultSourceSpec(DeviceSpec* spec, std::string* error, int timeoutMs = 1500);

// The default sink and the source that records what it plays. Both servers in use agree on this
// lookup (server info's default sink, then that sink's monitor_source_name); the name
// "@DEFAULT_MONITOR@" does not: one of them resolves it to the default source.
struct SinkMonitor {
    std::string sink;
    std::string monitor;
    DeviceSpec spec;
};
bool defaultSinkMonitor(SinkMonitor* out, std::string* error, int timeoutMs = 1500);
bool sinkMonitor(const std::string& sink, SinkMonitor* out, std::string* error, int timeoutMs = 1500);

// Follows the server's default sink through change events (no polling): defaultSink() is the
// name as last announced, generation() counts changes of it. failed() once the server is gone.
class DefaultSinkWatch {
public:
    static std::unique_ptr<DefaultSinkWatch> open(std::string* error, int timeoutMs = 1500);
    ~DefaultSinkWatch();
    DefaultSinkWatch(const DefaultSinkWatch&) = delete;
    DefaultSinkWatch& operator=(const DefaultSinkWatch&) = delete;

    std::string defaultSink() const;
    uint64_t generation() const;
    bool failed() const;

    struct Impl;

private:
    explicit DefaultSinkWatch(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class Stream {
public:
    enum class Direction { kRecord, kPlayback };

    // device: a source or sink name, empty for the default one; "@DEFAULT_MONITOR@" records what the
    // default sink plays. fragmentBytes: how much the server hands over at once (record) or the
    // target fill of the server-side buffer (playback). maxBufferedBytes bounds the local record
    // buffer; the oldest bytes are dropped beyond it.
    static std::unique_ptr<Stream> open(Direction direction, const std::string& device,
                                        const StreamSpec& spec, uint32_t fragmentBytes,
                                        size_t maxBufferedBytes, const std::string& name,
                                        std::string* error, int timeoutMs = 3000);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Record: waits up to timeoutMs for at least one frame, then copies up to maxBytes (whole
    // frames). Returns the byte count, 0 on time-out or interrupt, -1 once the stream or the
    // connection has failed (after the data received before the failure has been read).
    int read(void* dst, size_t maxBytes, int timeoutMs);
    // Estimated time at which the first byte ever received was captured; false before any data.
    bool firstCaptureTime(std::chrono::steady_clock::time_point* t) const;
    // Bytes dropped because the local buffer was full.
    uint64_t overflowBytes() const;

    // Playback: writes zeros up to what the server can take now, at most maxBytes. Returns the
    // byte count or -1 once failed.
    int writeSilence(size_t maxBytes);

    // Makes a waiting read() return 0 now and every later one return at once.
    void interrupt();
    bool failed() const;
    std::string error() const;
    uint32_t frameBytes() const;

    struct Impl;

private:
    explicit Stream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace torvane::pulse
