#include "app/CounterDlg.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include "app/RecorderResources.h"

namespace torvane {

namespace {
constexpr int kTickMs = 1000;
constexpr int kBeepHz = 750;
constexpr int kBeepMs = 300;

QFont countdownFont(qreal points) {
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);   // the generic sans-serif family when Arial is missing
    f.setPointSizeF(points);
    return f;
}
}  // namespace

CCounterDlg::CCounterDlg(QWidget* mainWindow)
    : QDialog(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Dialog), mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("CCounterDlg"));
    setAttribute(Qt::WA_OpaquePaintEvent);   // painting covers the whole client area
    setAttribute(Qt::WA_NoSystemBackground);
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(windowRect(screen->availableGeometry()));
}

CCounterDlg::~CCounterDlg() = default;

CCounterDlg::TextTops CCounterDlg::textTops(int clientHeight) {
    const int half = clientHeight / 2;
    return {half - 20, half + 40, half - 130};
}

QRect CCounterDlg::windowRect(const QRect& workArea) {
    return QRect(0, 0, workArea.x() + workArea.width(), workArea.y() + workArea.height());
}

void CCounterDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (initialised_) return;
    initialised_ = true;
    if (mainWindow_) mainWindow_->showMinimized();
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(windowRect(screen->availableGeometry()));
    raise();
    activateWindow();
    if (count > 0) timer_.start(kTickMs, this);
}

void CCounterDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() != timer_.timerId()) {
        QDialog::timerEvent(e);
        return;
    }
    --count;
    if (count == 0) {
        timer_.stop();
        accept();
        return;
    }
    update();
}

void CCounterDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (count < 2) beeper_.play(kBeepHz, kBeepMs);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(QColor(255, 255, 255, 255));
    const TextTops tops = textTops(height());
    auto drawCentred = [&](const QString& s, const QFont& font, int top) {
        p.setFont(font);
        const qreal w = QFontMetricsF(font).horizontalAdvance(s);
        const qreal x = (width() - w) * 0.5;
        p.drawText(QRectF(x, top, w, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine, s);
    };
    const QFont lines = countdownFont(30);
    drawCentred(text::kCountdownLine1, lines, tops.line1);
    drawCentred(text::kCountdownLine2, lines, tops.line2);
    drawCentred(QString::number(count), countdownFont(70), tops.number);
}

void CCounterDlg::keyPressEvent(QKeyEvent* e) {
    // Enter must not end the count; Esc cancels as in any dialog.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace torvane
