#include "app/TrayDialog.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QMenu>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <utility>

#include "app/RecorderResources.h"
#include "platform/core/WindowMessage.h"

namespace torvane {

CTrayDialog::CTrayDialog(QWidget* parent) : QDialog(parent), icon_(new QSystemTrayIcon(this)) {
    connect(icon_, &QSystemTrayIcon::activated, this, &CTrayDialog::onActivated);
}

CTrayDialog::~CTrayDialog() {
    trayHide();
    delete menu_;   // a parentless popup, owned here
}

void CTrayDialog::setTrayMenu(QMenu* menu) {
    if (menu_ && menu_ != menu) delete menu_;
    menu_ = menu;
}

void CTrayDialog::setTrayImage(const QIcon& icon) { icon_->setIcon(icon); }

void CTrayDialog::setTrayTip(const QString& tip) {
    tip_ = tip.left(kMaxTipLength);
    icon_->setToolTip(tip_);
}

bool CTrayDialog::trayShow() {
    if (iconShown_) return true;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    icon_->show();
    iconShown_ = icon_->isVisible();
    return iconShown_;
}

bool CTrayDialog::trayHide() {
    if (!iconShown_) return false;
    icon_->hide();
    iconShown_ = false;
    return true;
}

void CTrayDialog::sysCommandMinimize() {
    // Without a notification area a hidden dialog could not be brought back: minimise it as usual.
    // The add is tried again at every minimise, so a tray host started later is used.
    if (!minimizeToTray_ || !trayShow()) {
        const bool plain = std::exchange(plainMinimize_, true);
        showMinimized();
        plainMinimize_ = plain;
        return;
    }
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
}

void CTrayDialog::restoreFromTray() {
    if (!keepIconOnRestore_) {
        if (!(minimizeToTray_ && iconShown_ && trayHide())) return;
    }
    showNormal();
    raise();
    activateWindow();
}

void CTrayDialog::showTrayMenu(QPoint at) {
    if (!menu_) return;
    OnUpdateTrayMenu(menu_);
    const QList<QAction*> items = menu_->actions();
    if (defaultItem_ >= 0 && defaultItem_ < items.size()) menu_->setDefaultAction(items[defaultItem_]);
    // Bottom-aligned at the cursor, as a notification-area menu opens upwards; a notification area
    // at the top of the screen has no room above, so there the menu opens below the cursor instead
    // of covering the icon.
    const int height = menu_->sizeHint().height();
    const QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const bool roomAbove = !screen || at.y() - height >= screen->availableGeometry().top();
    menu_->popup(roomAbove ? QPoint(at.x(), at.y() - height) : QPoint(at.x(), at.y() + 1));
}

void CTrayDialog::onActivated(QSystemTrayIcon::ActivationReason reason) {
    int mouse = 0;
    switch (reason) {
    case QSystemTrayIcon::Trigger: mouse = WM_LBUTTONDOWN; break;
    case QSystemTrayIcon::DoubleClick: mouse = WM_LBUTTONDBLCLK; break;
    case QSystemTrayIcon::Context: mouse = WM_RBUTTONUP; break;
    default: return;
    }
    postWindowMessage(this, WM_TRAY_NOTIFY, kTrayIconId, mouse);
}

bool CTrayDialog::windowMessage(const WindowMessageEvent& m) {
    if (m.message != WM_TRAY_NOTIFY) return false;
    if (m.wParam != uintptr_t(kTrayIconId)) return true;
    const QPoint at = QCursor::pos();
    switch (m.lParam) {
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP: OnTrayRButtonUp(at); break;
    case WM_MOUSEMOVE: OnTrayMouseMove(at); break;
    case WM_LBUTTONDOWN: OnTrayLButtonDown(at); break;
    case WM_LBUTTONDBLCLK: OnTrayLButtonDblClk(at); break;
    case WM_RBUTTONDBLCLK: OnTrayRButtonDblClk(at); break;
    default: break;
    }
    return true;
}

bool CTrayDialog::event(QEvent* e) {
    if (e->type() == WindowMessageEvent::eventType()) {
        windowMessage(*static_cast<WindowMessageEvent*>(e));
        return true;
    }
    return QDialog::event(e);
}

void CTrayDialog::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    // The minimise box: hide in the notification area instead, once the state change is complete.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && minimizeToTray_ && !plainMinimize_ &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) sysCommandMinimize();
        });
}

}  // namespace torvane
