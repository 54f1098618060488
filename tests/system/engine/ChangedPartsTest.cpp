// Pictures encoded from their changed macroblocks only: a screen in this process, and the test
// display, change at random places in random colours (in this process the pointer moves too) and
// tell what changed. Every picture
// both decoders show must be a picture the screen had (its pointer drawn), in order, none left out:
// a macroblock wrongly taken as unchanged shows the colour before and matches none of them.
#include <gtest/gtest.h>

#include <QPainter>

#include <atomic>
#include <cstdio>
#include <unistd.h>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "MediaProbe.h"
#include "engine/CaptureRun.h"
#include "engine/CursorOverlay.h"
#include "engine/H264Encoder.h"
#include "engine/PatchedConversion.h"
#include "engine/RecordingFile.h"
#include "platform/core/Clock.h"
#include "platform/media/MediaWriter.h"
#include "platform/screen/ScreenSource.h"
#include "platform/x11/X11ScreenSource.h"
#include "XPainter.h"

using namespace torvane;
using namespace std::chrono_literals;

namespace {

constexpr int kW = 320, kH = 240;

// A screen that a test thread paints on; each grab is kept with the pointer told for it.
class PaintedScreen final : public IScreenSource {
public:
    struct Grabbed {
        QImage picture;
        QPoint pointer;
    };

    PaintedScreen() : live_(kW, kH, QImage::Format_RGB32) { live_.fill(Qt::black); }

    void paint(const QRect& r, QColor c) {
        std::lock_guard lock(m_);
        QPainter(&live_).fillRect(r, c);
        const QRect clipped = r.intersected(live_.rect());
        if (!clipped.isEmpty())
            pending_.push_back({clipped.left(), clipped.top(), clipped.right() + 1, clipped.bottom() + 1});
    }
    void movePointer(QPoint p) {
        std::lock_guard lock(m_);
        pointer_ = p;
    }
    std::vector<Grabbed> grabs() {
        std::lock_guard lock(m_);
        return grabs_;
    }

    bool grab(int, int) override {
        std::lock_guard lock(m_);
        picture_ = live_.copy();
        parts_.swap(pending_);
        pending_.clear();
        partsKnown_ = !grabs_.empty();
        grabs_.push_back({picture_, told_});
        return true;
    }
    QImage& picture() override { return picture_; }
    bool changedSince(int, int) override {
        std::lock_guard lock(m_);
        return !pending_.empty() || grabs_.empty();
    }
    bool changedParts(std::vector<ScreenRect>& parts) override {
        std::lock_guard lock(m_);
        if (!partsKnown_) return false;
        parts = parts_;
        return true;
    }
    bool pointer(int& x, int& y) override {
        std::lock_guard lock(m_);
        told_ = pointer_;
        x = pointer_.x();
        y = pointer_.y();
        return true;
    }
    ScreenRect desktopRect() const override { return {0, 0, kW, kH}; }
    const std::string& lastError() const override { return error_; }

private:
    std::mutex m_;
    QImage live_, picture_;
    std::vector<ScreenRect> pending_, parts_;
    bool partsKnown_ = false;
    QPoint pointer_{40, 40}, told_{40, 40};
    std::vector<Grabbed> grabs_;
    std::string error_;
};

// A desktop with one window (red, a green mark at its top-left) that moves right after every third
// time it is asked where it is: between the engine's look and its grab, as a window being dragged.
class MovingWindowDesktop final : public IScreenSource {
public:
    static constexpr uint32_t kWindow = 7;
    static constexpr int kDeskW = 3 * kW, kDeskH = 3 * kH;

    // The window drawn with its top-left corner at `at`.
    static void paintWindow(QPainter& p, QPoint at) {
        p.fillRect(QRect(at, QSize(kW, kH)), Qt::red);
        p.fillRect(QRect(at, QSize(20, 20)), Qt::green);
    }

    bool grab(int x, int y) override {
        std::lock_guard lock(m_);
        QImage desk(kDeskW, kDeskH, QImage::Format_RGB32);
        desk.fill(QColor(40, 40, 40));
        QPainter p(&desk);
        paintWindow(p, place_);
        p.end();
        picture_ = desk.copy(x, y, kW, kH);
        moved_ = false;
        return true;
    }
    QImage& picture() override { return picture_; }
    bool changedSince(int, int) override {
        std::lock_guard lock(m_);
        return moved_ || picture_.isNull();
    }
    bool pointer(int&, int&) override { return false; }
    ScreenRect desktopRect() const override { return {0, 0, kDeskW, kDeskH}; }
    bool windowRect(uint32_t window, ScreenRect& rect) override {
        std::lock_guard lock(m_);
        if (window != kWindow) return false;
        rect = {place_.x(), place_.y(), place_.x() + kW, place_.y() + kH};
        if (++asked_ % 3 == 0) {
            place_ = QPoint(int(asked_ * 37 % (kDeskW - kW)), int(asked_ * 23 % (kDeskH - kH)));
            moved_ = true;
            ++moves_;
        }
        return true;
    }
    const std::string& lastError() const override { return error_; }
    int moves() {
        std::lock_guard lock(m_);
        return moves_;
    }

private:
    std::mutex m_;
    QPoint place_{0, 0};   // where the recording starts looking
    QImage picture_;
    bool moved_ = false;
    int asked_ = 0, moves_ = 0;
    std::string error_;
};

// The sum of the differences of all samples between two I420 pictures.
int64_t difference(const std::string& a, const std::string& b) {
    int64_t sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
    return sum;
}

// The first macroblock where decoded picture `d`, coded from `now`, is nearer to `before` than to
// `now` although the two differ there: a macroblock taken over from the picture before. -1 if none.
int staleMacroblock(const std::string& d, const std::string& now, const std::string& before) {
    const int columns = kW / 16, rows = kH / 16;
    for (int my = 0; my < rows; ++my)
        for (int mx = 0; mx < columns; ++mx) {
            int64_t toNow = 0, toBefore = 0, apart = 0;
            auto add = [&](size_t planeStart, int stride, int x0, int y0, int side) {
                for (int y = y0; y < y0 + side; ++y)
                    for (int x = x0; x < x0 + side; ++x) {
                        const size_t i = planeStart + size_t(y) * size_t(stride) + size_t(x);
                        const int v = uint8_t(d[i]), n = uint8_t(now[i]), b = uint8_t(before[i]);
                        toNow += std::abs(v - n);
                        toBefore += std::abs(v - b);
                        apart += std::abs(n - b);
                    }
            };
            add(0, kW, mx * 16, my * 16, 16);
            add(size_t(kW) * kH, kW / 2, mx * 8, my * 8, 8);
            add(size_t(kW) * kH * 5 / 4, kW / 2, mx * 8, my * 8, 8);
            if (apart > 0 && toBefore < toNow) return my * columns + mx;
        }
    return -1;
}

// The encoder's input for `picture`: its I420, as the engine converts it.
std::string i420Of(const QImage& picture) {
    std::string out(size_t(kW) * kH * 3 / 2, '\0');
    uint8_t* y = reinterpret_cast<uint8_t*>(out.data());
    convertToI420(picture, {kW, kH, y, y + kW * kH, y + kW * kH + kW * kH / 4});
    return out;
}

std::vector<std::string> cut(const std::string& raw) {
    std::vector<std::string> out;
    const size_t n = size_t(kW) * kH * 3 / 2;
    for (size_t at = 0; at + n <= raw.size(); at += n) out.push_back(raw.substr(at, n));
    return out;
}

// A recording of `screen`'s area (0, 0, kW, kH) by the capture loop alone, 15 positions a second,
// at "Highest" quality (coding errors stay well apart from a wrong colour).
struct Recording {
    std::string file;
    std::shared_ptr<media::IMediaWriter> writer;
    std::shared_ptr<CaptureRun> run;
    std::thread loop;

    // With `window` set, the recording follows that window of the screen, as for a live session.
    bool start(std::shared_ptr<IScreenSource> screen, const CursorSettings& cursor, std::string& error,
               uint32_t window = 0) {
        const char* dir = std::getenv("TORVANE_TEST_ENV");
        file = std::string(dir ? dir : "/tmp") + "/changed-parts-" + std::to_string(getpid()) + ".avi";
        writer = createRecordingFile(file, &error);
        if (!writer) return false;
        run = std::make_shared<CaptureRun>();
        run->settings.screen.sourceKind = kSourceArea;
        run->settings.screen.rect = {0, 0, kW, kH};
        run->settings.screen.frameRate = 15;
        run->settings.cursor = cursor;
        if (window) {
            run->settings.screen.sourceKind = kSourceLiveSession;
            run->settings.screen.liveWindow = int32_t(window);
        }
        run->frameRate = 15;
        run->outWidth = kW;
        run->outHeight = kH;
        run->stream = writer->addVideo({kW, kH, 15});
        run->file = writer;
        run->encoder = CH264Encoder::open({kW, kH, 15, 2}, &error);
        if (!run->stream || !run->encoder) return false;
        run->screen = std::move(screen);
        run->counters = std::make_shared<CaptureCounters>();
        run->segmentStart = tickMilliseconds();
        loop = std::thread([r = run] { runCaptureLoop(r); });
        return true;
    }
    bool stop() {
        run->running.store(false);
        run->stopEvent.set();
        loop.join();
        writer->releaseTrack(run->stream);
        return writer->finish();
    }
    ~Recording() {
        if (loop.joinable()) stop();
        if (!file.empty()) std::remove(file.c_str());
    }
};

// Every decoded picture of `file`, by ffmpeg and by GStreamer, matched in order against the
// pictures the screen had (`states`, I420): each is a state at or after the one before (a busy
// screen may go through several between two positions), and none of its macroblocks is left as in
// the state the picture before showed where the two states differ. The last one is the last state.
void expectStatesInOrder(const std::string& file, const std::vector<std::string>& states, size_t lookAhead) {
    const std::string quote = "'" + file + "'";
    const std::vector<std::pair<std::string, std::vector<std::string>>> readers = {
        {"ffmpeg", cut(runCommand("ffmpeg -nostdin -v error -i " + quote + " -vsync 0 -f rawvideo -pix_fmt yuv420p -"))},
        {"GStreamer", cut(runCommand("timeout 120 gst-launch-1.0 -q filesrc location=" + quote +
                                     " ! decodebin ! videoconvert ! video/x-raw,format=I420 ! fdsink fd=1"))}};
    for (const auto& [reader, pictures] : readers) {
        ASSERT_FALSE(pictures.empty()) << reader;
        size_t at = 0;
        for (size_t i = 0; i < pictures.size(); ++i) {
            size_t best = at;
            int64_t bestDifference = difference(pictures[i], states[at]);
            for (size_t k = at + 1; k < states.size() && k <= at + lookAhead; ++k)
                if (const int64_t d = difference(pictures[i], states[k]); d < bestDifference) {
                    best = k;
                    bestDifference = d;
                }
            if (best != at) {
                const int stale = staleMacroblock(pictures[i], states[best], states[at]);
                ASSERT_EQ(stale, -1) << reader << ": picture " << i << " (state " << best << ") keeps macroblock "
                                     << stale % (kW / 16) << "," << stale / (kW / 16) << " of state " << at;
                at = best;
            }
        }
        EXPECT_EQ(at, states.size() - 1) << reader << ": the last picture is not the screen's last";
    }
}

}  // namespace

TEST(ChangedParts, EveryPictureShownIsOneTheScreenHadInOrder) {
    auto screen = std::make_shared<PaintedScreen>();
    CursorSettings cursor;
    cursor.captureCursor = 1;
    Recording rec;
    std::string error;
    ASSERT_TRUE(rec.start(screen, cursor, error)) << error;

    // Saturated colours, each unlike the one before it at any place.
    const QColor palette[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan, Qt::white};
    std::mt19937 random(5);
    for (int i = 0; i < 60; ++i) {
        const int n = 1 + int(random() % 3);
        for (int k = 0; k < n; ++k)
            screen->paint(QRect(int(random() % kW) - 8, int(random() % kH) - 8, 4 + int(random() % 70),
                                4 + int(random() % 50)),
                          palette[(i * 3 + k) % 7]);
        if (i % 4 == 0) screen->movePointer(QPoint(int(random() % kW), int(random() % kH)));
        // Now within a position, now over several: still stretches between changes too.
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 5 == 0 ? 300 : 20 + int(random() % 60)));
    }
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(rec.stop()) << rec.writer->lastError();

    // Every grab was encoded: the pictures go through each of them, none left out.
    std::vector<std::string> expected;
    for (const PaintedScreen::Grabbed& g : screen->grabs()) {
        QImage drawn = g.picture.copy();
        drawCursor(drawn, cursor, g.pointer.x(), g.pointer.y());
        // A grab that looks as the one before (a colour painted over itself) is shown as it.
        std::string yuv = i420Of(drawn);
        if (expected.empty() || yuv != expected.back()) expected.push_back(std::move(yuv));
    }
    ASSERT_GE(expected.size(), 30u);
    expectStatesInOrder(rec.file, expected, 1);
}

// The same on the test display, whose server tells what was drawn (Damage): windows of random
// colours appear, move and change colour over a black one.
TEST(ChangedParts, OnTheXServerEveryPictureIsOneTheScreenHadInOrder) {
    XPainter x;
    ASSERT_TRUE(x.ok());
    struct Box {
        uint32_t id;
        QRect rect;
        uint32_t rgb;
    };
    std::vector<Box> boxes;
    const uint32_t bg = x.window(0, 0, kW, kH, 0x000000);
    std::string error;
    std::shared_ptr<IScreenSource> screen = x11::X11ScreenSource::open(kW, kH, &error);
    ASSERT_TRUE(screen) << error;
    CursorSettings noPointer;
    noPointer.captureCursor = 0;
    // The screen as the test made it, after each change (later windows above earlier ones).
    std::vector<std::string> states;
    auto remember = [&] {
        QImage p(kW, kH, QImage::Format_RGB32);
        p.fill(Qt::black);
        QPainter painter(&p);
        for (const Box& b : boxes) painter.fillRect(b.rect, QColor::fromRgb(b.rgb));
        painter.end();
        states.push_back(i420Of(p));
    };
    remember();
    Recording rec;
    ASSERT_TRUE(rec.start(screen, noPointer, error)) << error;

    const uint32_t palette[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    std::mt19937 random(9);
    for (int i = 0; i < 60; ++i) {
        const uint32_t rgb = palette[i % 7];
        if (boxes.size() < 8 || i % 3 == 0) {
            const QRect r(int(random() % kW) - 8, int(random() % kH) - 8, 4 + int(random() % 70), 4 + int(random() % 50));
            boxes.push_back({x.child(bg, r.x(), r.y(), r.width(), r.height(), rgb), r, rgb});
        } else if (i % 3 == 1) {
            Box& b = boxes[random() % boxes.size()];
            b.rect.moveTo(int(random() % kW) - 8, int(random() % kH) - 8);
            x.move(b.id, b.rect.x(), b.rect.y());
        } else {
            Box& b = boxes[random() % boxes.size()];
            b.rgb = b.rgb == rgb ? palette[(i + 1) % 7] : rgb;
            x.setColour(b.id, b.rgb);
        }
        remember();
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 5 == 0 ? 300 : 10 + int(random() % 60)));
    }
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(rec.stop()) << rec.writer->lastError();
    expectStatesInOrder(rec.file, states, states.size());
    x.destroy(bg);
}

// A followed window that moves between the engine's look and its grab: every picture is still the
// window, never the place it left.
TEST(ChangedParts, AFollowedWindowMovedBeforeTheGrabIsGrabbedWhereItWent) {
    auto screen = std::make_shared<MovingWindowDesktop>();
    CursorSettings noPointer;
    noPointer.captureCursor = 0;
    Recording rec;
    std::string error;
    ASSERT_TRUE(rec.start(screen, noPointer, error, MovingWindowDesktop::kWindow)) << error;
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(rec.stop()) << rec.writer->lastError();
    ASSERT_GE(screen->moves(), 5);

    const std::vector<std::string> pictures =
        cut(runCommand("ffmpeg -nostdin -v error -i '" + rec.file + "' -vsync 0 -f rawvideo -pix_fmt yuv420p -"));
    ASSERT_GE(pictures.size(), 10u);
    QImage drawn(kW, kH, QImage::Format_RGB32);
    QPainter painter(&drawn);
    MovingWindowDesktop::paintWindow(painter, {0, 0});
    painter.end();
    const std::string window = i420Of(drawn);
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_LT(difference(pictures[i], window), int64_t(kW) * kH * 3) << "picture " << i << " is not the window";
}
