#pragma once
// The recorder control window: New..., Start, Pause and Stop, the help link, the state and recorded
// time in the title and the tray tip. It owns the one recording session, the border window and the
// notification-area icon for the whole life of the program.

#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/TrayDialog.h"
#include "engine/CaptureSession.h"
#include "settings/CaptureSettings.h"

class QMenu;

namespace torvane::wayland {
class GlobalShortcutsPortal;
}

namespace torvane {

class CBorderDlg;

class CTorvaneRecorderDlg : public CTrayDialog {
    Q_OBJECT
public:
    struct Options {
        bool installHook = true;   // the global shortcuts of libScreenCapture.so
    };
    CTorvaneRecorderDlg();
    explicit CTorvaneRecorderDlg(const Options& options);
    ~CTorvaneRecorderDlg() override;   // removes the icon, releases the shortcuts, destroys the border

    // The commands, each doing nothing while its button is disabled.
    void onNew();
    void onStart();
    void onPauseOrResume();
    void onStop();
    void onCommand(int id);   // IDC_* buttons, ID_TRAY_*, ID_HOTKEY_*, IDM_ABOUTBOX
    void onClose();           // the close box, Esc and tray Exit

    void buttonUpdate();
    void statusUpdate();

    // Hands the settings to the session through its seven setters, in the order the session expects.
    void applyCaptureSettings(const CaptureSettings& s);

    // How the countdown is run: returns QDialog::Accepted or Rejected. Tests replace it.
    using CountdownRunner = std::function<int(CTorvaneRecorderDlg&)>;
    void setCountdownRunner(CountdownRunner runner) { countdown_ = std::move(runner); }
    static int runCountdown(CTorvaneRecorderDlg& owner);

    // How the movie properties dialog is run (true on OK, with the chosen settings). Tests replace it.
    std::function<bool(QWidget* parent, CaptureSettings& s)> movieProperties;

    CCaptureSession& session() { return session_; }
    CBorderDlg& border() { return *border_; }
    QPushButton* button(int id) const;
    QPushButton* helpLink() const { return helpLink_; }
    QUrl helpAddress() const;
    static QUrl feedbackAddress();
    int statusIntervalMs() const { return statusTimer_.isActive() ? statusTimer_.interval() : 0; }
    bool hooked() const { return hooked_; }
    // The desktop's shortcut portal when the shortcuts go through it; null with X11 key grabs.
    const wayland::GlobalShortcutsPortal* shortcutsPortal() const { return shortcutsPortal_.get(); }

signals:
    // The close is complete, the feedback question answered: the program may end.
    void closed();

protected:
    bool windowMessage(const WindowMessageEvent& m) override;
    void OnUpdateTrayMenu(QMenu* menu) override;
    void reject() override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void onHotkey(uintptr_t virtualKey, intptr_t lParam);
    // The shortcuts through the desktop's portal where it offers them, else X11 key grabs.
    void installShortcuts();
    void grabX11Shortcuts();
    // The movie properties dialog: fills `s` and returns true when the user confirmed it.
    bool runMovieProperties(CaptureSettings& s);
    void placeAtWorkAreaCorner();
    void bringToFront();
    QMenu* buildTrayMenu();
    void showAbout();

    CCaptureSession session_;
    std::unique_ptr<CBorderDlg> border_;
    std::unique_ptr<wayland::GlobalShortcutsPortal> shortcutsPortal_;
    QPushButton* new_;
    QPushButton* start_;
    QPushButton* pause_;
    QPushButton* stop_;
    QPushButton* helpLink_;
    QTimer statusTimer_;
    CountdownRunner countdown_;
    bool hooked_ = false;
    bool x11Grabbed_ = false;   // Hook() was called and not undone
    bool hookRequested_ = false;
    bool placed_ = false;
    bool closing_ = false;
    bool starting_ = false;         // onStart() runs (its countdown, the session's start)
    bool closeRequested_ = false;   // closing was asked for meanwhile
    bool inProgressRemembered_ = false;
    bool pointerNoticeTold_ = false;   // the pointer's shortfall on this desktop was shown
};

}  // namespace torvane
