#pragma once
// Everything one run of the capture thread uses. The worker and the thread share it, so a thread
// that outlives its stop request never touches freed memory.

#include <QImage>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/WorkerSettings.h"
#include "platform/core/AutoResetEvent.h"

namespace torvane {

namespace media {
class IMediaWriter;
class ITrack;
}  // namespace media
class IScreenSource;
class CH264Encoder;
class CBaseCapture;
class CWatermark;

enum class StopFault { None, FileWrite, ScreenLost };

// Counters that live across the runs of one recording.
struct CaptureCounters {
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> repeated{0};    // of those, the last picture again (still stretches, ends of runs)
    std::atomic<uint64_t> skipped{0};     // late: positions no turn reached in time (the engine fell behind)
    std::atomic<uint64_t> unchanged{0};   // positions left empty on purpose: nothing had changed
    std::atomic<uint64_t> duplicates{0};
    std::atomic<uint64_t> writeFailures{0};
    std::atomic<uint64_t> encodeFailures{0};
    // Keeping pace: how often the encoder went to a faster, less thorough analysis because positions
    // came late, and how many pictures were encoded at one.
    std::atomic<uint64_t> fasterSteps{0};
    std::atomic<uint64_t> fasterPictures{0};
    std::atomic<int64_t> lastPosition{-1};   // last position written to the video stream
    std::atomic<int64_t> lastTurn{-1};       // last position a turn decided (picture or empty entry)
    // CPU time of the capture thread per stage, in microseconds, for benchmarks.
    std::atomic<uint64_t> changesUs{0}, grabUs{0}, cursorUs{0}, watermarkUs{0}, scaleUs{0}, convertUs{0}, encodeUs{0}, writeUs{0};

    // Why the recording stopped by itself (the file cannot be written, the screen cannot be read);
    // the first reason wins. Empty while nothing went wrong.
    void setFault(StopFault kind, const std::string& text) {
        std::lock_guard lock(faultLock_);
        if (fault_ != StopFault::None) return;
        fault_ = kind;
        faultText_ = text;
    }
    StopFault fault() const {
        std::lock_guard lock(faultLock_);
        return fault_;
    }
    std::string faultText() const {
        std::lock_guard lock(faultLock_);
        return faultText_;
    }

private:
    mutable std::mutex faultLock_;
    StopFault fault_ = StopFault::None;
    std::string faultText_;
};

struct CaptureRun {
    WorkerSettings settings;          // the thread moves the capture rectangle (live-session window)
    int frameRate = 8;
    int outWidth = 0, outHeight = 0;
    uint32_t segmentStart = 0;
    uint32_t recordedBefore = 0;

    std::shared_ptr<CH264Encoder> encoder;
    std::shared_ptr<media::IMediaWriter> file;
    media::ITrack* stream = nullptr;
    std::shared_ptr<IScreenSource> screen;   // null for webcam only
    std::shared_ptr<CBaseCapture> webcam;          // may be null: no picture yet
    std::shared_ptr<CWatermark> watermark;
    std::shared_ptr<CaptureCounters> counters;
    QObject* notify = nullptr;

    std::atomic<bool> running{true};   // cleared to ask the thread to stop
    AutoResetEvent stopEvent;
    std::atomic<bool> finished{false};
};

// The thread body: turns until asked to stop, the live-session window is gone, or a fault (a failed
// write of either stream, a screen that cannot be read) ends the recording; then it records the
// fault in the counters and posts WM_RECORDER_STOP with kStopForFault to `notify`.
void runCaptureLoop(std::shared_ptr<CaptureRun> run);

}  // namespace torvane
