#include "app/BorderDlg.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include "platform/x11/ScreenPlacement.h"

namespace torvane {

CBorderDlg::CBorderDlg()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("CBorderDlg"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
}

QRegion CBorderDlg::ring(const QRect& outer) {
    const QRect inner = outer.adjusted(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth);
    return QRegion(outer).subtracted(QRegion(inner));
}

void CBorderDlg::showRound(const ScreenRect& r) {
    timer_.stop();
    shape_ = QRegion();
    hide();
    // A native Wayland window cannot place itself: the compositor would put the frame anywhere,
    // over the recorded area too. There the frame is not shown.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return;
    // The area is in the screen's device pixels, the window in logical units: the frame goes round
    // the logical pixels that cover the area.
    const QRect area = x11::logicalCoveringOnScreen(r);
    setGeometry(area.adjusted(-kFrameWidth, -kFrameWidth, kFrameWidth, kFrameWidth));
    buildShape();
    show();
    timer_.start(kBlinkMs, this);
}

void CBorderDlg::hideBorder() {
    timer_.stop();
    shape_ = QRegion();
    hide();
}

void CBorderDlg::buildShape() {
    shape_ = ring(QRect(QPoint(0, 0), size()));
    setMask(shape_);
}

void CBorderDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (timer_.isActive() || !shape_.isEmpty()) buildShape();
    update();
}

void CBorderDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() == timer_.timerId()) {
        setVisible(!isVisible());
        buildShape();
        update();
        return;
    }
    QWidget::timerEvent(e);
}

void CBorderDlg::paintEvent(QPaintEvent*) {
    if (!isVisible()) return;
    QPainter p(this);
    p.fillRect(rect(), QColor(255, 0, 0));
}

}  // namespace torvane
