// Start on a headless Wayland desktop (with-env.sh --wayland) while the desktop's screen-sharing
// dialog is up: the desktop's chooser (tests/env/wayland-desktop.sh) is told to answer late or to
// decline. One program run: the desktop is asked until it grants once, then never again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "AppTestSupport.h"
#include "MediaProbe.h"
#include "ScreenNudge.h"
#include "app/RecorderResources.h"
#include "app/TorvaneRecorderDlg.h"
#include "engine/CaptureSession.h"
#include "platform/ui/MessageBox.h"
#include "platform/wayland/GlobalShortcutsPortal.h"
#include "settings/CSelectRegionDlg.h"

using namespace torvane;

namespace {

void tellChooser(const std::string& what) {
    std::ofstream(std::string(std::getenv("TORVANE_TEST_ENV")) + "/wayland/chooser") << what << "\n";
}

struct Window {
    test::UiRecorder ui;
    CTorvaneRecorderDlg dlg{CTorvaneRecorderDlg::Options{false}};
    std::string file;
    explicit Window(const std::string& name) : file(test::testFile(name)) {
        dlg.setCountdownRunner([](CTorvaneRecorderDlg&) { return int(QDialog::Accepted); });
        dlg.show();
        QFile::remove(QString::fromStdString(file));
        test::storeCaptureFileName(file);
        dlg.applyCaptureSettings(test::areaRecording(file));
        dlg.buttonUpdate();
    }
};

}  // namespace

// One test: the desktop is asked until it grants once in a program run, then never again.
TEST(WaylandStart, DeclineThenALateGrantWhileNothingElseStarts) {
    // 1. Declined: the session is Ready again and says why.
    tellChooser("decline");
    Window w("waited.avi");
    w.dlg.onCommand(IDC_START);
    EXPECT_EQ(w.dlg.session().state(), kStateReady);
    ASSERT_EQ(w.ui.boxes.size(), 1u);
    EXPECT_TRUE(w.ui.boxes[0].text.endsWith("Recording was not started: screen sharing was declined."))
        << w.ui.boxes[0].text.toStdString();
    EXPECT_TRUE(w.dlg.button(IDC_START)->isEnabled());
    EXPECT_TRUE(w.dlg.button(IDC_NEW)->isEnabled());
    w.ui.boxes.clear();

    // 2. Nothing was half-started: the next Start asks again. The answer comes late; meanwhile
    // the tray, the shortcuts, a second Start and the setters reach the window and the session.
    tellChooser("wait 3");
    bool looked = false;
    QTimer::singleShot(1000, &w.dlg, [&] {
        looked = true;
        CCaptureSession& s = w.dlg.session();
        EXPECT_TRUE(s.starting());
        for (int id : {IDC_NEW, IDC_START, IDC_PAUSE, IDC_STOP}) EXPECT_FALSE(w.dlg.button(id)->isEnabled()) << id;
        for (int id : {IDC_START, ID_TRAY_START, ID_HOTKEY_STOP, ID_TRAY_STOP, ID_HOTKEY_PAUSE}) w.dlg.onCommand(id);
        EXPECT_FALSE(s.start(w.file, nullptr));
        EXPECT_EQ(s.lastError(), "A recording is already starting.");
        EXPECT_FALSE(s.setScreenSettings(s.screenSettings()));
        EXPECT_FALSE(s.setSoundEnabled(0));
        EXPECT_EQ(s.state(), kStateReady);
    });
    QElapsedTimer t;
    t.start();
    {
        ScreenNudge nudge;
        w.dlg.onCommand(IDC_START);
    }
    const qint64 waited = t.elapsed();
    ASSERT_TRUE(looked);
    ASSERT_EQ(w.dlg.session().state(), kStateRecording) << w.dlg.session().lastError();
    EXPECT_TRUE(w.ui.boxes.empty()) << w.ui.boxes.front().text.toStdString();
    EXPECT_GE(waited, 2900);
    // The recording's clock starts with the picture, not when Start was pressed.
    EXPECT_LT(w.dlg.session().recordedMilliseconds(), 1500u);
    test::waitFor([&] { return w.dlg.session().recordedMilliseconds() >= 1000; }, 20000);
    const uint32_t recorded = w.dlg.session().recordedMilliseconds();
    w.dlg.onCommand(IDC_STOP);
    EXPECT_EQ(w.dlg.session().state(), kStateIdle);
    // 10 positions a second: the file holds the recorded time, none of the dialog's three seconds.
    EXPECT_NEAR(double(videoPositions(w.file)) / 10.0, recorded / 1000.0, 0.5);
    EXPECT_NEAR(gstDuration(w.file), recorded / 1000.0, 0.5);

    // 3. The area selection freezes what the portal shows (the desktop's red background, no window
    // is open), not XWayland's black root; the grant above is reused, no dialog is asked for.
    tellChooser("decline");
    CSelectRegionDlg select;
    const QImage& still = select.frozenPicture();
    ASSERT_FALSE(still.isNull());
    // (The offscreen test screen is 800 x 800; the shared monitor 1280 x 720.)
    for (const QPoint at : {QPoint(10, 10), QPoint(still.width() - 10, 700)})
        EXPECT_EQ(still.pixelColor(at), QColor(255, 0, 0)) << at.x() << "," << at.y();
}

// Full screen from the window is the monitor the desktop shares, at its own resolution: a scaled
// monitor (the test desktop's TORVANE_WL_OUTPUTS) in its pixels, not in the desktop's units.
TEST(WaylandStart, FullScreenIsTheSharedMonitorInItsOwnPixels) {
    tellChooser("share");
    int width = 1280, height = 720;
    if (const char* outputs = std::getenv("TORVANE_WL_OUTPUTS")) std::sscanf(outputs, "%dx%d", &width, &height);
    Window w("full.avi");
    CaptureSettings s = test::areaRecording(w.file);
    s.screen.sourceKind = kSourceFullScreen;
    w.dlg.applyCaptureSettings(s);
    {
        ScreenNudge nudge;
        w.dlg.onCommand(IDC_START);
    }
    ASSERT_EQ(w.dlg.session().state(), kStateRecording) << w.dlg.session().lastError();
    EXPECT_EQ(w.dlg.session().screenSettings().rect.width(), width);
    test::waitFor([&] { return w.dlg.session().recordedMilliseconds() >= 500; }, 20000);
    w.dlg.onCommand(IDC_STOP);
    EXPECT_EQ(aviFrameSize(w.file), (std::pair<int32_t, int32_t>{width, height}));
    // The desktop's red background, to the far corner.
    const Picture p = decodePicture(w.file, 0, width, height);
    ASSERT_EQ(p.rgb.size(), size_t(width) * size_t(height) * 3);
    EXPECT_GT(p.at(width - 3, height - 3)[0], 200);
}

// The highlight asked for where the desktop draws the pointer in without telling its place
// (Debian's portal offers no pointer metadata): the recording is whole and counts as such, and
// the window says so once a program run, not at every Stop.
TEST(WaylandStart, AHighlightTheDesktopLeavesNoPlaceForIsToldOnce) {
    tellChooser("grant");
    Window w("highlight.avi");
    CaptureSettings s = test::areaRecording(w.file);
    s.cursor.captureCursor = 1;
    s.cursor.highlightType = kHighlightEllipse;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        w.dlg.applyCaptureSettings(s);
        w.dlg.buttonUpdate();
        w.ui.boxes.clear();
        {
            ScreenNudge nudge;
            w.dlg.onCommand(IDC_START);
        }
        ASSERT_EQ(w.dlg.session().state(), kStateRecording) << w.dlg.session().lastError();
        test::waitFor([&] { return w.dlg.session().recordedMilliseconds() >= 500; }, 20000);
        w.dlg.onCommand(IDC_STOP);
        ASSERT_EQ(w.dlg.session().state(), kStateIdle);
        EXPECT_FALSE(w.dlg.session().lostData()) << w.dlg.session().lossReport();
        const std::string notice = w.dlg.session().pointerNotice();
        EXPECT_NE(notice.find("highlight was not drawn"), std::string::npos) << notice;
        EXPECT_NE(w.dlg.session().lossReport().find(notice), std::string::npos) << w.dlg.session().lossReport();
        ASSERT_EQ(w.ui.boxes.size(), run == 0 ? 2u : 1u);
        if (run == 0) {
            EXPECT_EQ(w.ui.boxes[0].text.toStdString(), notice);
            EXPECT_EQ(w.ui.boxes[0].type & 0xF0, unsigned(ui::MB_ICONINFORMATION));
        }
        EXPECT_EQ(w.ui.boxes.back().text, text::kReview);
        EXPECT_GT(videoPositions(w.file), 0);
    }
}

// The answer agrees with what the portal itself lists on the bus (Debian 12's lists none).
TEST(WaylandStart, GlobalShortcutsAreOfferedExactlyWhenThePortalListsThem) {
    const std::string listed = runCommand(
        "busctl --user introspect org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop 2>&1");
    ASSERT_NE(listed.find("org.freedesktop.portal.ScreenCast"), std::string::npos) << listed;
    EXPECT_EQ(wayland::globalShortcutsOffered(),
              listed.find("org.freedesktop.portal.GlobalShortcuts") != std::string::npos);
}

// Where the desktop has no shortcuts portal, the window learns it without waiting and falls back
// to the X11 grabs (XWayland's), telling why.
TEST(WaylandStart, WithoutTheShortcutsPortalTheWindowFallsBackToX11Grabs) {
    if (wayland::globalShortcutsOffered()) GTEST_SKIP() << "this desktop offers global shortcuts";
    test::UiRecorder ui;
    CTorvaneRecorderDlg dlg{CTorvaneRecorderDlg::Options{true}};
    const wayland::GlobalShortcutsPortal* portal = dlg.shortcutsPortal();
    ASSERT_NE(portal, nullptr) << "a Wayland desktop's portal was not asked";
    EXPECT_FALSE(dlg.hooked()) << "the X11 grabs were taken before the portal answered";
    QElapsedTimer t;
    t.start();
    while (portal->state() == wayland::GlobalShortcutsPortal::State::Binding && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(portal->state(), wayland::GlobalShortcutsPortal::State::Failed);
    EXPECT_NE(portal->lastError().find("offers no global shortcuts"), std::string::npos) << portal->lastError();
    EXPECT_TRUE(dlg.hooked()) << "the X11 grabs did not take over";
    EXPECT_TRUE(ui.boxes.empty());
}
