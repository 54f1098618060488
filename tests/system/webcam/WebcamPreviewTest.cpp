// The webcam's window in the running recorder, on cameras of this process: the picture-in-picture
// toggle and Pause hide and show the same window while the camera keeps running, and the window
// thread keeps handling input while a webcam is slow to start.

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "TestCameraProvider.h"
#include "engine/CaptureSession.h"
#include "engine/ScreenCaptureWorker.h"
#include "webcam/CameraStart.h"
#include "webcam/PreviewDlg.h"
#include "webcam/VideoInputDevice.h"

extern char** environ;

using namespace torvane;

namespace {

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

uint64_t newestSequence(CVideoInputDevice& device) {
    camera::CameraPicture p;
    device.copyNewest(p);
    return p.sequence;
}

WebcamSettings webcam(const char* name, int w, int h) {
    WebcamSettings s;
    toUtf16Field(name, s.deviceName, std::size(s.deviceName));
    s.width = uint16_t(w);
    s.height = uint16_t(h);
    return s;
}

void configure(CCaptureSession& session, int sourceKind, const char* camera, bool pip) {
    ScreenSettings screen;
    screen.sourceKind = sourceKind;
    screen.rect = sourceKind == kSourceWebcam ? ScreenRect{0, 0, 320, 240} : ScreenRect{0, 0, 640, 480};
    screen.outputWidth = screen.rect.width();
    screen.outputHeight = screen.rect.height();
    screen.frameRate = 10;
    ASSERT_TRUE(session.setScreenSettings(screen)) << session.lastError();
    ASSERT_TRUE(session.setSoundEnabled(0));
    ASSERT_TRUE(session.setWebcamSettings(webcam(camera, 320, 240)));
    PipSettings p;
    p.on = pip ? 1 : 0;
    p.width = 320;
    p.height = 240;
    p.marginX = p.marginY = 10;
    ASSERT_TRUE(session.setPipSettings(p));
}

class WebcamPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialogtest::registerTestCameraProvider());
        const char* caps = "video/x-raw,format=BGR,width=320,height=240,framerate=24/1";
        dialogtest::testCameras() = {{"Red Camera", caps, "", "videotestsrc is-live=true pattern=red"},
                                     {"Silent Camera", caps, "", "appsrc is-live=true"}};
    }
    void TearDown() override {
        dialogtest::testCameras().clear();
        waitForCameraReleases();
    }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(WebcamPreviewTest, TheToggleAndPauseHideAndShowTheSameWindowWhileTheCameraRuns) {
    CCaptureSession session;
    configure(session, kSourceFullScreen, "Red Camera", true);
    ASSERT_TRUE(session.start(dir.filePath("pip.avi").toStdString(), nullptr)) << session.lastError();
    ASSERT_NE(session.worker(), nullptr);
    CPreviewDlg* window = session.worker()->previewWindow();
    ASSERT_NE(window, nullptr);
    auto device = session.worker()->webcamDevice();
    ASSERT_NE(device, nullptr);
    settle(300);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->overlay());

    session.togglePip();   // what the shortcut runs
    settle(100);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(session.worker()->previewWindow(), window);
    EXPECT_EQ(session.worker()->webcamDevice(), device);
    const uint64_t before = newestSequence(*device);
    settle(600);   // 24 pictures a second: a dozen or so, at least one even on a loaded machine
    EXPECT_GT(newestSequence(*device), before);

    session.togglePip();
    settle(100);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(session.worker()->previewWindow(), window);

    ASSERT_TRUE(session.pause()) << session.lastError();
    settle(100);
    EXPECT_FALSE(window->isVisible());
    const uint64_t paused = newestSequence(*device);
    settle(600);
    EXPECT_GT(newestSequence(*device), paused);
    ASSERT_TRUE(session.resume()) << session.lastError();
    settle(100);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(session.worker()->previewWindow(), window);
    EXPECT_TRUE(session.stop());
}

namespace {
class ClickCounter : public QRasterWindow {
public:
    QElapsedTimer* clock = nullptr;
    qint64 firstPressAt = -1;
protected:
    void mousePressEvent(QMouseEvent*) override {
        if (firstPressAt < 0) firstPressAt = clock->elapsed();
    }
};
}  // namespace

TEST_F(WebcamPreviewTest, TheWindowThreadHandlesInputWhileAWebcamIsSlowToStart) {
    QElapsedTimer clock;
    clock.start();
    ClickCounter target;
    target.clock = &clock;
    target.setFlags(Qt::Window | Qt::FramelessWindowHint);
    target.setGeometry(700, 100, 200, 200);
    target.show();
    for (int i = 0; i < 200 && !target.isExposed(); ++i) settle(10);
    ASSERT_TRUE(target.isExposed());

    CCaptureSession session;
    configure(session, kSourceWebcam, "Silent Camera", false);
    // A click on the window and a second Start, both while the webcam is still starting.
    std::string secondStart;
    pid_t clicker = 0;
    QTimer::singleShot(400, [&] {
        char program[] = "xdotool", move[] = "mousemove", x[] = "800", y[] = "200", click[] = "click", one[] = "1";
        char* argv[] = {program, move, x, y, click, one, nullptr};
        posix_spawnp(&clicker, program, nullptr, nullptr, argv, environ);
        if (!session.start(dir.filePath("again.avi").toStdString(), nullptr)) secondStart = session.lastError();
    });
    const bool started = session.start(dir.filePath("silent.avi").toStdString(), nullptr);
    const qint64 returnedAt = clock.elapsed();
    if (clicker > 0) waitpid(clicker, nullptr, 0);
    EXPECT_FALSE(started);
    EXPECT_NE(session.lastError().find("The webcam \"Silent Camera\" cannot be used: it delivered no picture within 3 seconds."),
              std::string::npos)
        << session.lastError();
    EXPECT_EQ(secondStart, "A recording is already starting.");
    ASSERT_GE(target.firstPressAt, 0) << "the click never arrived";
    EXPECT_LT(target.firstPressAt, returnedAt) << "the click waited for the webcam";
    EXPECT_GE(returnedAt, 2900);
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
