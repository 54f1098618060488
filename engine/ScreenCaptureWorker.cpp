#include "engine/ScreenCaptureWorker.h"

#include <chrono>

#include "engine/BaseCapture.h"
#include "engine/H264Encoder.h"
#include "engine/Watermark.h"
#include "platform/avi/AviFile.h"
#include "platform/core/Clock.h"
#include "engine/ScreenSources.h"

namespace torvane {

namespace {
EncoderConfig encoderConfig(const WorkerSettings& s) {
    EncoderConfig c;
    c.width = s.screen.outputWidth;
    c.height = s.screen.outputHeight;
    c.frameRate = effectiveFrameRate(s.screen);
    c.quality = s.screen.quality;
    return c;
}
}  // namespace

CScreenCaptureWorker::CScreenCaptureWorker(const WorkerSettings& settings, QObject* notify)
    : settings_(settings),
      notify_(notify),
      frameRate_(effectiveFrameRate(settings.screen)),
      outWidth_(settings.screen.outputWidth),
      outHeight_(settings.screen.outputHeight),
      counters_(std::make_shared<CaptureCounters>()) {
    encoder_ = CH264Encoder::open(encoderConfig(settings_), &encoderError_);
}

CScreenCaptureWorker::~CScreenCaptureWorker() { fullStop(); }

void CScreenCaptureWorker::setVideoStream(std::shared_ptr<avi::AviFile> file, avi::AviStream* stream) {
    file_ = std::move(file);
    stream_ = stream;
}

bool CScreenCaptureWorker::start(std::string* error) {
    if (!encoder_) {
        if (error) *error = encoderError_;
        fullStop();
        return false;
    }
    if (settings_.screen.sourceKind != kSourceWebcam) {
        std::string why;
        auto screen = openScreenSource(settings_.screen, &why);
        if (!screen) {
            if (error) *error = why;
            fullStop();
            return false;
        }
        screen_ = std::move(screen);
    }
    // The webcam source arrives with the webcam device support; until then a webcam-only
    // recording polls a source that has no picture.
    if (settings_.watermark.on) watermark_ = std::make_shared<CWatermark>(settings_.watermark);
    segmentStartTime_ = std::chrono::steady_clock::now();
    segmentStart_ = tickMilliseconds();
    recordedBefore_ = 0;
    if (!startThread(error)) {
        fullStop();
        return false;
    }
    return true;
}

bool CScreenCaptureWorker::startThread(std::string* error) {
    auto run = std::make_shared<CaptureRun>();
    run->settings = settings_;
    run->frameRate = frameRate_;
    run->outWidth = outWidth_;
    run->outHeight = outHeight_;
    run->segmentStart = segmentStart_;
    run->recordedBefore = recordedBefore_;
    run->encoder = encoder_;
    run->file = file_;
    run->stream = stream_;
    run->screen = screen_;
    run->webcam = webcam_;
    run->watermark = watermark_;
    run->counters = counters_;
    run->notify = notify_;
    if (!stream_) {
        if (error) *error = "No video stream to write to";
        return false;
    }
    std::promise<void> done;
    threadDone_ = done.get_future();
    try {
        thread_ = std::thread([run, done = std::move(done)]() mutable {
            runCaptureLoop(run);
            done.set_value();
        });
    } catch (const std::system_error& e) {
        if (error) *error = std::string("Cannot create the capture thread: ") + e.what();
        return false;
    }
    run_ = std::move(run);
    return true;
}

void CScreenCaptureWorker::haltThread() {
    if (!thread_.joinable()) return;
    run_->running.store(false);
    run_->stopEvent.set();
    if (threadDone_.wait_for(std::chrono::milliseconds(kHaltTimeoutMs)) == std::future_status::ready) {
        thread_.join();
        // The live-session rectangle the thread followed carries over to the next run.
        settings_.screen.rect = run_->settings.screen.rect;
    } else {
        // It cannot be ended safely from outside: it keeps what it uses and ends by itself.
        thread_.detach();
    }
    run_.reset();
}

bool CScreenCaptureWorker::pause() {
    if (!thread_.joinable() && !paused_) return false;
    if (paused_) return true;
    haltThread();
    encoder_.reset();
    paused_ = true;
    recordedBefore_ += uint32_t(tickMilliseconds() - segmentStart_);
    return true;
}

bool CScreenCaptureWorker::resume(std::string* error) {
    if (!paused_) return true;
    segmentStart_ = tickMilliseconds();
    paused_ = false;
    // A new encoder, so the run begins with an IDR picture a decoder can start from.
    std::string why;
    encoder_ = CH264Encoder::open(encoderConfig(settings_), &why);
    if (!encoder_ || !startThread(&why)) {
        if (error) *error = why;
        fullStop();
        return false;
    }
    return true;
}

void CScreenCaptureWorker::fullStop() {
    haltThread();
    encoder_.reset();
    webcam_.reset();
    screen_.reset();
}

void CScreenCaptureWorker::togglePip(bool on) {
    // The presenter's webcam window arrives with the webcam device support; the flag is kept so
    // a later run sees it.
    settings_.pip.on = on ? 1 : 0;
}

}  // namespace torvane
