#include "engine/CaptureSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/ScreenCaptureWorker.h"
#include "engine/SettingsValidation.h"
#include "engine/StopReport.h"
#include "engine/RecordingFile.h"
#include "platform/core/Clock.h"
#include "settings/CaptureRules.h"

#ifdef TORVANE_HAVE_SOUND
#include "audio/SoundCapture.h"
#else
namespace torvane {
class CSoundCapture {};   // built without sound: never created
}  // namespace torvane
#endif

namespace torvane {

namespace {

std::string format(const char* fmt, const std::string& a, unsigned b = 0) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, a.c_str(), b);
    return buf;
}

// Keeps the fixed text as the first line and adds the reason below it, when there is one.
std::string withReason(const char* text, const std::string& reason) {
    return reason.empty() ? std::string(text) : std::string(text) + "\n" + reason;
}


}  // namespace

CCaptureSession::CCaptureSession() {
    watermark_.opacity = 70;
    cursor_.captureCursor = 0;
    cursor_.highlightType = kHighlightPointer;
    cursor_.highlightColor = 0x000000FF;
    cursor_.highlightOpacity = 70;
    cursor_.highlightSize = 10;
}

CCaptureSession::~CCaptureSession() {
    if (state_ == kStateRecording || state_ == kStatePaused) stop();
}

bool CCaptureSession::settable() {
    if (state_ == kStateRecording || state_ == kStatePaused || starting_) {
        lastError_ = "Please stop capture.";
        return false;
    }
    state_ = kStateReady;
    return true;
}

bool CCaptureSession::setScreenSettings(const ScreenSettings& s) {
    if (!settable()) return false;
    screen_ = s;
    return true;
}
bool CCaptureSession::setSoundEnabled(int enabled) {
    if (!settable()) return false;
    soundEnabled_ = enabled;
    return true;
}
bool CCaptureSession::setSoundOption(unsigned int option) {
    if (option > 2 && state_ != kStateRecording && state_ != kStatePaused) {
        lastError_ = "Sound option is range out.";
        return false;
    }
    if (!settable()) return false;
    soundOption_ = int(option);
    return true;
}
bool CCaptureSession::setCursorSettings(const CursorSettings& s) {
    if (!settable()) return false;
    cursor_ = s;
    return true;
}
bool CCaptureSession::setWebcamSettings(const WebcamSettings& s) {
    if (!settable()) return false;
    webcam_ = s;
    return true;
}
bool CCaptureSession::setPipSettings(const PipSettings& s) {
    if (!settable()) return false;
    pip_ = s;
    return true;
}
bool CCaptureSession::setWatermarkSettings(const WatermarkSettings& s) {
    if (!settable()) return false;
    watermark_ = s;
    return true;
}

void CCaptureSession::releaseAll() {
    // Reverse order of creation: worker, video stream, sound capture, audio stream, file.
    if (worker_) worker_->fullStop();
    if (file_ && videoStream_) file_->releaseTrack(videoStream_);
    videoStream_ = nullptr;
    sound_.reset();
    if (file_ && audioStream_) file_->releaseTrack(audioStream_);
    audioStream_ = nullptr;
    if (file_) file_->finish();
    file_.reset();
    worker_.reset();
}

bool CCaptureSession::start(const std::string& fileName, QObject* notify) {
    if (starting_) {
        lastError_ = "A recording is already starting.";
        return false;
    }
    if (state_ != kStateReady) {
        lastError_ = "Please set capture setting";
        return false;
    }
    starting_ = true;
    const bool ok = startNow(fileName, notify);
    starting_ = false;
    return ok;
}

bool CCaptureSession::startNow(const std::string& fileName, QObject* notify) {
    fileName_ = fileName;
    notify_ = notify;
    lossReport_.clear();
    soundClocks_.clear();
    pointerNotice_.clear();
    lostData_ = false;
    stopReason_.clear();

    // Stored settings are trusted only for their size: refuse what would crash or misbehave.
    if (std::string why = validateForRecording(screen_); !why.empty()) {
        lastError_ = why;
        return false;
    }

    WorkerSettings block{screen_, cursor_, watermark_, webcam_, pip_};
    worker_ = std::make_unique<CScreenCaptureWorker>(block, notify);

    // Can the file be created at all? The empty file stays.
    const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fileName.empty() || fd < 0) {
        lastError_ = format("Could not create the file named %s", fileName);
        worker_.reset();
        return false;
    }
    ::close(fd);

    std::string why;
    std::unique_ptr<media::IMediaWriter> created = createRecordingFile(fileName, &why);
    if (!created) {
        const int code = errno ? errno : 1;
        lastError_ = format("Could not create the file named %s, error=0x%x", fileName, unsigned(code));
        worker_.reset();
        return false;
    }
    file_ = std::move(created);

    media::VideoFormat video;
    video.width = roundUpTo4(screen_.outputWidth);
    video.height = roundUpTo4(screen_.outputHeight);
    video.frameRate = effectiveFrameRate(screen_);
    videoStream_ = file_->addVideo(video);
    if (!videoStream_) {
        lastError_ = withReason("Could not create the video stream", file_->lastError());
        releaseAll();
        return false;
    }
    // Every track is added before anything is written: a container may need them all in its header.
#ifdef TORVANE_HAVE_SOUND
    if (soundEnabled_) {
        sound_ = std::make_unique<CSoundCapture>(soundEnabled_, soundOption_);
        const WaveFormat& wf = sound_->recordingFormat();
        if (wf.blockAlign == 0 || wf.avgBytesPerSec == 0) {
            // No usable sound device was found: there is nothing to create an audio stream for.
            lastError_ = withReason("Cannot start audio capture.", sound_->lastError());
            releaseAll();
            return false;
        }
        media::SoundFormat audio;
        audio.channels = wf.channels;
        audio.sampleRate = int(wf.samplesPerSec);
        audio.bitsPerSample = wf.bitsPerSample;
        audioStream_ = file_->addSound(audio);
        if (!audioStream_) {
            lastError_ = withReason("Could not create the audio stream", file_->lastError());
            releaseAll();
            return false;
        }
        sound_->setAudioStream(audioStream_);
    }
#endif
    worker_->setVideoStream(file_, videoStream_);
    if (!worker_->start(&why)) {
        lastError_ = withReason("Cannot start video capture.", why);
        releaseAll();
        return false;
    }
#ifdef TORVANE_HAVE_SOUND
    if (sound_) {
        // The audio track starts where the video's time line starts.
        sound_->setTimeOrigin(worker_->segmentStartTime());
        if (sound_->start() != 0) {
            lastError_ = "Cannot start audio capture.";
            releaseAll();
            return false;
        }
    }
#endif
    state_ = kStateRecording;
    return true;
}

bool CCaptureSession::pause() {
    if (state_ != kStateRecording) {
        lastError_ = "Capture is not running";
        return false;
    }
    bool ok = worker_ && worker_->pause();
#ifdef TORVANE_HAVE_SOUND
    if (ok && sound_) ok = sound_->pause() == 0;
#endif
    if (ok) {
        state_ = kStatePaused;
        return true;
    }
    stop();
    lastError_ = "Could not pause video capture";
    return false;
}

bool CCaptureSession::resume() {
    if (state_ != kStatePaused) {
        lastError_ = "Capture is not paused";
        return false;
    }
    std::string why;
    bool ok = worker_ && worker_->resume(&why);
#ifdef TORVANE_HAVE_SOUND
    if (ok && sound_) ok = sound_->resume() == 0;
#endif
    if (ok) {
        state_ = kStateRecording;
        return true;
    }
    stop();
    lastError_ = withReason("Could not resume video capture", why);
    return false;
}


void CCaptureSession::collectLosses(const std::string& soundLoss, bool fileCompleted) {
    std::string report;
    auto add = [&report](const std::string& line) {
        if (!line.empty()) report += (report.empty() ? "" : "\n") + line;
    };
    const CaptureCounters& c = worker_->counters();
    lastStatistics_ = statistics();
    // A write that failed after the capture thread's last look (while stopping) ends it just the same.
    StopFault fault = c.fault();
    std::string detail = c.faultText();
    if (fault == StopFault::None && file_->writeFailed()) {
        fault = StopFault::FileWrite;
        detail = file_->firstWriteError();
    }
    const int64_t positions = c.lastPosition.load() + 1;
    const uint64_t heldMs = positions > 0 ? uint64_t(positions) * 1000u / uint64_t(effectiveFrameRate(screen_)) : 0;
    stopReason_ = describeStop(fault, fault == StopFault::FileWrite ? file_->firstWriteErrno() : 0, detail, heldMs);
    add(stopReason_);
    // The failed write itself is told by the stop reason already.
    if (fault != StopFault::FileWrite) {
        if (const uint64_t n = c.writeFailures.load())
            add(std::to_string(n) + " video picture(s) could not be written to the file.");
    }
    add(soundLoss);
    add(worker_->webcamLoss());
    if (fault != StopFault::FileWrite && (file_->writeFailed() || !fileCompleted))
        add("Writing the file failed: " + file_->lastError());
    // Late positions repeat the picture before them: the time line is whole, nothing is missing,
    // so they are told but do not make the recording count as one that lost data.
    lostData_ = !report.empty();
    if (const uint64_t n = c.skipped.load())
        add(std::to_string(n) + " video position(s) came too late and repeat the picture before them.");
    // Keeping pace costs detail, not pictures.
    if (const uint64_t n = c.fasterSteps.load())
        add("To keep pace, the video encoder went to faster, less thorough settings " + std::to_string(n) +
            " time(s); " + std::to_string(c.fasterPictures.load()) + " picture(s) were encoded so.");
    // A sound clock that was off is told too; its sound was corrected, nothing is missing.
    add(soundClocks_);
    // So is a pointer the desktop would not give as asked: the recording is whole, only plainer.
    pointerNotice_ = worker_->pointerNotice();
    add(pointerNotice_);
    lossReport_ = report;
}

bool CCaptureSession::stop() {
    if (state_ != kStateRecording && state_ != kStatePaused) {
        lastError_ = "Capture is not paused or not stopped";
        return false;
    }
#ifdef TORVANE_HAVE_SOUND
    // Finishing the video may take longer than the sound waits before it is written.
    if (sound_) sound_->holdFrom(std::chrono::steady_clock::now());
#endif
    worker_->fullStop();
    // The video holds whole frame periods: the sound ends where its last one does.
    int64_t videoEnd = -1;
#ifdef TORVANE_HAVE_SOUND
    if (sound_ && videoStream_ && worker_->frameRate() > 0 && videoStream_->length() > 0)
        videoEnd = videoStream_->length() * int64_t(sound_->recordingFormat().samplesPerSec) / worker_->frameRate();
#endif
    if (videoStream_) file_->releaseTrack(videoStream_);
    videoStream_ = nullptr;
    std::string soundLoss;
#ifdef TORVANE_HAVE_SOUND
    if (sound_) {
        sound_->stopSources(std::chrono::steady_clock::now(), videoEnd);
        soundLoss = sound_->lossReport();
        soundClocks_ = sound_->clockReport();
    }
#endif
    sound_.reset();
    if (audioStream_) file_->releaseTrack(audioStream_);
    audioStream_ = nullptr;
    const bool completed = file_->finish();
    collectLosses(soundLoss, completed);
    file_.reset();
    worker_.reset();
    state_ = kStateIdle;
    return true;
}

void CCaptureSession::togglePip() {
    if (state_ != kStateRecording && state_ != kStatePaused) return;
    if (pip_.width == 0 || pip_.height == 0) return;
    pip_.on = pip_.on ? 0 : 1;
    if (worker_) worker_->togglePip(pip_.on != 0);
}

uint32_t CCaptureSession::recordedMilliseconds() const {
    if (!worker_) return 0;
    if (state_ == kStateRecording) return tickMilliseconds() + worker_->recordedBefore() - worker_->segmentStart();
    if (state_ == kStatePaused) return worker_->recordedBefore();
    return 0;
}

CaptureStatistics CCaptureSession::statistics() const {
    if (!worker_) return lastStatistics_;
    const CaptureCounters& c = worker_->counters();
    CaptureStatistics s;
    s.framesWritten = c.written.load();
    s.framesSkipped = c.skipped.load();
    s.framesUnchanged = c.unchanged.load();
    s.framesRepeated = c.repeated.load();
    s.framesDuplicate = c.duplicates.load();
    s.framesFaster = c.fasterPictures.load();
    s.fasterSteps = c.fasterSteps.load();
    s.changesUs = c.changesUs.load();
    s.grabUs = c.grabUs.load();
    s.cursorUs = c.cursorUs.load();
    s.watermarkUs = c.watermarkUs.load();
    s.scaleUs = c.scaleUs.load();
    s.convertUs = c.convertUs.load();
    s.encodeUs = c.encodeUs.load();
    s.writeUs = c.writeUs.load();
    return s;
}

}  // namespace torvane
