#include "settings/CSelectRegionDlg.h"

#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QCursor>
#include <QScreen>
#include <QShowEvent>
#include <QtMath>
#include <cstdlib>

#include "platform/x11/Monitors.h"
namespace torvane {

namespace {
CSelectRegionDlg::ScreenOpener& screenOpener() {
    static CSelectRegionDlg::ScreenOpener opener;
    return opener;
}
}  // namespace

void CSelectRegionDlg::setScreenOpener(ScreenOpener opener) { screenOpener() = std::move(opener); }

namespace {
// The window system's screen showing the shared monitor `m` (device pixels): one of its shape, the
// one already chosen or the one at the monitor's place when several have it (a portal need not
// tell the place), else `chosen`.
QScreen* sharedScreen(const ScreenRect& m, QScreen* chosen) {
    auto sameShape = [&m](const QScreen* s) {
        const QRect g = s->geometry();
        return g.width() > 0 && std::abs(qRound(g.height() * qreal(m.width()) / g.width()) - m.height()) <= 2;
    };
    if (chosen && sameShape(chosen)) return chosen;
    QScreen* found = nullptr;
    for (QScreen* s : QGuiApplication::screens()) {
        if (!sameShape(s)) continue;
        if (s->geometry().topLeft() == QPoint(m.left, m.top)) return s;
        if (!found) found = s;
    }
    return found ? found : chosen;
}
}  // namespace

CSelectRegionDlg::CSelectRegionDlg() : QDialog(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("IDD_SELECT_REGION"));
    setAttribute(Qt::WA_OpaquePaintEvent, true);   // the frozen picture covers everything
    setAttribute(Qt::WA_NoSystemBackground, true);
    setCursor(Qt::CrossCursor);

    // The monitor the pointer is on: the user marks an area where they are looking.
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    screenGeometry_ = screen ? screen->geometry() : QRect(0, 0, 640, 480);
    ratio_ = screen ? screen->devicePixelRatio() : 1;
    // Qt works in logical units on a scaled screen; what is grabbed and recorded is in the
    // screen's device pixels.
    const QRect& g = screenGeometry_;
    deviceGeometry_ = QRect(qRound(g.x() * ratio_), qRound(g.y() * ratio_), qRound(g.width() * ratio_),
                            qRound(g.height() * ratio_));
    // With a different ratio on each monitor Qt keeps the monitors' places unscaled: the X server
    // knows the monitor's own device rectangle by the same name.
    if (screen && !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        for (const x11::Monitor& m : x11::listMonitors(nullptr)) {
            if (QString::fromStdString(m.name) == screen->name() && std::abs(m.rect.width() - deviceGeometry_.width()) <= 2 &&
                std::abs(m.rect.height() - deviceGeometry_.height()) <= 2)
                deviceGeometry_ = QRect(m.rect.left, m.rect.top, m.rect.width(), m.rect.height());
        }
    }
    const QRect& d = deviceGeometry_;
    const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (const ScreenOpener& open = screenOpener()) {
        std::string why;
        source_ = open({d.left(), d.top(), d.right() + 1, d.bottom() + 1}, &why);
        // A Wayland desktop shares one monitor, in its device pixels: that is the screen marked on.
        // Its ratio comes from the pixels, as Qt may round a fractional one (150 %) up.
        const ScreenRect m = source_ ? source_->desktopRect() : ScreenRect{};
        if (wayland && m.width() > 0 && m.height() > 0 && QRect(m.left, m.top, m.width(), m.height()) != d) {
            screen = sharedScreen(m, screen);
            if (screen) {
                screenGeometry_ = screen->geometry();
                setScreen(screen);
            }
            deviceGeometry_ = QRect(m.left, m.top, m.width(), m.height());
            ratio_ = screenGeometry_.width() > 0 ? qreal(m.width()) / screenGeometry_.width() : 1;
            source_ = open(m, &why);
        }
        if (source_ && source_->grab(d.x(), d.y())) picture_ = source_->picture().copy();
    }
    if (screen && picture_.isNull()) {
        const QPixmap grab = screen->grabWindow(0, g.x(), g.y(), g.width(), g.height());
        picture_ = grab.toImage().convertToFormat(QImage::Format_RGB32);
    }
    // A platform that cannot grab still gets a picture of the screen's size to draw on.
    if (picture_.size() != d.size()) {
        picture_ = QImage(d.size(), QImage::Format_RGB32);
        picture_.fill(Qt::black);
    }
    picture_.setDevicePixelRatio(1);
    drawHint(picture_, ratio_);
    setGeometry(screenGeometry_);
    // A native Wayland window cannot place itself; full screen is where the compositor puts it.
    if (wayland) setWindowState(Qt::WindowFullScreen);
}

void CSelectRegionDlg::drawHint(QImage& picture, qreal scale) {
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qMax(1, qRound(48 * scale)));   // the picture is in device pixels
    QPainterPath path;
    path.addText(0, 0, font, hintText());
    // Centre the text's bounding box in the picture.
    const QRectF box = path.boundingRect();
    path.translate(picture.width() / 2.0 - box.center().x(), picture.height() / 2.0 - box.center().y());
    const QColor glow(0, 128, 192, 32);
    for (int width = 1; width <= 7; ++width) {
        p.strokePath(path, QPen(glow, width * scale, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    p.fillPath(path, Qt::white);
}

void CSelectRegionDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Topmost and with the keyboard, so Escape and Enter reach it.
    raise();
    activateWindow();
}

QRect CSelectRegionDlg::band() const {
    auto extent = [](int from, int to) {
        int size = to - from;
        // Too short: the minimum, in the direction of the drag (rightward / downward when none).
        if (size >= 0 && size < kMinTrackSize) size = kMinTrackSize;
        if (size < 0 && size > -kMinTrackSize) size = -kMinTrackSize;
        return std::pair{std::min(from, from + size), std::max(from, from + size)};
    };
    const auto [l, r] = extent(anchor_.x(), current_.x());
    const auto [t, b] = extent(anchor_.y(), current_.y());
    return QRect(QPoint(l, t), QPoint(r - 1, b - 1));
}

QPoint CSelectRegionDlg::toDevice(QPointF windowPoint) const {
    // At a fractional ratio the window system's pointer positions come in whole logical units,
    // a device pixel or two off: the screen source knows the pointer to the device pixel.
    int x = 0, y = 0;
    const QPoint estimate(qRound(windowPoint.x() * ratio_), qRound(windowPoint.y() * ratio_));
    if (ratio_ != 1 && source_ && source_->pointer(x, y)) {
        const QPoint exact = QPoint(x, y) - deviceGeometry_.topLeft();
        // Only when it is the same event's place (the pointer may have moved on since).
        if ((exact - estimate).manhattanLength() <= 2 * qCeil(ratio_)) return exact;
    }
    return estimate;
}

QRect CSelectRegionDlg::toWindow(const QRect& device) const {
    const QPoint from(qRound(device.left() / ratio_), qRound(device.top() / ratio_));
    const QPoint to(qRound((device.right() + 1) / ratio_), qRound((device.bottom() + 1) / ratio_));
    return QRect(from, to - QPoint(1, 1));
}

void CSelectRegionDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The device-pixel picture over the whole window: at full resolution on a scaled screen.
    p.drawImage(QRectF(rect()), picture_, QRectF(picture_.rect()));
    if (dragging_ && moved_) {
        // A dotted band drawn with inverted colours stays visible on any picture.
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.setPen(QPen(Qt::white, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(toWindow(band()).adjusted(0, 0, -1, -1));
    }
}

void CSelectRegionDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !dragging_) {
        dragging_ = true;
        moved_ = false;
        anchor_ = current_ = toDevice(event->position());
        grabMouse();
        return;
    }
    if (event->button() == Qt::RightButton && dragging_) {
        finish(false);   // abandoned
        return;
    }
    QDialog::mousePressEvent(event);
}

void CSelectRegionDlg::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    const QPoint p = toDevice(event->position());
    if (p != anchor_) moved_ = true;
    current_ = p;
    update();
}

void CSelectRegionDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return;
    current_ = toDevice(event->position());
    if (current_ != anchor_) moved_ = true;
    finish(moved_);
}

void CSelectRegionDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            if (dragging_)
                finish(false);
            else
                reject();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!dragging_) accept();   // the empty rectangle from construction
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CSelectRegionDlg::finish(bool moved) {
    releaseMouse();
    dragging_ = false;
    const QPoint origin = deviceGeometry_.topLeft();
    if (moved) {
        const QRect r = band().translated(origin);
        selected_ = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    } else {
        // A click or an abandoned drag: an empty rectangle at the pressed point.
        const QPoint p = anchor_ + origin;
        selected_ = {p.x(), p.y(), p.x(), p.y()};
    }
    accept();
}

}  // namespace torvane
