#include "app/TorvaneRecorderDlg.h"

#include "settings/CNewCaptureDlg.h"
#include "app/RecordingRecovery.h"

#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QUrlQuery>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/AreaStillPicture.h"
#include "app/BorderDlg.h"
#include "app/CounterDlg.h"
#include "app/DesktopNotification.h"
#include "app/KeyState.h"
#include "app/RecorderResources.h"
#include "app/ShellOpen.h"
#include "app/StatusText.h"
#include "engine/LiveSession.h"
#include "engine/ScreenSources.h"
#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"
#include "platform/hook/ScreenCapture.h"
#include "platform/ui/MessageBox.h"
#include "platform/wayland/GlobalShortcutsPortal.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/x11/Screen.h"
#include "settings/CaptureRules.h"
#include "settings/SettingsStore.h"

namespace torvane {

namespace {

constexpr int kStatusFastMs = 50;     // after Start
constexpr int kStatusSlowMs = 1000;   // after Resume

// Dialog units of the window's font to pixels, as dialog templates measure.
struct DialogUnits {
    explicit DialogUnits(const QFont& font) {
        const QFontMetricsF fm(font);
        baseX = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
        baseY = fm.height();
    }
    QRect rect(int x, int y, int w, int h) const {
        return QRect(qRound(x * baseX / 4), qRound(y * baseY / 8), qRound(w * baseX / 4), qRound(h * baseY / 8));
    }
    qreal baseX, baseY;
};

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& where) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(where);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

CTorvaneRecorderDlg::CTorvaneRecorderDlg() : CTorvaneRecorderDlg(Options{}) {}

CTorvaneRecorderDlg::CTorvaneRecorderDlg(const Options& options)
    : border_(std::make_unique<CBorderDlg>()), countdown_(&CTorvaneRecorderDlg::runCountdown) {
    setObjectName(QStringLiteral("CTorvaneRecorderDlg"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(recorderIcon());

    const DialogUnits du(font());
    new_ = makeButton(this, "IDC_NEW", QStringLiteral("New..."), du.rect(4, 4, 50, 24));
    start_ = makeButton(this, "IDC_START", QStringLiteral("Start"), du.rect(59, 4, 50, 24));
    pause_ = makeButton(this, "IDC_PAUSE", QStringLiteral("Pause"), du.rect(114, 4, 50, 24));
    stop_ = makeButton(this, "IDC_STOP", QStringLiteral("Stop"), du.rect(169, 4, 50, 24));
    connect(new_, &QPushButton::clicked, this, [this] { onCommand(IDC_NEW); });
    connect(start_, &QPushButton::clicked, this, [this] { onCommand(IDC_START); });
    connect(pause_, &QPushButton::clicked, this, [this] { onCommand(IDC_PAUSE); });
    connect(stop_, &QPushButton::clicked, this, [this] { onCommand(IDC_STOP); });

    // The help link sits where the status placeholder of the layout is.
    helpLink_ = makeButton(this, "IDC_HELP_LINK", text::kHelpCaption.arg(text::kVersion), du.rect(4, 31, 215, 11));
    helpLink_->setFlat(true);
    helpLink_->setCursor(Qt::PointingHandCursor);
    helpLink_->setToolTip(text::kHelpTooltip);
    helpLink_->setFocusPolicy(Qt::TabFocus);
    helpLink_->setStyleSheet(QStringLiteral("QPushButton { color: #0645ad; text-decoration: underline; border: none; "
                                            "padding: 0; text-align: center; }"));
    connect(helpLink_, &QPushButton::clicked, this, [this] { shellOpen(helpAddress()); });
    setFixedSize(du.rect(0, 0, 224, 45).size());

    // Tray: hide there on minimise, keep the icon when restored.
    setMinimizeToTray(true);
    setKeepIconOnRestore(true);
    setTrayMenu(buildTrayMenu());
    setDefaultItem(0);
    setTrayImage(recorderIcon());
    trayShow();

    // The about box has no system menu to live in on X11: it is on the window's context menu.
    auto* about = new QAction(text::kAboutMenu, this);
    about->setObjectName(QStringLiteral("IDM_ABOUTBOX"));
    connect(about, &QAction::triggered, this, [this] { onCommand(IDM_ABOUTBOX); });
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(&statusTimer_, &QTimer::timeout, this, &CTorvaneRecorderDlg::statusUpdate);

    buttonUpdate();
    statusUpdate();
    placeAtWorkAreaCorner();
    takeAreaStillPictureFromScreenSource();

    hookRequested_ = options.installHook;
    if (options.installHook) installShortcuts();
}

void CTorvaneRecorderDlg::installShortcuts() {
    if (!wayland::waylandDesktop()) {
        grabX11Shortcuts();
        return;
    }
    // Nothing here waits for the desktop: the client asks without blocking and gives up after
    // its timeout, and the X11 grabs take over whenever the portal cannot serve.
    shortcutsPortal_ = std::make_unique<wayland::GlobalShortcutsPortal>(this);
    connect(shortcutsPortal_.get(), &wayland::GlobalShortcutsPortal::failed, this, [this] {
        // Told the way a refused X11 grab is told; the X11 grabs still serve XWayland windows.
        std::fprintf(stderr, "TorvaneRecorder: global shortcuts: %s. Ctrl+Alt+S/P/I now reach the recorder only "
                             "while an X11 window has the keyboard focus; the tray menu and the window always work.\n",
                     shortcutsPortal_->lastError().c_str());
        grabX11Shortcuts();
    });
    connect(shortcutsPortal_.get(), &wayland::GlobalShortcutsPortal::bound, this, [this] {
        // A bind the user granted after the timeout: the portal serves every window, and the
        // X11 grabs taken meanwhile would only deliver the same keys twice.
        if (!x11Grabbed_) return;
        Unhook();
        x11Grabbed_ = false;
        hooked_ = false;
        std::fprintf(stderr, "TorvaneRecorder: global shortcuts: the desktop bound Ctrl+Alt+S/P/I after all.\n");
    });
    shortcutsPortal_->start();
}

void CTorvaneRecorderDlg::grabX11Shortcuts() {
    if (x11Grabbed_) return;
    const QByteArray path = QCoreApplication::applicationFilePath().toLocal8Bit();
    hooked_ = Hook(static_cast<QObject*>(this), path.constData()) != 0;
    x11Grabbed_ = true;
}

CTorvaneRecorderDlg::~CTorvaneRecorderDlg() {
    trayHide();
    shortcutsPortal_.reset();
    if (hookRequested_) Unhook();   // no shortcut message arrives after it
    border_.reset();
    // The session (a member) stops a recording that still runs when it is destroyed.
}

QPushButton* CTorvaneRecorderDlg::button(int id) const {
    switch (id) {
    case IDC_NEW: return new_;
    case IDC_START: return start_;
    case IDC_PAUSE: return pause_;
    case IDC_STOP: return stop_;
    case IDC_HELP_LINK: return helpLink_;
    default: return nullptr;
    }
}

QMenu* CTorvaneRecorderDlg::buildTrayMenu() {
    auto* menu = new QMenu;
    menu->setObjectName(QStringLiteral("TrayMenu"));
    auto add = [&](int id, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
    };
    add(ID_TRAY_SHOW, "ID_TRAY_SHOW", text::kTrayShow);
    add(ID_TRAY_START, "ID_TRAY_START", text::kTrayStart);
    add(ID_TRAY_PAUSE, "ID_TRAY_PAUSE", text::kTrayPause);
    add(ID_TRAY_STOP, "ID_TRAY_STOP", text::kTrayStop);
    menu->addSeparator();
    add(ID_TRAY_EXIT, "ID_TRAY_EXIT", text::kTrayExit);
    return menu;
}

QUrl CTorvaneRecorderDlg::helpAddress() const {
    const QDir programDir(QCoreApplication::applicationDirPath());
    QString page = programDir.filePath(QStringLiteral("help/recorder.html"));
#ifdef TORVANE_INSTALLED_HELP_PAGE
    if (!QFileInfo::exists(page)) page = QDir::cleanPath(programDir.filePath(QStringLiteral(TORVANE_INSTALLED_HELP_PAGE)));
#endif
#ifdef TORVANE_HELP_PAGE
    if (!QFileInfo::exists(page)) page = QStringLiteral(TORVANE_HELP_PAGE);
#endif
    QUrl url = QUrl::fromLocalFile(page);
    url.setQuery(text::kHelpQuery);
    return url;
}

QUrl CTorvaneRecorderDlg::feedbackAddress() { return QUrl(text::kFeedbackAddress.arg(text::kVersion)); }

void CTorvaneRecorderDlg::placeAtWorkAreaCorner() {
    // A Wayland client cannot place its windows (Qt only warns); the compositor places it there.
    // XWayland windows still can.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect work = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QPoint offset = pos() - frame.topLeft();   // the title bar and borders of a managed window
    move(QPoint(work.width() - frame.width(), work.height() - frame.height()) + offset);
}

void CTorvaneRecorderDlg::showEvent(QShowEvent* e) {
    CTrayDialog::showEvent(e);
    if (placed_) return;
    placed_ = true;
    // The frame is known only once the window is mapped.
    QTimer::singleShot(0, this, &CTorvaneRecorderDlg::placeAtWorkAreaCorner);
}

void CTorvaneRecorderDlg::buttonUpdate() {
    const int s = session_.state();
    // Every way a recording ends passes here: it is no longer one to repair.
    if (inProgressRemembered_ && s != kStateRecording && s != kStatePaused) {
        forgetRecordingInProgress();
        inProgressRemembered_ = false;
    }
    // While Start runs (the countdown, the desktop's screen-sharing dialog) the event loop turns
    // inside it: nothing may start, set up or stop a recording meanwhile.
    new_->setEnabled(!starting_ && (s == kStateIdle || s == kStateReady));
    start_->setEnabled(!starting_ && s == kStateReady);
    pause_->setEnabled(!starting_ && (s == kStateRecording || s == kStatePaused));
    stop_->setEnabled(!starting_ && (s == kStateRecording || s == kStatePaused));
    if (s == kStateRecording) pause_->setText(QStringLiteral("Pause"));
    if (s == kStatePaused) pause_->setText(QStringLiteral("Resume"));
}

void CTorvaneRecorderDlg::statusUpdate() {
    const int s = session_.state();
    const uint32_t t = session_.worker() ? session_.recordedMilliseconds() : 0;
    const QString status = statusText(s, t);
    setWindowTitle(status);
    setTrayTip(status);
}

void CTorvaneRecorderDlg::applyCaptureSettings(const CaptureSettings& s) {
    session_.setScreenSettings(s.screen);
    session_.setSoundEnabled(s.soundEnabled);
    session_.setSoundOption(static_cast<unsigned>(s.soundOption));
    session_.setCursorSettings(s.cursor);
    session_.setWebcamSettings(s.webcam);
    session_.setPipSettings(s.pip);
    session_.setWatermarkSettings(s.watermark);
}

bool CTorvaneRecorderDlg::runMovieProperties(CaptureSettings& s) {
    if (movieProperties) return movieProperties(this, s);
    return torvane::runMovieProperties(this, s);
}

void CTorvaneRecorderDlg::onNew() {
    if (!new_->isEnabled()) return;
    CaptureSettings settings;
    if (runMovieProperties(settings)) {
        applyCaptureSettings(settings);
        buttonUpdate();
    }
    statusUpdate();
}

int CTorvaneRecorderDlg::runCountdown(CTorvaneRecorderDlg& owner) {
    CCounterDlg counter(&owner);
    counter.count = 5;
    // The recorder goes to the taskbar while the count runs, not to the notification area.
    owner.plainMinimize_ = true;
    const int result = counter.exec();
    owner.plainMinimize_ = false;
    return result;
}

void CTorvaneRecorderDlg::onStart() {
    if (!start_->isEnabled()) return;
    if (documentsFolder().empty()) {
        ui::messageBox(this, text::kNoDocuments);
        return;
    }
    std::unique_ptr<QSettings> store = openSettingsStore();
    const std::string fileName = readCaptureFileName(*store);
    if (fileName.empty()) {
        ui::messageBox(this, text::kNoFile);
        return;
    }
    ScreenSettings& screen = session_.screenSettings();
    // A chosen monitor is measured again: it may have moved or been unplugged since it was chosen
    // (then the primary one is recorded, and the user is told). On Wayland the desktop's own dialog
    // picks the monitor.
    if (screen.sourceKind == kSourceFullScreen && screenCastWanted()) {
        // The monitor the desktop's dialog shares, at its full resolution (a scaled monitor has
        // more device pixels than the desktop's units say).
        ScreenRect monitor;
        std::string error;
        if (!screenCastMonitor(monitor, &error)) {
            ui::messageBox(this, QString::fromStdString(error));
            return;
        }
        applyRectBySourceKind(screen, {}, monitor, monitor);
        applyOutputSize(screen);
    } else if (screen.sourceKind == kSourceFullScreen && !wayland::waylandDesktop()) {
        if (const std::string monitor = readMonitorChoice(*store); !monitor.empty()) {
            std::string error;
            const x11::ScreenGeometry g = x11::queryScreenGeometry(monitor, &error);
            if (error.empty() && g.screen.width() > 0 && g.screen.height() > 0) {
                applyRectBySourceKind(screen, {}, g.screen, g.workArea);
                applyOutputSize(screen);
            }
            if (!g.note.empty())
                ui::messageBox(this, QString::fromStdString(g.note), {}, ui::MB_OK | ui::MB_ICONINFORMATION);
        }
    }
    if (screen.sourceKind == kSourceLiveSession) {
        const uint64_t window = lookUpLiveSession(*store);
        // A stored id whose window cannot be measured any more is a companion that has gone.
        if (!window || !applyLiveSessionGeometry(screen, window)) {
            ui::messageBox(this, text::kNoLiveSession);
            return;
        }
    }
    starting_ = true;
    buttonUpdate();
    const bool counted = countdown_(*this) != QDialog::Rejected;
    const bool started = counted && session_.start(fileName, this);
    starting_ = false;
    buttonUpdate();
    if (!counted) {
        if (closeRequested_) onClose();
        return;
    }
    if (started) {
        rememberRecordingInProgress(session_.fileName());
        inProgressRemembered_ = true;
        statusTimer_.start(kStatusFastMs);
        buttonUpdate();
        sysCommandMinimize();
        statusUpdate();
        if (session_.screenSettings().sourceKind == kSourceArea) border_->showRound(session_.screenSettings().rect);
    } else {
        showNormal();
        ui::messageBox(this, QString::fromStdString(session_.lastError()));
    }
    // Closing was asked for while Start ran; the window goes only now that nothing runs inside it.
    if (closeRequested_) onClose();
}

void CTorvaneRecorderDlg::onPauseOrResume() {
    if (!pause_->isEnabled()) return;
    if (session_.state() == kStateRecording) {
        border_->hideBorder();
        const bool ok = session_.pause();
        showNormal();
        if (ok) {
            buttonUpdate();
            statusUpdate();
        } else {
            // The session has stopped itself; show that instead of stale buttons.
            buttonUpdate();
            statusUpdate();
            ui::messageBox(this, QString::fromStdString(session_.lastError()));
        }
        statusTimer_.stop();
    } else if (session_.state() == kStatePaused) {
        if (session_.resume()) {
            statusTimer_.start(kStatusSlowMs);
            buttonUpdate();
            sysCommandMinimize();
            if (session_.screenSettings().sourceKind == kSourceArea)
                border_->showRound(session_.screenSettings().rect);
            statusUpdate();
        } else {
            border_->hideBorder();
            statusTimer_.stop();
            buttonUpdate();
            statusUpdate();
            ui::messageBox(this, QString::fromStdString(session_.lastError()));
        }
    }
}

void CTorvaneRecorderDlg::onStop() {
    if (!stop_->isEnabled()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    statusTimer_.stop();
    border_->hideBorder();
    const bool ok = session_.stop();
    const bool wasHidden = !isVisible() || isMinimized();
    showNormal();
    if (ok) {
        bringToFront();
        QApplication::restoreOverrideCursor();
        buttonUpdate();
        statusUpdate();
        // Stopped from the tray or a shortcut, the user may not be looking at the screen the
        // question appears on; the desktop's pop-up says it too.
        if (wasHidden)
            notifyRecordingSaved(QString::fromStdString(session_.fileName()), session_.lostData());
        // A recording that lost something is not announced as simply ready.
        if (session_.lostData())
            ui::messageBox(this, text::kLosses.arg(QString::fromStdString(session_.lossReport())), {},
                           ui::MB_OK | ui::MB_ICONWARNING);
        // The desktop's pointer stays as it is for the program run: told once, not at every Stop.
        else if (!session_.pointerNotice().empty() && !pointerNoticeTold_)
            ui::messageBox(this, QString::fromStdString(session_.pointerNotice()), {}, ui::MB_OK | ui::MB_ICONINFORMATION);
        if (!session_.pointerNotice().empty()) pointerNoticeTold_ = true;
        if (ui::messageBox(this, text::kReview, {}, ui::MB_YESNO) == ui::IDYES)
            shellOpen(QUrl::fromLocalFile(QString::fromStdString(session_.fileName())));
    } else {
        QApplication::restoreOverrideCursor();
        ui::messageBox(this, QString::fromStdString(session_.lastError()));
    }
}

void CTorvaneRecorderDlg::onClose() {
    if (starting_) {
        closeRequested_ = true;
        return;
    }
    if (closing_) return;
    closing_ = true;
    if (session_.state() == kStateRecording || session_.state() == kStatePaused) {
        statusTimer_.stop();
        border_->hideBorder();
        session_.stop();
    }
    QDialog::done(QDialog::Rejected);
    if (ui::messageBox(this, text::kFeedback, text::kFeedbackCaption, ui::MB_YESNO | ui::MB_ICONQUESTION) == ui::IDYES)
        shellOpen(feedbackAddress());
    emit closed();
}

void CTorvaneRecorderDlg::reject() { onClose(); }

void CTorvaneRecorderDlg::closeEvent(QCloseEvent* e) {
    onClose();
    if (starting_)
        e->ignore();
    else
        e->accept();
}

void CTorvaneRecorderDlg::bringToFront() {
    raise();
    activateWindow();
}

void CTorvaneRecorderDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CTorvaneRecorderDlg::onCommand(int id) {
    switch (id) {
    case IDC_NEW: onNew(); break;
    case IDC_START:
    case ID_TRAY_START: onStart(); break;
    case IDC_PAUSE:
    case ID_HOTKEY_PAUSE:
    case ID_TRAY_PAUSE: onPauseOrResume(); break;
    case IDC_STOP:
    case ID_HOTKEY_STOP:
    case ID_TRAY_STOP: onStop(); break;
    case ID_TRAY_EXIT: onClose(); break;
    case ID_TRAY_SHOW:
        if (isVisible())
            sysCommandMinimize();
        else
            showNormal();
        break;
    case IDM_ABOUTBOX: showAbout(); break;
    default: break;
    }
}

void CTorvaneRecorderDlg::OnUpdateTrayMenu(QMenu* menu) {
    for (QAction* a : menu->actions()) {
        switch (a->data().toInt()) {
        case ID_TRAY_START: a->setEnabled(start_->isEnabled()); break;
        case ID_TRAY_STOP: a->setEnabled(stop_->isEnabled()); break;
        case ID_TRAY_PAUSE:
            a->setEnabled(pause_->isEnabled());
            a->setText(pause_->text());
            break;
        case ID_TRAY_SHOW: a->setText(isVisible() ? QStringLiteral("Hide") : QStringLiteral("Show")); break;
        default: break;
        }
    }
}

void CTorvaneRecorderDlg::onHotkey(uintptr_t virtualKey, intptr_t lParam) {
    const ModifierState mods = shortcutModifiers(lParam);
    if (!(mods.control && mods.alt)) return;
    switch (virtualKey) {
    case VK_SHORTCUT_STOP:
        onStop();
        if (isVisible())
            bringToFront();
        else
            QApplication::alert(this);   // cannot come to the front: ask for attention instead
        break;
    case VK_SHORTCUT_PAUSE:
        onPauseOrResume();
        if (isVisible()) bringToFront();
        break;
    case VK_SHORTCUT_PIP: session_.togglePip(); break;
    default: break;
    }
}

bool CTorvaneRecorderDlg::windowMessage(const WindowMessageEvent& m) {
    switch (m.message) {
    case WM_RECORDER_STOP: onStop(); return true;
    case WM_RECORDER_HOTKEY: onHotkey(m.wParam, m.lParam); return true;
    default: return CTrayDialog::windowMessage(m);
    }
}

}  // namespace torvane
