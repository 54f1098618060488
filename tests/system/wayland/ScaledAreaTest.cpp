// The area selection as a native Wayland window on a scaled monitor (200 %, 150 %), driven with a
// real pointer: the desktop's units are logical, the shared stream is in the monitor's pixels. The
// marked area is stored in those pixels and records exactly what was marked, at full resolution.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "app/AreaStillPicture.h"
#include "engine/CaptureSession.h"
#include "settings/CSelectRegionDlg.h"
#include "settings/CaptureRules.h"
#include "tests/system/engine/MediaProbe.h"
#include "tests/system/engine/XPainter.h"

using namespace torvane;
using namespace std::chrono_literals;

namespace {

// The compositor's virtual pointer, one command a line, each answered once the compositor has it.
class Pointer {
public:
    bool start() {
        process_.start(QStringLiteral(VIRTUAL_POINTER), {});
        return process_.waitForStarted(5000) && answered();
    }
    ~Pointer() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000)) process_.kill();
    }
    // Logical desktop units, over the whole desktop of `desktop`'s size.
    bool move(QPoint p, QSize desktop) {
        return send(QStringLiteral("move %1 %2 %3 %4").arg(p.x()).arg(p.y()).arg(desktop.width()).arg(desktop.height()));
    }
    bool press(bool down) { return send(down ? QStringLiteral("down") : QStringLiteral("up")); }

private:
    bool send(const QString& line) {
        process_.write((line + '\n').toUtf8());
        return answered();
    }
    // Waits while the window's events keep flowing: the answer may need the window to answer first.
    bool answered() {
        QElapsedTimer t;
        t.start();
        while (!process_.canReadLine() && t.elapsed() < 5000) {
            QCoreApplication::processEvents();
            process_.waitForReadyRead(10);
        }
        return process_.canReadLine() && process_.readLine().trimmed() == "ok";
    }
    QProcess process_;
};

void pumpFor(std::chrono::milliseconds d) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
}

bool near(std::array<int, 3> got, std::array<int, 3> want) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(got[i] - want[i]) > 40) return false;
    return true;
}

std::string show(std::array<int, 3> c) {
    return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
}

}  // namespace

TEST(ScaledWaylandArea, TheMarkedAreaIsRecordedInTheMonitorsPixels) {
    ASSERT_TRUE(QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        << "not a native Wayland window: " << QGuiApplication::platformName().toStdString();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    const QRect logical = screen->geometry();
    // The monitor's own scale, as the test desktop set it up: its pixels over its logical size.
    const double scale = std::atof(qgetenv("TORVANE_TEST_SCALE").constData());
    ASSERT_GT(scale, 1.0);

    // Known content in the desktop's logical units: XWayland windows land where they say.
    XPainter x;
    ASSERT_TRUE(x.ok());
    std::vector<uint32_t> windows;
    auto paint = [&] {
        // One surface for the desktop: its windows' order cannot change between two pictures.
        const uint32_t bg = x.window(0, 0, logical.width(), logical.height(), 0x000000);
        windows = {bg, x.child(bg, 300, 200, 200, 150, 0xFF0000), x.child(bg, 500, 350, 200, 150, 0x0000FF)};
    };
    // Such windows lie above every other (even a full-screen one) and take the pointer: they go
    // while the selection is up, which shows them frozen.
    auto clear = [&] {
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) x.destroy(*it);
        windows.clear();
    };
    paint();
    pumpFor(300ms);

    Pointer pointer;
    ASSERT_TRUE(pointer.start());
    ASSERT_TRUE(pointer.move({50, 50}, logical.size()));

    takeAreaStillPictureFromScreenSource();   // as the program does: the portal's stream
    ScreenRect got;
    bool dragged = false;
    {
        // Gone once marked, as the movie properties have it.
        CSelectRegionDlg selection;
        // The frozen picture holds the whole monitor at its full resolution.
        EXPECT_EQ(selection.frozenPicture().size(),
                  QSize(qRound(logical.width() * scale), qRound(logical.height() * scale)));
        clear();
        QTimer::singleShot(0, &selection, [&] {
            QElapsedTimer t;
            t.start();
            while (!(selection.windowHandle() && selection.windowHandle()->isExposed()) && t.elapsed() < 20000) pumpFor(20ms);
            pumpFor(500ms);
            // From just outside the red window's bottom-right to just outside its top-left.
            dragged = pointer.move({510, 360}, logical.size()) && pointer.press(true) &&
                      pointer.move({400, 300}, logical.size()) && pointer.move({290, 190}, logical.size()) &&
                      pointer.press(false);
        });
        QTimer::singleShot(30000, &selection, [&] {
            ADD_FAILURE() << "the selection did not end";
            selection.reject();
        });
        ASSERT_EQ(selection.exec(), QDialog::Accepted);
        ASSERT_TRUE(dragged);
        got = selection.selectedRect();
    }
    const ScreenRect want{int(std::lround(290 * scale)), int(std::lround(190 * scale)), int(std::lround(510 * scale)),
                          int(std::lround(360 * scale))};
    EXPECT_EQ(got, want) << got.left << "," << got.top << "," << got.right << "," << got.bottom;

    // The desktop draws its pointer into the picture: out of the way.
    ASSERT_TRUE(pointer.move({50, 50}, logical.size()));
    paint();
    pumpFor(300ms);
    // Recorded as the recorder does it: the area, at its own size.
    ScreenSettings s;
    s.sourceKind = kSourceArea;
    s.rect = got;
    s.frameRate = 10;
    s.sizeChoice = 0;
    applyRectBySourceKind(s, {}, {}, {});
    applyOutputSize(s);
    const std::string file = std::string(qgetenv("TORVANE_TEST_ENV").constData()) + "/scaled-area.avi";
    CCaptureSession session;
    ASSERT_TRUE(session.setScreenSettings(s) && session.setSoundEnabled(0)) << session.lastError();
    ASSERT_TRUE(session.start(file, nullptr)) << session.lastError();
    pumpFor(1500ms);
    ASSERT_TRUE(session.stop());
    EXPECT_EQ(decodeErrors(file), "");
    const int w = s.outputWidth, h = s.outputHeight;
    EXPECT_EQ(aviFrameSize(file), (std::pair<int32_t, int32_t>{w, h}));
    // The last picture: the desktop may show the windows a moment after they are made.
    Picture p;
    p.width = w;
    p.height = h;
    const std::string raw = runCommand("ffmpeg -nostdin -v error -sseof -0.4 -i '" + file +
                                       "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    p.rgb.assign(raw.begin(), raw.end());
    ASSERT_EQ(p.rgb.size(), size_t(w) * size_t(h) * 3u);
    // The red window's corners, ten logical units in from the area's: a few pixels either side.
    const int near0 = int(std::lround(10 * scale)), farX = int(std::lround(210 * scale)),
              farY = int(std::lround(160 * scale));
    EXPECT_TRUE(near(p.at(near0 + 3, near0 + 3), {255, 0, 0})) << show(p.at(near0 + 3, near0 + 3)) << " at " << near0 + 3 << "," << near0 + 3;
    EXPECT_TRUE(near(p.at(near0 - 3, near0 - 3), {0, 0, 0})) << show(p.at(near0 - 3, near0 - 3)) << " at " << near0 - 3 << "," << near0 - 3;
    EXPECT_TRUE(near(p.at(farX - 3, farY - 3), {255, 0, 0})) << show(p.at(farX - 3, farY - 3)) << " at " << farX - 3 << "," << farY - 3;
    EXPECT_TRUE(near(p.at(farX + 3, farY + 3), {0, 0, 255})) << show(p.at(farX + 3, farY + 3)) << " at " << farX + 3 << "," << farY + 3;
    EXPECT_TRUE(near(p.at(farX + 3, near0 + 3), {0, 0, 0})) << show(p.at(farX + 3, near0 + 3)) << " at " << farX + 3 << "," << near0 + 3;

    clear();
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
