// An area recording set up entirely with the mouse on the real test display: "Screen Area
// Recording" in the movie properties, a drag on the frozen screen, OK; the record then drives a
// recording whose file shows exactly the dragged area, also on a screen Qt scales (its test runs
// under QT_SCALE_FACTOR 2 and 1.5 too: the pointer moves in device pixels, and so must the record).

#include <cstdlib>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QScreen>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <thread>

#include "app/AreaStillPicture.h"
#include "app/BorderDlg.h"
#include "engine/CaptureSession.h"
#include "platform/ui/MessageBox.h"
#include "platform/x11/Monitors.h"
#include "settings/CNewCaptureDlg.h"
#include "settings/CSelectRegionDlg.h"
#include "settings/DlgControls.h"
#include "settings/SettingsStore.h"
#include "tests/system/engine/MediaProbe.h"
#include "tests/system/engine/XPainter.h"

using namespace torvane;
using namespace std::chrono_literals;

namespace {

// xdotool runs on its own so the dialogs keep handling events meanwhile.
void xdotool(const QStringList& args) { QProcess::startDetached(QStringLiteral("xdotool"), args); }

QStringList clickAt(QPoint p) {
    return {"mousemove", QString::number(p.x()), QString::number(p.y()), "sleep", "0.1", "click", "1"};
}

// Where xdotool must click: in the screen's device pixels, which differ from Qt's units on a
// scaled screen. With one factor for everything (QT_SCALE_FACTOR) the places scale too; with a
// factor a monitor (QT_SCREEN_SCALE_FACTORS) a monitor keeps its own place, as the X server has it.
QPoint centreOf(QWidget* dialog, int id) {
    QWidget* w = findControl(dialog, id);
    if (!w) return QPoint();
    const QPointF logical = w->mapToGlobal(QPointF(w->rect().center()));
    const qreal ratio = w->devicePixelRatioF();
    if (QScreen* screen = w->screen(); screen && !qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        for (const x11::Monitor& m : x11::listMonitors(nullptr)) {
            if (QString::fromStdString(m.name) == screen->name()) {
                const QPointF origin = screen->geometry().topLeft();
                return (QPointF(m.rect.left, m.rect.top) + (logical - origin) * ratio).toPoint();
            }
        }
    }
    return (logical * ratio).toPoint();
}

bool exposed(QWidget* w) { return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }

void recordFor(std::chrono::milliseconds d) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
}

bool near(std::array<int, 3> got, std::array<int, 3> want) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(got[i] - want[i]) > 24) return false;
    return true;
}

}  // namespace

TEST(AreaSetupGui, AreaDraggedWithTheMouseIsWhatGetsRecorded) {
    ASSERT_FALSE(QStandardPaths::findExecutable("xdotool").isEmpty());
    std::vector<QString> boxes;
    ui::setMessageBoxHook([&](QWidget*, const QString& text, const QString&, unsigned) {
        boxes.push_back(text);
        return ui::IDOK;
    });

    // On a display of two monitors the test runs on the second one (the primary, on the right):
    // the selection covers the monitor under the pointer, and every place moves with it.
    const int dx = std::atoi(qgetenv("TORVANE_TEST_SHIFT_X").constData());
    const auto at = [dx](int px) { return QString::number(px + dx); };
    XPainter x;
    ASSERT_TRUE(x.ok());
    const uint32_t bg = x.window(dx, 0, 1280, 720, 0x000000);
    const uint32_t red = x.window(dx + 300, 200, 200, 150, 0xFF0000);
    const uint32_t blue = x.window(dx + 500, 350, 200, 150, 0x0000FF);

    takeAreaStillPictureFromScreenSource();   // as the program does
    CNewCaptureDlg dlg;   // the real store, screen, selection window
    int stage = 0;
    QElapsedTimer since;
    since.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* selection = qobject_cast<CSelectRegionDlg*>(QApplication::activeModalWidget());
        switch (stage) {
            case 0:   // the dialog is up: choose the area source
                if (exposed(&dlg) && since.elapsed() > 300) {
                    // With the sound server of the test environment system sound is available.
                    EXPECT_TRUE(findControl(&dlg, CNewCaptureDlg::IDC_SOUND_SYSTEM)->isEnabled());
                    EXPECT_TRUE(findControl(&dlg, CNewCaptureDlg::IDC_SOUND_BOTH)->isEnabled());
                    xdotool(clickAt(centreOf(&dlg, CNewCaptureDlg::IDC_SCREEN_AREA)));
                    stage = 1;
                }
                break;
            case 1:   // the frozen screen is up: drag from bottom-right to top-left
                if (exposed(selection)) {
                    // It covers the monitor it was opened on, not the whole display.
                    if (dx > 0) {
                        EXPECT_EQ(selection->screen()->name(), "RIGHT");
                        EXPECT_EQ(selection->geometry(), selection->screen()->geometry());
                    }
                    since.restart();
                    stage = 2;
                }
                break;
            case 2:
                if (since.elapsed() > 300) {
                    xdotool({"mousemove", at(700), "500", "sleep", "0.1", "mousedown", "1", "sleep", "0.1",
                             "mousemove", at(600), "400", "sleep", "0.1", "mousemove", at(300), "200", "sleep", "0.2",
                             "mouseup", "1"});
                    stage = 3;
                }
                break;
            case 3:   // back in the dialog: OK
                if (!selection && exposed(&dlg)) {
                    since.restart();
                    stage = 4;
                }
                break;
            case 4:
                if (since.elapsed() > 300) {
                    xdotool(clickAt(centreOf(&dlg, IDOK)));
                    stage = 5;
                }
                break;
            default:
                break;
        }
    });
    poll.start(20);
    QTimer::singleShot(30000, &dlg, [&] {
        ADD_FAILURE() << "stuck at stage " << stage;
        if (QWidget* w = QApplication::activeModalWidget(); w && w != &dlg) static_cast<QDialog*>(w)->reject();
        dlg.reject();
    });
    const int result = dlg.exec();
    poll.stop();
    ASSERT_EQ(result, QDialog::Accepted) << "stage " << stage;
    EXPECT_TRUE(boxes.empty());

    const CaptureSettings s = dlg.settings();
    // The blinking frame goes just outside the area, on the monitor it lies on: mapped back to
    // that monitor's device pixels (its own place, then its ratio), the hole holds the area and
    // not a device pixel more than one logical unit on each side.
    {
        CBorderDlg border;
        border.showRound(s.screen.rect);
        const int w = CBorderDlg::kFrameWidth;
        const QRect hole = border.geometry().adjusted(w, w, -w, -w);
        QScreen* screen = QGuiApplication::screenAt(hole.center());
        ASSERT_TRUE(screen);
        const double r = screen->devicePixelRatio();
        const bool ownPlace = qEnvironmentVariableIsSet("QT_SCREEN_SCALE_FACTORS");   // else places scale too
        const double ox = ownPlace ? screen->geometry().x() : 0, odx = ownPlace ? dx : 0;
        auto device = [&](int logicalX) { return odx + (logicalX - ox) * r; };
        const ScreenRect& a = s.screen.rect;
        EXPECT_LE(device(hole.left()), a.left);
        EXPECT_GT(device(hole.left() + 1), a.left);
        EXPECT_GE(device(hole.left() + hole.width()), a.right);
        EXPECT_LT(device(hole.left() + hole.width() - 1), a.right);
        EXPECT_LE(hole.top() * r, a.top);
        EXPECT_GE((hole.top() + hole.height()) * r, a.bottom);
        border.hideBorder();
    }
    EXPECT_EQ(s.screen.sourceKind, kSourceArea);
    EXPECT_EQ(s.screen.rect, (ScreenRect{dx + 300, 200, dx + 700, 500}));
    EXPECT_EQ(s.screen.outputWidth, 400);
    EXPECT_EQ(s.screen.outputHeight, 300);
    {
        auto store = openSettingsStore();
        EXPECT_EQ(loadCaptureSettings(*store).screen.rect, s.screen.rect);
    }

    // The record, handed over in the recorder's order, drives the recording.
    CCaptureSession session;
    ASSERT_TRUE(session.setScreenSettings(s.screen) && session.setSoundEnabled(0) &&
                session.setSoundOption(s.soundOption) && session.setCursorSettings(s.cursor) &&
                session.setWebcamSettings(s.webcam) && session.setPipSettings(s.pip) &&
                session.setWatermarkSettings(s.watermark))
        << session.lastError();
    ASSERT_FALSE(s.fileName.empty());
    ASSERT_TRUE(session.start(s.fileName, nullptr)) << session.lastError();
    recordFor(1500ms);
    ASSERT_TRUE(session.stop());

    EXPECT_EQ(decodeErrors(s.fileName), "");
    EXPECT_EQ(aviFrameSize(s.fileName), (std::pair<int32_t, int32_t>{400, 300}));
    EXPECT_GT(QFileInfo(QString::fromStdString(s.fileName)).size(), 2000);
    EXPECT_GE(videoPositions(s.fileName), 8);   // 8 frames per second for 1.5 s
    const Picture p = decodePicture(s.fileName, 0, 400, 300);   // the screen is still: one picture
    ASSERT_EQ(p.rgb.size(), 400u * 300u * 3u);
    EXPECT_TRUE(near(p.at(100, 75), {255, 0, 0}));
    EXPECT_TRUE(near(p.at(300, 225), {0, 0, 255}));
    EXPECT_TRUE(near(p.at(300, 75), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(100, 225), {0, 0, 0}));

    for (uint32_t w : {blue, red, bg}) x.destroy(w);
    ui::setMessageBoxHook({});
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
