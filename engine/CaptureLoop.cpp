#include <libyuv/convert.h>
#include <pthread.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <deque>
#include <vector>

#include "engine/CaptureRun.h"
#include "engine/CursorOverlay.h"
#include "engine/FrameClock.h"
#include "engine/H264Encoder.h"
#include "engine/PaceControl.h"
#include "engine/PatchedConversion.h"
#include "engine/PictureChanges.h"
#include "engine/Watermark.h"
#include "webcam/BaseCapture.h"
#include "platform/media/MediaWriter.h"
#include "platform/core/Clock.h"
#include "platform/core/WindowMessage.h"
#include "platform/screen/ScreenSource.h"

namespace torvane {

namespace {

// CPU time of this thread, so stage figures are not inflated when the machine is busy.
uint64_t threadCpuMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

struct StageTimer {
    explicit StageTimer(std::atomic<uint64_t>& sink) : sink_(sink), start_(threadCpuMicroseconds()) {}
    ~StageTimer() { sink_.fetch_add(threadCpuMicroseconds() - start_, std::memory_order_relaxed); }
    std::atomic<uint64_t>& sink_;
    uint64_t start_;
};

// Above normal, as far as the process may raise it; recording goes on at normal priority otherwise.
void raiseThreadPriority() {
    const pid_t tid = pid_t(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, id_t(tid), -5) != 0) setpriority(PRIO_PROCESS, id_t(tid), 0);
}

// Buffers made once per run.
struct TurnBuffers {
    QImage webcamPicture;   // webcam frames, converted to 32-bit
    QImage scaled;          // the picture at output size when the capture size differs
    QImage part;            // a part of the picture drawn on, when the picture itself is only read
    std::vector<uint8_t> yuv;
    std::vector<QRect> changed;       // the macroblocks that differ from the last picture written
    std::vector<uint8_t> unchanged;   // one byte a macroblock: 1 where it is as in that picture
};

// The one place the screen is grabbed.
bool grabScreen(CaptureRun& run) {
    return run.screen->grab(run.settings.screen.rect.left, run.settings.screen.rect.top);
}

// Live-session window: follow its top-left corner; false once it is gone.
bool followLiveWindow(CaptureRun& run) {
    const uint32_t window = uint32_t(run.settings.screen.liveWindow);
    ScreenRect r;
    if (!run.screen->windowRect(window, r)) return false;
    ScreenRect& c = run.settings.screen.rect;
    const int32_t w = c.width(), h = c.height();
    c = {r.left, r.top, r.left + w, r.top + h};
    return true;
}

// Grabs the screen where the turn looked. The followed window may move between that look and the
// grab, and the picture is then of the place it left, with whatever lies behind the window: it is
// grabbed again where the window is now (a few times at most, for a window being dragged), and
// `in` is told the place. False when the screen cannot be read.
bool grabFollowing(CaptureRun& run, PictureInputs& in) {
    if (!grabScreen(run)) return false;
    if (run.settings.screen.sourceKind != kSourceLiveSession) return true;
    for (int tries = 0; tries < 3; ++tries) {
        const ScreenRect grabbedAt = run.settings.screen.rect;
        // A window gone ends the recording at the next turn.
        if (!followLiveWindow(run) || run.settings.screen.rect == grabbedAt) return true;
        in.rect = run.settings.screen.rect;
        if (!grabScreen(run)) return false;
    }
    return true;
}

// Takes the picture of this turn. Null when there is none (webcam without a frame yet, or a screen
// that cannot be read any more).
QImage* takePicture(CaptureRun& run, TurnBuffers& b, PictureInputs& in) {
    if (run.settings.screen.sourceKind == kSourceWebcam) {
        std::unique_ptr<WebcamFrame> frame = run.webcam ? run.webcam->latestFrame() : nullptr;
        if (!frame || frame->width <= 0 || frame->height <= 0 ||
            frame->data.size() < size_t(frame->width) * size_t(frame->height) * 3)
            return nullptr;
        if (b.webcamPicture.width() != frame->width || b.webcamPicture.height() != frame->height)
            b.webcamPicture = QImage(frame->width, frame->height, QImage::Format_RGB32);
        // Bottom-up rows: a negative height flips them.
        libyuv::RGB24ToARGB(frame->data.data(), frame->width * 3, b.webcamPicture.bits(),
                            int(b.webcamPicture.bytesPerLine()), frame->width, -frame->height);
        return &b.webcamPicture;
    }
    if (!grabFollowing(run, in)) return nullptr;
    return &run.screen->picture();
}

// What the screen picture of this turn would be made of, asked of the source without grabbing.
PictureInputs screenInputs(CaptureRun& run) {
    PictureInputs in;
    const ScreenRect& r = run.settings.screen.rect;
    in.rect = r;
    in.screenChanged = run.screen->changedSince(r.left, r.top);
    in.pointerDrawn = run.settings.cursor.captureCursor != 0;
    if (in.pointerDrawn) {
        int px = 0, py = 0;
        const ScreenRect desktop = run.screen->desktopRect();
        in.pointerKnown = run.screen->pointer(px, py) && px >= desktop.left && px < desktop.right &&
                          py >= desktop.top && py < desktop.bottom;
        in.pointerX = px;
        in.pointerY = py;
        in.shapeSerial = run.screen->cursorShapeSerial();
    }
    return in;
}

// Whether this turn draws anything on the screen's picture (the pointer, the watermark).
bool drawsOnPicture(const CaptureRun& run, const PictureInputs& in) {
    return (in.pointerDrawn && in.pointerKnown) || (run.settings.watermark.on && run.watermark);
}

// `picture` stretched to the output size where it differs, into the encoder's planes.
void convertForEncoder(const QImage& picture, TurnBuffers& b, const I420Planes& out, CaptureCounters& counters) {
    const int W = out.width, H = out.height;
    const QImage* from = &picture;
    if (picture.width() != W || picture.height() != H) {
        StageTimer t(counters.scaleUs);
        if (b.scaled.width() != W || b.scaled.height() != H || b.scaled.format() != picture.format())
            b.scaled = QImage(W, H, picture.format());
        // The whole capture is stretched to the output size, bilinear, aspect not kept; the
        // scaler keeps the byte order.
        libyuv::ARGBScale(picture.constBits(), int(picture.bytesPerLine()), picture.width(), picture.height(),
                          b.scaled.bits(), int(b.scaled.bytesPerLine()), W, H, libyuv::kFilterBilinear);
        from = &b.scaled;
    }
    StageTimer t(counters.convertUs);
    if (!convertToI420(*from, out)) convertToI420(from->convertToFormat(QImage::Format_RGB32), out);
}

// The parts of this turn's screen picture of `size` that the pointer and the watermark draw on.
std::vector<QRect> drawnParts(CaptureRun& run, const PictureInputs& in, const QSize& size) {
    std::vector<QRect> drawn;
    if (in.pointerDrawn && in.pointerKnown) {
        const ScreenRect f = cursorFootprint(run.settings.cursor, in.pointerX - in.rect.left, in.pointerY - in.rect.top);
        drawn.emplace_back(int(f.left), int(f.top), int(f.width()), int(f.height()));
    }
    if (run.settings.watermark.on && run.watermark) drawn.push_back(run.watermark->footprint(size));
    return blockParts(drawn, size);
}

// Runs `convert`, handing it the drawing of this turn (the pointer, the watermark) to apply to the
// parts of a picture of `size` it is given; the drawing's CPU time counts to its own stages, the
// rest to the conversion. What `convert` returns.
template <typename Convert>
bool convertWithDrawingOn(CaptureRun& run, const PictureInputs& in, const QSize& size, CaptureCounters& counters,
                          Convert convert) {
    const uint64_t start = threadCpuMicroseconds();
    const uint64_t drawnBefore = counters.cursorUs.load() + counters.watermarkUs.load();
    const bool ok = convert(DrawOnPart([&](QImage& part, QPoint origin) {
        if (in.pointerDrawn && in.pointerKnown) {
            StageTimer t(counters.cursorUs);
            drawCursor(part, run.settings.cursor, in.pointerX - in.rect.left - origin.x(),
                       in.pointerY - in.rect.top - origin.y());
        }
        if (run.settings.watermark.on && run.watermark) {
            StageTimer t(counters.watermarkUs);
            run.watermark->drawPart(part, origin, size);
        }
    }));
    const uint64_t drawing = counters.cursorUs.load() + counters.watermarkUs.load() - drawnBefore;
    counters.convertUs.fetch_add(threadCpuMicroseconds() - start - drawing, std::memory_order_relaxed);
    return ok;
}

// The screen's picture, only read, with the pointer and the watermark of this turn drawn over the
// parts they cover, into the encoder's planes (of the picture's size).
void convertWithDrawing(CaptureRun& run, const PictureInputs& in, const QImage& picture, TurnBuffers& b,
                        const I420Planes& out, CaptureCounters& counters) {
    const bool ok = convertWithDrawingOn(run, in, picture.size(), counters, [&](const DrawOnPart& draw) {
        return convertDrawnOver(picture, drawnParts(run, in, picture.size()), draw, b.part, out);
    });
    if (ok) return;
    // A picture in an order the converter does not know: drawn on a copy of the whole.
    QImage copy = picture.convertToFormat(QImage::Format_RGB32);
    if (in.pointerDrawn && in.pointerKnown)
        drawCursor(copy, run.settings.cursor, in.pointerX - in.rect.left, in.pointerY - in.rect.top);
    if (run.settings.watermark.on && run.watermark) run.watermark->draw(copy);
    convertForEncoder(copy, b, out, counters);
}

// The macroblocks of this turn's picture (of `size`, unstretched) that may differ from the last one
// written, into `parts`: what the source saw drawn since, and the pointer's old and new places.
// False when that cannot be told; then everything may differ.
bool changedMacroblocks(CaptureRun& run, const PictureInputs& in, const PictureChanges& changes, const QSize& size,
                        std::vector<QRect>& parts) {
    const PictureInputs* last = changes.lastWritten();
    std::vector<ScreenRect> drawnOnScreen;
    if (!last || !(last->rect == in.rect) || !run.screen->changedParts(drawnOnScreen)) return false;
    std::vector<QRect> changed;
    changed.reserve(drawnOnScreen.size() + 2);
    for (const ScreenRect& r : drawnOnScreen)
        changed.emplace_back(int(r.left - in.rect.left), int(r.top - in.rect.top), int(r.width()), int(r.height()));
    for (const PictureInputs* p : {last, &in}) {
        if (!p->pointerDrawn || !p->pointerKnown) continue;
        const ScreenRect f = cursorFootprint(run.settings.cursor, p->pointerX - p->rect.left, p->pointerY - p->rect.top);
        changed.emplace_back(int(f.left), int(f.top), int(f.width()), int(f.height()));
    }
    parts = macroblockParts(changed, size);
    return true;
}

// Only the changed macroblocks of the screen's picture, with the pointer and the watermark drawn
// over what they cover, into the encoder's planes, which hold the last picture written.
bool convertChanged(CaptureRun& run, const PictureInputs& in, const QImage& picture, TurnBuffers& b,
                    const I420Planes& out, CaptureCounters& counters) {
    const std::vector<QRect> drawn =
        drawsOnPicture(run, in) ? drawnParts(run, in, picture.size()) : std::vector<QRect>{};
    return convertWithDrawingOn(run, in, picture.size(), counters, [&](const DrawOnPart& draw) {
        return convertChangedDrawnOver(picture, b.changed, drawn, draw, b.part, out);
    });
}

void drawPointer(CaptureRun& run, const PictureInputs& in, QImage& picture) {
    if (!in.pointerKnown) return;
    drawCursor(picture, run.settings.cursor, in.pointerX - in.rect.left, in.pointerY - in.rect.top);
}

// Positions between the last decided one and this turn's that no turn reached: the loop fell
// behind. How many.
uint64_t countLate(CaptureCounters& counters, int64_t position, int64_t lastTurn) {
    if (lastTurn < 0 || position <= lastTurn + 1) return 0;
    const uint64_t late = uint64_t(position - lastTurn - 1);
    counters.skipped.fetch_add(late);
    return late;
}

// Tells the pace control how this turn went and gives the encoder the speed it asks for.
void keepPace(CaptureRun& run, PaceControl& pace, int64_t position, uint64_t late,
              std::chrono::steady_clock::time_point turnStart, CaptureCounters& counters) {
    const auto busy = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - turnStart);
    const int wanted = pace.turn(position, late, uint64_t(std::max<int64_t>(0, busy.count())));
    if (!run.encoder || wanted == run.encoder->speed()) return;
    const bool faster = wanted > run.encoder->speed();
    if (run.encoder->setSpeed(wanted) && faster) counters.fasterSteps.fetch_add(1);
}

// Waits until recorded time `targetMs`, or until asked to stop; false when asked to stop.
bool waitUntil(CaptureRun& run, uint64_t targetMs) {
    for (;;) {
        if (!run.running.load()) return false;
        const uint64_t now = recordedAt(run.recordedBefore, run.segmentStart, tickMilliseconds());
        if (now >= targetMs) return true;
        if (run.stopEvent.wait(std::chrono::milliseconds(targetMs - now)) && !run.running.load()) return false;
    }
}

// Ends the recording for a fault: the reason for the session, the stop request for the UI thread.
void stopForFault(CaptureRun& run, StopFault kind, const std::string& why) {
    run.counters->setFault(kind, why);
    postWindowMessage(run.notify, WM_RECORDER_STOP, kStopForFault);
}

// An empty entry at `position`: players that read the index keep showing the picture before it.
void writeEmptyEntry(CaptureRun& run, int64_t position, CaptureCounters& counters) {
    if (run.stream->writeEmpty(position))
        counters.unchanged.fetch_add(1);
    else
        counters.writeFailures.fetch_add(1);
}

// The last picture again at `position`, every macroblock unchanged: a few dozen bytes and no
// analysis, but a real picture to readers that skip empty entries. The planes still hold the last
// picture encoded. False when it could not be encoded or written.
bool writeRepeatPicture(CaptureRun& run, const I420Planes& planes, int64_t position, CaptureCounters& counters) {
    EncodedPicture encoded;
    bool ok;
    {
        StageTimer t(counters.encodeUs);
        ok = run.encoder->encodeRepeat(planes.y, planes.u, planes.v, position, encoded);
    }
    if (!ok) {
        counters.encodeFailures.fetch_add(1);
        return false;
    }
    StageTimer t(counters.writeUs);
    if (!run.stream->write(encoded.pts, 1, encoded.data, encoded.size, encoded.keyframe)) {
        counters.writeFailures.fetch_add(1);
        return false;
    }
    counters.lastPosition.store(encoded.pts);
    counters.written.fetch_add(1);
    counters.repeated.fetch_add(1);
    return true;
}

}  // namespace

void runCaptureLoop(std::shared_ptr<CaptureRun> runPtr) {
    if (!runPtr) return;
    CaptureRun& run = *runPtr;
    pthread_setname_np(pthread_self(), "torvane-capture");
    raiseThreadPriority();
    CaptureCounters& counters = *run.counters;
    const int fps = run.frameRate;
    const int W = run.outWidth, H = run.outHeight;
    TurnBuffers b;
    b.yuv.resize(size_t(W) * size_t(H) * 3 / 2);
    uint8_t* const yPlane = b.yuv.data();
    uint8_t* const uPlane = yPlane + size_t(W) * H;
    uint8_t* const vPlane = uPlane + size_t(W / 2) * (H / 2);
    const I420Planes planes{W, H, yPlane, uPlane, vPlane};
    // A capture of the output size is converted unstretched: the pointer and the watermark are
    // then drawn over the converted picture, so the screen's picture is only ever read.
    const bool unstretched = run.settings.screen.rect.width() == W && run.settings.screen.rect.height() == H;
    bool firstPicture = true;
    const bool liveWindow = run.settings.screen.sourceKind == kSourceLiveSession;
    const bool webcamOnly = run.settings.screen.sourceKind == kSourceWebcam;

    // Screen pictures are taken only when something on them changed since the last one written.
    PictureChanges changes(run.settings.cursor);
    // Readers that skip empty entries must still see the whole time line, and they judge the rate
    // and the last picture's length from the pictures around it: a still stretch gets a repeat
    // picture at the run's second and third positions, once a second (as often as the file asks),
    // and at the run's last three positions. Readers guess the rate from the pictures after the
    // first: two in a row there keep repeats at an even spacing from passing for half the rate.
    // So the latest unchanged positions are held back until the next turns show whether the run
    // goes on; held positions are written, in order, before anything after them.
    struct Held {
        int64_t position;
        bool repeat;   // a repeat picture is due there; else an empty entry
    };
    std::deque<Held> held;
    constexpr size_t kRepeatedAtEnd = 3;
    const int64_t repeatEvery = run.file ? run.file->stillRepeatInterval(fps) : fps;
    int64_t lastPicture = -1;   // of this run, encoded or due as a repeat
    int64_t runStart = -1;      // the position of the run's first picture
    // Writes the held positions but the newest `keep`; false when the file cannot be written.
    auto release = [&](size_t keep) {
        while (held.size() > keep) {
            const Held h = held.front();
            held.pop_front();
            if (!h.repeat || firstPicture) {
                writeEmptyEntry(run, h.position, counters);
            } else if (!writeRepeatPicture(run, planes, h.position, counters)) {
                // Nothing the next picture may refer to: it starts afresh.
                firstPicture = true;
                if (run.file->writeFailed()) return false;
            }
        }
        return true;
    };

    // Late positions make the encoder's analysis cheaper until it keeps pace again.
    PaceControl pace(fps, CH264Encoder::kFastestSpeed);

    while (run.running.load()) {
        const auto turnStart = std::chrono::steady_clock::now();
        const uint32_t t0 = tickMilliseconds();
        if (run.stopEvent.wait(std::chrono::milliseconds(0)) && !run.running.load()) break;
        // Either stream's write may have failed (the sound threads write too): a full disk or an
        // I/O error ends the recording at once, so the file keeps everything complete until then.
        if (run.file && run.file->writeFailed()) {
            stopForFault(run, StopFault::FileWrite, run.file->lastError());
            break;
        }
        const int64_t position = framePosition(recordedAt(run.recordedBefore, run.segmentStart, t0), fps);
        const int64_t last = counters.lastTurn.load();
        if (position <= last) {
            // That position is decided already; a second picture there would corrupt the stream.
            counters.duplicates.fetch_add(1);
            if (!waitUntil(run, positionStartMs(last + 1, fps))) break;
            continue;
        }

        if (liveWindow && !followLiveWindow(run)) {
            postWindowMessage(run.notify, WM_RECORDER_STOP);
            break;
        }

        PictureInputs inputs;
        if (!webcamOnly) {
            StageTimer t(counters.changesUs);
            inputs = screenInputs(run);
            if (firstPicture) changes.forget();
            if (!changes.changed(inputs)) {
                const uint64_t late = countLate(counters, position, last);
                counters.lastTurn.store(position);
                const bool repeat = !firstPicture && (position - lastPicture >= repeatEvery || (position > runStart && position <= runStart + 2));
                if (repeat) lastPicture = position;
                held.push_back({position, repeat});
                if (!release(kRepeatedAtEnd)) {
                    stopForFault(run, StopFault::FileWrite, run.file->lastError());
                    break;
                }
                keepPace(run, pace, position, late, turnStart, counters);
                if (!waitUntil(run, positionStartMs(position + 1, fps))) break;
                continue;
            }
        }

        // The held positions come before this picture, and their repeats need the planes as they are.
        if (!release(0)) {
            stopForFault(run, StopFault::FileWrite, run.file->lastError());
            break;
        }
        const bool draws = !webcamOnly && drawsOnPicture(run, inputs);
        bool partial = false;   // the picture differs from the last one only in b.changed
        if (!webcamOnly && (!draws || unstretched)) {
            // The picture is read where the source keeps it, uncopied; what is drawn on it is drawn
            // over the converted picture.
            bool grabbed;
            {
                StageTimer t(counters.grabUs);
                grabbed = grabFollowing(run, inputs);
            }
            if (!grabbed) {
                stopForFault(run, StopFault::ScreenLost, run.screen->lastError());
                break;
            }
            // Where the source tells what changed, only that is converted and the encoder skips the rest.
            partial = !firstPicture && unstretched && changedMacroblocks(run, inputs, changes, QSize(W, H), b.changed);
            run.screen->readPicture([&](const QImage& p) {
                if (partial && convertChanged(run, inputs, p, b, planes, counters)) return;
                partial = false;
                if (draws)
                    convertWithDrawing(run, inputs, p, b, planes, counters);
                else
                    convertForEncoder(p, b, planes, counters);
            });
            if (partial) unchangedMacroblocks(b.changed, QSize(W, H), b.unchanged);
        } else {
            QImage* picture = nullptr;
            {
                StageTimer t(counters.grabUs);
                picture = takePicture(run, b, inputs);
            }
            if (!picture && !webcamOnly) {
                stopForFault(run, StopFault::ScreenLost, run.screen->lastError());
                break;
            }
            if (!picture) {
                // No webcam picture yet: poll again shortly, without taking a position.
                if (run.stopEvent.wait(std::chrono::milliseconds(2)) && !run.running.load()) break;
                continue;
            }
            if (inputs.pointerDrawn) {
                StageTimer t(counters.cursorUs);
                drawPointer(run, inputs, *picture);
            }
            if (run.settings.watermark.on && run.watermark) {
                StageTimer t(counters.watermarkUs);
                run.watermark->draw(*picture);
            }
            convertForEncoder(*picture, b, planes, counters);
        }
        EncodedPicture encoded;
        bool ok;
        {
            StageTimer t(counters.encodeUs);
            ok = run.encoder->encode(yPlane, uPlane, vPlane, position, firstPicture, encoded,
                                     partial ? b.unchanged.data() : nullptr);
        }
        firstPicture = false;
        const uint64_t late = countLate(counters, position, last);
        counters.lastTurn.store(position);
        if (!ok) {
            counters.encodeFailures.fetch_add(1);
            firstPicture = true;
        } else {
            StageTimer t(counters.writeUs);
            if (run.stream->write(encoded.pts, 1, encoded.data, encoded.size, encoded.keyframe)) {
                counters.lastPosition.store(encoded.pts);
                counters.written.fetch_add(1);
                if (run.encoder->speed() > 0) counters.fasterPictures.fetch_add(1);
                if (runStart < 0) runStart = encoded.pts;
                lastPicture = encoded.pts;
                changes.written(inputs);
            } else {
                counters.writeFailures.fetch_add(1);
                if (run.file->writeFailed()) {
                    stopForFault(run, StopFault::FileWrite, run.file->lastError());
                    break;
                }
                // A refused picture: the pictures after it would refer to it, so start afresh with an IDR.
                firstPicture = true;
            }
        }
        keepPace(run, pace, position, late, turnStart, counters);
        // Sleep out the frame period: until the first millisecond of the next position.
        if (!waitUntil(run, positionStartMs(position + 1, fps))) break;
    }
    // The run ends on pictures, so every reader's video lasts as long as the run.
    if (!(run.file && run.file->writeFailed())) {
        for (Held& h : held) h.repeat = true;
        release(0);
    }
    run.finished.store(true);
}

}  // namespace torvane
