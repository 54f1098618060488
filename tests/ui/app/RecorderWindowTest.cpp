#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QUrlQuery>

#include "AppTestSupport.h"
#include "app/BorderDlg.h"
#include "app/RecorderResources.h"
#include "app/TorvaneRecorderDlg.h"
#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"
#include "platform/ui/MessageBox.h"
#include "settings/SettingsStore.h"

using namespace torvane;
using test::UiRecorder;

namespace {

const intptr_t kCtrlAlt = kHotkeyStateKnown | kHotkeyControl | kHotkeyAlt;

struct Buttons {
    bool n, s, p, t;
};

Buttons buttonsOf(CTorvaneRecorderDlg& w) {
    return {w.button(IDC_NEW)->isEnabled(), w.button(IDC_START)->isEnabled(), w.button(IDC_PAUSE)->isEnabled(),
            w.button(IDC_STOP)->isEnabled()};
}

void expectButtons(CTorvaneRecorderDlg& w, Buttons want) {
    const Buttons b = buttonsOf(w);
    EXPECT_EQ(b.n, want.n) << "New...";
    EXPECT_EQ(b.s, want.s) << "Start";
    EXPECT_EQ(b.p, want.p) << "Pause";
    EXPECT_EQ(b.t, want.t) << "Stop";
}

// Out of the way while recording: hidden in the notification area, or minimised where there is none
// (as here, offscreen).
bool putAway(CTorvaneRecorderDlg& w) { return !w.isVisible() || w.isMinimized(); }
bool shownNormally(CTorvaneRecorderDlg& w) { return w.isVisible() && !w.isMinimized(); }

QAction* trayAction(CTorvaneRecorderDlg& w, const char* name) {
    return w.trayMenu()->findChild<QAction*>(QLatin1String(name));
}

// Opens the tray menu the way a right click on the icon does, and closes it again.
void rightClickTray(CTorvaneRecorderDlg& w) {
    postWindowMessage(&w, WM_TRAY_NOTIFY, kTrayIconId, WM_RBUTTONUP);
    test::spin(30);
    w.trayMenu()->hide();
}

class RecorderWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<CTorvaneRecorderDlg>(CTorvaneRecorderDlg::Options{false});
        window->setCountdownRunner([this](CTorvaneRecorderDlg&) {
            ++countdowns;
            return countdownResult;
        });
        window->show();
    }
    void TearDown() override {
        if (window->session().state() >= kStateRecording) window->session().stop();
        window.reset();
    }
    // A recording of the area 100,100,740,580 without sound, started through the Start command.
    bool startAreaRecording(const std::string& name) {
        file = test::testFile(name);
        QFile::remove(QString::fromStdString(file));
        test::storeCaptureFileName(file);
        window->applyCaptureSettings(test::areaRecording(file));
        window->buttonUpdate();
        window->onCommand(IDC_START);
        return window->session().state() == kStateRecording;
    }

    UiRecorder ui;
    std::unique_ptr<CTorvaneRecorderDlg> window;
    int countdowns = 0;
    int countdownResult = QDialog::Accepted;
    std::string file;
};

}  // namespace

TEST_F(RecorderWindow, IdleWindowOffersOnlyNewAndIgnoresEveryOtherCommand) {
    EXPECT_EQ(window->windowTitle(), "Torvane Live Screen Recorder 1.2");
    EXPECT_EQ(window->trayTip(), "Torvane Live Screen Recorder 1.2");
    expectButtons(*window, {true, false, false, false});
    EXPECT_EQ(window->helpLink()->text(), "Torvane Live Screen Recorder 1.2 - Get HELP");
    EXPECT_EQ(window->helpLink()->toolTip(), "Get help about the Torvane Live Screen Recorder");

    for (int id : {IDC_START, IDC_PAUSE, IDC_STOP, ID_TRAY_START, ID_TRAY_PAUSE, ID_TRAY_STOP, ID_HOTKEY_STOP})
        window->onCommand(id);
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_PAUSE, kCtrlAlt);
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_STOP, kCtrlAlt);
    postWindowMessage(window.get(), WM_RECORDER_STOP);
    test::spin(50);
    EXPECT_EQ(window->session().state(), kStateIdle);
    EXPECT_EQ(countdowns, 0);
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes.front().text.toStdString();
    // Ctrl+Alt+S still brings the window to the front when nothing is recording.
    EXPECT_TRUE(window->isVisible());
}

TEST_F(RecorderWindow, NewAppliesTheConfirmedSettingsAndCancelChangesNothing) {
    int opened = 0;
    bool confirm = false;
    window->movieProperties = [&](QWidget* parent, CaptureSettings& s) {
        ++opened;
        EXPECT_EQ(parent, window.get());
        s = test::areaRecording(test::testFile("ready.avi"));
        return confirm;
    };
    window->setWindowTitle(QStringLiteral("stale"));
    window->onCommand(IDC_NEW);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(window->windowTitle(), "Torvane Live Screen Recorder 1.2");
    EXPECT_EQ(window->session().state(), kStateIdle);
    expectButtons(*window, {true, false, false, false});

    confirm = true;
    window->onCommand(IDC_NEW);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(window->windowTitle(), "Recorder Ready");
    EXPECT_EQ(window->session().state(), kStateReady);
    EXPECT_EQ(window->session().screenSettings().rect, test::areaRecording("x").screen.rect);
    expectButtons(*window, {true, true, false, false});
}

TEST_F(RecorderWindow, HelpLinkOpensTheShippedPageWithItsTopic) {
    window->helpLink()->click();
    ASSERT_EQ(ui.opened.size(), 1u);
    const QUrl url = ui.opened[0];
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_TRUE(QFileInfo::exists(url.toLocalFile())) << url.toString().toStdString();
    EXPECT_EQ(QUrlQuery(url).queryItemValue(QStringLiteral("topic")), "recorder_v1.0");
}

TEST_F(RecorderWindow, StartRefusalsComeBeforeTheCountdown) {
    window->applyCaptureSettings(test::areaRecording(test::testFile("refused.avi")));
    window->buttonUpdate();

    test::storeCaptureFileName("");
    window->onCommand(IDC_START);
    EXPECT_TRUE(ui.shown("Please select capture file"));

    test::storeCaptureFileName(test::testFile("refused.avi"));
    ScreenSettings live = test::areaRecording("").screen;
    live.sourceKind = kSourceLiveSession;
    window->session().setScreenSettings(live);
    {
        std::unique_ptr<QSettings> store = openSettingsStore();
        writeLiveSessionWindow(*store, 0);
        store->sync();
    }
    window->onCommand(IDC_START);
    EXPECT_TRUE(ui.shown("You have selected to record an Torvane Live Session. \nTorvane Live however is not "
                         "started.\n\n Please start it first and try again."));
    EXPECT_EQ(countdowns, 0);
    EXPECT_EQ(window->session().state(), kStateReady);
}

TEST_F(RecorderWindow, CancelledCountdownStartsNothingAndSaysNothing) {
    countdownResult = QDialog::Rejected;
    const std::string f = test::testFile("cancelled.avi");
    QFile::remove(QString::fromStdString(f));
    test::storeCaptureFileName(f);
    window->applyCaptureSettings(test::areaRecording(f));
    window->buttonUpdate();
    window->onCommand(ID_TRAY_START);
    EXPECT_EQ(countdowns, 1);
    EXPECT_EQ(window->session().state(), kStateReady);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(f)));
}

// The event loop turns inside Start (the countdown here, the desktop's screen-sharing dialog on
// Wayland): the tray, the shortcuts and a second Start reach the window meanwhile.
TEST_F(RecorderWindow, CommandsWhileStartWaitsAreRefusedAndACloseWaitsForIt) {
    file = test::testFile("guarded.avi");
    QFile::remove(QString::fromStdString(file));
    test::storeCaptureFileName(file);
    window->applyCaptureSettings(test::areaRecording(file));
    window->buttonUpdate();
    int opened = 0;
    window->movieProperties = [&](QWidget*, CaptureSettings&) { return ++opened, true; };
    bool counting = false, closedWhileCounting = false, closed = false;
    QObject::connect(window.get(), &CTorvaneRecorderDlg::closed, [&] {
        closed = true;
        closedWhileCounting = counting;
    });
    window->setCountdownRunner([&](CTorvaneRecorderDlg& w) {
        ++countdowns;
        counting = true;
        expectButtons(w, {false, false, false, false});
        rightClickTray(w);
        EXPECT_FALSE(trayAction(w, "ID_TRAY_START")->isEnabled());
        for (int id : {IDC_START, ID_TRAY_START, IDC_NEW, IDC_STOP, ID_TRAY_STOP, ID_HOTKEY_PAUSE}) w.onCommand(id);
        postWindowMessage(&w, WM_RECORDER_HOTKEY, VK_SHORTCUT_STOP, kCtrlAlt);
        test::spin(50);
        ui.answers.push_back(ui::IDNO);   // the feedback question, once the window closes
        w.onCommand(ID_TRAY_EXIT);
        EXPECT_TRUE(w.isVisible());
        counting = false;
        return int(QDialog::Accepted);
    });
    window->onCommand(IDC_START);
    EXPECT_EQ(countdowns, 1);
    EXPECT_EQ(opened, 0);
    // The recording began, then the close asked for meanwhile stopped it and finished the file.
    EXPECT_EQ(window->session().state(), kStateIdle);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(closedWhileCounting);
    EXPECT_FALSE(window->isVisible());
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("idx1"));
}

TEST_F(RecorderWindow, FailedStartShowsTheSessionsReasonAndTheWindow) {
    const std::string f = test::testFile("no-such-folder/x.avi");
    test::storeCaptureFileName(f);
    window->applyCaptureSettings(test::areaRecording(f));
    window->buttonUpdate();
    window->hide();
    window->onCommand(IDC_START);
    EXPECT_EQ(window->session().state(), kStateReady);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_TRUE(ui.boxes[0].text.startsWith("Could not create the file named ")) << ui.boxes[0].text.toStdString();
    EXPECT_TRUE(shownNormally(*window));
}

TEST_F(RecorderWindow, RecordPauseResumeStopFollowTheButtonTable) {
    ASSERT_TRUE(startAreaRecording("cycle.avi")) << window->session().lastError();
    EXPECT_EQ(countdowns, 1);
    expectButtons(*window, {false, false, true, true});
    EXPECT_EQ(window->button(IDC_PAUSE)->text(), "Pause");
    EXPECT_TRUE(putAway(*window));
    EXPECT_EQ(window->statusIntervalMs(), 50);
    EXPECT_TRUE(window->border().blinking());
    EXPECT_TRUE(window->windowTitle().startsWith("Now Recording - 00:00:"));

    // The tray menu while recording: Start grayed, Stop and Pause enabled, "Show" for a hidden window.
    rightClickTray(*window);
    EXPECT_FALSE(trayAction(*window, "ID_TRAY_START")->isEnabled());
    EXPECT_TRUE(trayAction(*window, "ID_TRAY_STOP")->isEnabled());
    EXPECT_TRUE(trayAction(*window, "ID_TRAY_PAUSE")->isEnabled());
    EXPECT_EQ(trayAction(*window, "ID_TRAY_PAUSE")->text(), "Pause");
    // Offscreen there is no notification area: the window is minimised, so still visible.
    EXPECT_EQ(trayAction(*window, "ID_TRAY_SHOW")->text(), "Hide");
    EXPECT_TRUE(trayAction(*window, "ID_TRAY_EXIT")->isEnabled());

    test::spin(400);
    window->onCommand(ID_TRAY_PAUSE);
    ASSERT_EQ(window->session().state(), kStatePaused) << window->session().lastError();
    EXPECT_EQ(window->button(IDC_PAUSE)->text(), "Resume");
    EXPECT_TRUE(shownNormally(*window));
    EXPECT_FALSE(window->border().blinking());
    EXPECT_FALSE(window->border().isVisible());
    EXPECT_EQ(window->statusIntervalMs(), 0);
    EXPECT_TRUE(window->windowTitle().startsWith("Recorder Paused - 00:00:00:")) << window->windowTitle().toStdString();
    const QString pausedTitle = window->windowTitle();
    test::spin(300);
    window->statusUpdate();
    EXPECT_EQ(window->windowTitle(), pausedTitle);   // the clock stands still while paused

    rightClickTray(*window);
    EXPECT_EQ(trayAction(*window, "ID_TRAY_PAUSE")->text(), "Resume");
    EXPECT_EQ(trayAction(*window, "ID_TRAY_SHOW")->text(), "Hide");

    window->onCommand(IDC_PAUSE);
    ASSERT_EQ(window->session().state(), kStateRecording) << window->session().lastError();
    EXPECT_EQ(window->statusIntervalMs(), 1000);
    EXPECT_TRUE(window->border().isVisible());   // from its visible phase again
    EXPECT_TRUE(putAway(*window));

    // Left click on the icon shows the window; the recording goes on. Another icon id is ignored.
    postWindowMessage(window.get(), WM_TRAY_NOTIFY, 2, WM_LBUTTONDOWN);
    test::spin(30);
    EXPECT_TRUE(putAway(*window));
    postWindowMessage(window.get(), WM_TRAY_NOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    test::spin(30);
    EXPECT_TRUE(shownNormally(*window));
    EXPECT_EQ(window->session().state(), kStateRecording);

    // Pause again, then stop from Paused: the review question, Yes opens the file.
    window->onCommand(IDC_PAUSE);
    ASSERT_EQ(window->session().state(), kStatePaused);
    ui.answers.push_back(ui::IDYES);
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_STOP, kCtrlAlt | kHotkeyShift);
    ASSERT_TRUE(test::waitFor([&] { return window->session().state() == kStateIdle; }, 3000));
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text, "Your recording is now ready. Do you want to review it?");
    EXPECT_EQ(ui.boxes.back().type, ui::MB_YESNO);
    ASSERT_EQ(ui.opened.size(), 1u);
    EXPECT_EQ(ui.opened[0], QUrl::fromLocalFile(QString::fromStdString(file)));
    EXPECT_EQ(window->windowTitle(), "Torvane Live Screen Recorder 1.2");
    expectButtons(*window, {true, false, false, false});
    EXPECT_EQ(window->button(IDC_PAUSE)->text(), "Resume");   // stopped from Paused
    EXPECT_TRUE(shownNormally(*window));
    EXPECT_FALSE(window->border().isVisible());
    EXPECT_GT(QFileInfo(QString::fromStdString(file)).size(), 1000);
}

TEST_F(RecorderWindow, ShortcutsNeedControlAndAlt) {
    ASSERT_TRUE(startAreaRecording("keys.avi")) << window->session().lastError();
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_STOP, kHotkeyStateKnown | kHotkeyControl);
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_PAUSE, kHotkeyStateKnown | kHotkeyAlt);
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, 0x41, kCtrlAlt);
    test::spin(50);
    EXPECT_EQ(window->session().state(), kStateRecording);

    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_PAUSE, kCtrlAlt);
    ASSERT_TRUE(test::waitFor([&] { return window->session().state() == kStatePaused; }, 3000));
    postWindowMessage(window.get(), WM_RECORDER_HOTKEY, VK_SHORTCUT_PAUSE, kCtrlAlt);
    ASSERT_TRUE(test::waitFor([&] { return window->session().state() == kStateRecording; }, 3000));

    // The capture loop's stop request takes the Stop path, review question included.
    postWindowMessage(window.get(), WM_RECORDER_STOP);
    ASSERT_TRUE(test::waitFor([&] { return window->session().state() == kStateIdle; }, 3000));
    EXPECT_TRUE(ui.shown("Your recording is now ready. Do you want to review it?"));
    EXPECT_TRUE(ui.opened.empty());   // answered No
}

TEST_F(RecorderWindow, ClosingWhileRecordingFinishesTheFileAndAsksOnlyForFeedback) {
    ASSERT_TRUE(startAreaRecording("closing.avi")) << window->session().lastError();
    test::spin(300);
    ui.answers.push_back(ui::IDYES);
    window->onCommand(ID_TRAY_EXIT);
    EXPECT_EQ(window->session().state(), kStateIdle);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Thank you for using the Torvane Live Screen Recorder. \nWould you like to tell us "
                                "what you think about it and help us make a better product?");
    EXPECT_EQ(ui.boxes[0].caption, "We need your feedback.");
    EXPECT_EQ(ui.boxes[0].type, ui::MB_YESNO | ui::MB_ICONQUESTION);
    ASSERT_EQ(ui.opened.size(), 1u);
    EXPECT_EQ(ui.opened[0].path(), "/screenrecorderfollowup.asp");
    EXPECT_EQ(QUrlQuery(ui.opened[0]).queryItemValue(QStringLiteral("v")), "1.2");
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_FALSE(window->isVisible());
    // The file was completed: its index is written at the end.
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("idx1"));
}

TEST_F(RecorderWindow, EscapeClosesLikeTheCloseBox) {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &esc);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, "We need your feedback.");
    EXPECT_TRUE(ui.opened.empty());
    window->close();   // a second close does not ask again
    EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(RecorderWindow, WithoutANotificationAreaMinimisingKeepsTheWindowReachable) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());   // offscreen has none
    window->onCommand(ID_TRAY_SHOW);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());   // minimised, not hidden where nothing could bring it back
    EXPECT_FALSE(window->iconShown());
    postWindowMessage(window.get(), WM_TRAY_NOTIFY, kTrayIconId, WM_LBUTTONDBLCLK);
    test::spin(30);
    EXPECT_TRUE(shownNormally(*window));
}
