#include "tools/torvane_record/Recorder.h"

#include <QCoreApplication>
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "platform/core/WindowMessage.h"

namespace torvane::record {

namespace {

void say(const std::string& text) { std::fprintf(stderr, "torvane-record: %s\n", text.c_str()); }

std::string clock(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRIu32 ":%02" PRIu32 ":%02" PRIu32 ".%03" PRIu32, ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

// Fine enough for stops and pauses within a few milliseconds of the requested recorded time.
constexpr int kPollMs = 10;

}  // namespace

Recorder::Recorder(CCaptureSession& session, std::vector<PauseSpec> pauses, std::optional<uint32_t> stopAfterMs,
                   int32_t sourceKind, QObject* parent)
    : QObject(parent), session_(session), pauses_(std::move(pauses)), stopAfterMs_(stopAfterMs), sourceKind_(sourceKind) {
    poll_.setTimerType(Qt::PreciseTimer);
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &Recorder::poll);
    progress_.setInterval(1000);
    connect(&progress_, &QTimer::timeout, this, &Recorder::printProgress);
    resume_.setSingleShot(true);
    resume_.setTimerType(Qt::PreciseTimer);
    connect(&resume_, &QTimer::timeout, this, &Recorder::resumeNow);
}

bool Recorder::start(const std::string& file) {
    file_ = file;
    if (!session_.start(file, this)) {
        say(session_.lastError());
        exitCode_ = 1;
        return false;
    }
    say("recording to " + file);
    poll_.start();
    progress_.start();
    return true;
}

std::string Recorder::progressLine(uint32_t recordedMs, const CaptureStatistics& stats, bool paused) {
    return "recorded " + clock(recordedMs) + ", frames written " + std::to_string(stats.framesWritten) +
           ", unchanged " + std::to_string(stats.framesUnchanged) + ", late " + std::to_string(stats.framesSkipped) +
           (paused ? " (paused)" : "");
}

void Recorder::printProgress() {
    if (finished_) return;
    say(progressLine(session_.recordedMilliseconds(), session_.statistics(), session_.state() == kStatePaused));
}

void Recorder::poll() {
    if (finished_ || session_.state() != kStateRecording) return;
    const uint32_t recorded = session_.recordedMilliseconds();
    if (stopAfterMs_ && recorded >= *stopAfterMs_) {
        finish(0);
        return;
    }
    if (nextPause_ < pauses_.size() && recorded >= pauses_[nextPause_].atMs) {
        const PauseSpec p = pauses_[nextPause_++];
        if (!session_.pause()) {
            // A failed pause has already stopped the session.
            say(session_.lastError());
            finish(1);
            return;
        }
        say("paused at " + clock(recorded) + " for " + std::to_string(p.durationMs) + " ms");
        resume_.start(static_cast<int>(std::min<uint32_t>(p.durationMs, INT32_MAX)));
    }
}

void Recorder::resumeNow() {
    if (finished_) return;
    if (!session_.resume()) {
        say(session_.lastError());
        finish(1);
        return;
    }
    say("resumed at " + clock(session_.recordedMilliseconds()));
}

void Recorder::finish(int code) {
    if (finished_) return;
    finished_ = true;
    exitCode_ = code;
    poll_.stop();
    progress_.stop();
    resume_.stop();
    const uint32_t recorded = session_.recordedMilliseconds();
    const bool active = session_.state() == kStateRecording || session_.state() == kStatePaused;
    if (active) session_.stop();
    const CaptureStatistics stats = session_.statistics();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", recorded / 1000.0);
    if (active || code == 0)
        say(std::string("wrote ") + file_ + ": " + seconds + " s recorded, " + std::to_string(stats.framesWritten) +
            " frames written (" + std::to_string(stats.framesRepeated) + " repeated), " +
            std::to_string(stats.framesUnchanged) + " unchanged, " +
            std::to_string(stats.framesSkipped) + " late, " +
            std::to_string(stats.framesDuplicate) + " duplicate" +
            (stats.fasterSteps ? ", " + std::to_string(stats.framesFaster) + " at faster encoder settings" : ""));
    // A recording that ended by itself or lost data is not reported to scripts as a success.
    if (!session_.stopReason().empty()) {
        say("stopped: " + session_.lossReport());
        exitCode_ = code = kExitStoppedByFault;
    } else if (session_.lostData()) {
        say("warning: the recording lost data: " + session_.lossReport());
        if (code == 0) exitCode_ = code = kExitLostData;
    } else if (!session_.lossReport().empty()) {
        say("note: " + session_.lossReport());
    }
    QCoreApplication::exit(code);
}

bool Recorder::event(QEvent* e) {
    if (e->type() == WindowMessageEvent::eventType()) {
        const auto* m = static_cast<WindowMessageEvent*>(e);
        if (m->message == WM_RECORDER_STOP && !finished_) {
            // A fault is told by the summary; the others are the end of what was recorded.
            if (m->wParam != kStopForFault)
                say(sourceKind_ == kSourceWebcam ? "the webcam preview window was closed; stopping"
                                                 : "the recorded window disappeared; stopping");
            finish(0);
        }
        return true;
    }
    return QObject::event(e);
}

}  // namespace torvane::record
