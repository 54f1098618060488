#pragma once
// A dialog with a notification-area icon: minimising hides the dialog there, a click on the icon
// brings it back, a right click opens the tray menu. The icon reports through WM_TRAY_NOTIFY
// (wParam = icon id, lParam = mouse message) posted to the dialog.

#include <QDialog>
#include <QIcon>
#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>

class QMenu;

namespace torvane {

class WindowMessageEvent;

class CTrayDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxTipLength = 127;

    explicit CTrayDialog(QWidget* parent = nullptr);
    ~CTrayDialog() override;   // removes the icon

    void setMinimizeToTray(bool on) { minimizeToTray_ = on; }
    void setKeepIconOnRestore(bool on) { keepIconOnRestore_ = on; }
    void setTrayMenu(QMenu* menu);   // the dialog owns it
    QMenu* trayMenu() const { return menu_; }
    void setDefaultItem(int position) { defaultItem_ = position; }
    void setTrayImage(const QIcon& icon);
    void setTrayTip(const QString& tip);   // cut to kMaxTipLength characters
    QString trayTip() const { return tip_; }
    bool iconShown() const { return iconShown_; }

    // Adds the icon when it is not shown yet; false when no notification area takes it.
    bool trayShow();
    // Removes the icon; false when it was not shown.
    bool trayHide();
    // The minimise command: hides the dialog in the notification area when minimise to tray is on
    // and a notification area takes the icon; otherwise the dialog is minimised as usual.
    void sysCommandMinimize();
    // Brings the dialog back from the notification area.
    void restoreFromTray();

    QSystemTrayIcon* trayIcon() const { return icon_; }

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;

    // Handles one window message; true when it was handled. Derived dialogs extend it.
    virtual bool windowMessage(const WindowMessageEvent& m);

    virtual void OnTrayLButtonDown(QPoint) { restoreFromTray(); }
    virtual void OnTrayLButtonDblClk(QPoint) { restoreFromTray(); }
    virtual void OnTrayRButtonUp(QPoint at) { showTrayMenu(at); }
    virtual void OnTrayRButtonDblClk(QPoint) {}
    virtual void OnTrayMouseMove(QPoint) {}
    // Called just before the tray menu opens.
    virtual void OnUpdateTrayMenu(QMenu*) {}

    void showTrayMenu(QPoint at);

    // While set, minimising the dialog minimises it as usual instead of hiding it in the tray.
    bool plainMinimize_ = false;

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    bool minimizeToTray_ = true;
    bool iconShown_ = false;
    bool keepIconOnRestore_ = false;
    QSystemTrayIcon* icon_;
    QMenu* menu_ = nullptr;
    int defaultItem_ = 0;
    QString tip_;
};

}  // namespace torvane
