#include "engine/ScreenCaptureWorker.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <chrono>
#include <cstdio>

#include "engine/H264Encoder.h"
#include "engine/Watermark.h"
#include "platform/media/MediaWriter.h"
#include "platform/x11/ScreenPlacement.h"
#include "platform/core/Clock.h"
#include "engine/Placement.h"
#include "engine/ScreenSources.h"
#include "webcam/BaseCapture.h"
#include "webcam/CameraStart.h"
#include "webcam/PreviewDlg.h"
#include "webcam/VideoInputDevice.h"

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

CScreenCaptureWorker::~CScreenCaptureWorker() {
    alive_.reset();
    fullStop();
}

void CScreenCaptureWorker::setVideoStream(std::shared_ptr<media::IMediaWriter> file, media::ITrack* stream) {
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
        pointerNotice_ = torvane::pointerNotice(settings_.cursor, screenPointer(settings_.screen));
    }
    const std::weak_ptr<int> alive = alive_;
    if (settings_.screen.sourceKind == kSourceWebcam) {
        if (!openWebcam(frameRate_, error)) {
            if (!alive.expired()) fullStop();
            return false;
        }
    } else if (settings_.pip.on && settings_.webcam.deviceName[0] != 0) {
        // The overlay is not worth refusing the screen recording for: it shows black, and the
        // loss report says why. Without a chosen webcam there is no overlay to show.
        std::string why;
        const bool opened = openWebcam(frameRate_, &why);
        if (alive.expired()) return false;
        if (!opened) webcamLoss_ = why;
    }
    if (settings_.watermark.on) watermark_ = std::make_shared<CWatermark>(settings_.watermark);
    segmentStartTime_ = std::chrono::steady_clock::now();
    segmentStart_ = tickMilliseconds();
    recordedBefore_ = 0;
    segmentBase_ = 0;
    if (!startThread(error)) {
        fullStop();
        return false;
    }
    // An overlay turned off while the camera started stays hidden.
    if (settings_.screen.sourceKind == kSourceWebcam || settings_.pip.on) showPreview();
    return true;
}

bool CScreenCaptureWorker::openWebcam(int frameRate, std::string* error) {
    const std::string name = fromUtf16Field(settings_.webcam.deviceName, std::size(settings_.webcam.deviceName));
    const bool webcamOnly = settings_.screen.sourceKind == kSourceWebcam;
    if (name.empty()) {
        if (error) *error = "No webcam is selected.";
        return false;
    }
    if (!camera_) {
        if (opening_) {
            if (error) *error = "The webcam \"" + name + "\" is still being started.";
            return false;
        }
        // The window keeps handling its events while the camera starts, so this object may be
        // stopped, or gone, by the time the answer comes.
        const std::weak_ptr<int> alive = alive_;
        opening_ = true;
        stopWhileOpening_ = false;
        const std::chrono::milliseconds wait(webcamOnly ? kFirstPictureTimeoutMs : 0);
        CameraStartResult started = startCamera(settings_.webcam.width, settings_.webcam.height, name, frameRate, wait);
        if (alive.expired()) {
            releaseCamera(std::move(started.device));
            if (error) *error = "The recording was ended while the webcam was starting.";
            return false;
        }
        opening_ = false;
        if (stopWhileOpening_) {
            releaseCamera(std::move(started.device));
            if (error) *error = "The recording was stopped while the webcam \"" + name + "\" was starting.";
            return false;
        }
        if (!started.device) {
            if (error) *error = "The webcam \"" + name + "\" cannot be used: " + started.reason + ".";
            return false;
        }
        camera_ = std::move(started.device);
        webcam_ = camera_;
    }
    createPreview();
    return true;
}

void CScreenCaptureWorker::createPreview() {
    // Windows need a GUI application; a console front end records the webcam without one.
    if (preview_ || !camera_ || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QRect client;
    if (settings_.screen.sourceKind == kSourceWebcam) {
        const int w = settings_.webcam.width > 0 ? settings_.webcam.width : 320;
        const int h = settings_.webcam.height > 0 ? settings_.webcam.height : 240;
        const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect();
        client = QRect(screen.x() + (screen.width() - w) / 2, screen.y() + (screen.height() - h) / 2, w, h);
    } else {
        const ScreenRect& r = settings_.screen.rect;
        const PipSettings& p = settings_.pip;
        const PlacedPoint at = placeObject(p.position, r.left, r.top, r.right, r.bottom, p.width, p.height, p.marginX, p.marginY);
        // Placed over the recorded area in device pixels; the window is in logical units.
        client = x11::logicalCoveringOnScreen(
            {at.x, at.y, at.x + std::max(1, int(p.width)), at.y + std::max(1, int(p.height))});
    }
    preview_ = std::make_unique<CPreviewDlg>(camera_, settings_.screen.sourceKind != kSourceWebcam, client, notify_);
}

void CScreenCaptureWorker::showPreview() {
    if (preview_) preview_->showOnTop();
}

void CScreenCaptureWorker::hidePreview() {
    if (preview_) preview_->hide();
}

void CScreenCaptureWorker::noteWebcamLoss() {
    std::chrono::steady_clock::time_point when;
    std::string why;
    if (!camera_ || !camera_->lostSince(when, why)) return;
    // Recorded time of the last picture, as far as this run tells it.
    int64_t ms = segmentBase_;
    if (when > segmentStartTime_)
        ms += std::chrono::duration_cast<std::chrono::milliseconds>(when - segmentStartTime_).count();
    ms = std::min<int64_t>(ms, paused_ ? recordedBefore_ : ms);
    char at[32];
    std::snprintf(at, sizeof at, "%02lld:%02lld.%01lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms / 100 % 10));
    webcamLoss_ = "The webcam \"" + camera_->deviceName() + "\" was lost at " + at + " of the recording (" + why +
                  "); the video shows its last picture from then on.";
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
    hidePreview();
    paused_ = true;
    recordedBefore_ += uint32_t(tickMilliseconds() - segmentStart_);
    return true;
}

bool CScreenCaptureWorker::resume(std::string* error) {
    if (!paused_) return true;
    segmentStart_ = tickMilliseconds();
    segmentStartTime_ = std::chrono::steady_clock::now();
    segmentBase_ = recordedBefore_;
    paused_ = false;
    // A new encoder, so the run begins with an IDR picture a decoder can start from.
    std::string why;
    encoder_ = CH264Encoder::open(encoderConfig(settings_), &why);
    if (!encoder_ || !startThread(&why)) {
        if (error) *error = why;
        fullStop();
        return false;
    }
    // Shown again whatever the overlay flag says.
    showPreview();
    return true;
}

void CScreenCaptureWorker::fullStop() {
    haltThread();
    encoder_.reset();
    hidePreview();
    preview_.reset();
    if (webcamLoss_.empty()) noteWebcamLoss();
    if (opening_) stopWhileOpening_ = true;
    webcam_.reset();
    // Stopping a camera joins GStreamer's streaming thread: not on the window's thread.
    releaseCamera(std::move(camera_));
    screen_.reset();
}

void CScreenCaptureWorker::togglePip(bool on) {
    settings_.pip.on = on ? 1 : 0;
    // A toggle while the camera starts: the start shows the window or not by the flag.
    if (opening_) return;
    if (!on) {
        hidePreview();
        return;
    }
    if (settings_.webcam.deviceName[0] == 0) return;   // no webcam chosen: nothing to show
    if (!camera_) {
        std::string why;
        const std::weak_ptr<int> alive = alive_;
        const bool opened = openWebcam(frameRate_, &why);
        if (alive.expired()) return;
        if (!opened) {
            webcamLoss_ = why;
            return;
        }
        if (!settings_.pip.on) return;   // turned off again while it started
        // The capture thread of this run reads the webcam only in webcam-only mode, so the
        // new source needs no hand-over.
    }
    createPreview();
    showPreview();
}

}  // namespace torvane
