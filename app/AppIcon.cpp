#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace torvane {

QImage recorderIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A dark screen with a red recording dot, on a grid of 16 units (the scalable icon draws the same).
    const qreal m = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 48, 60));
    p.drawRoundedRect(QRectF(m, 2 * m, size - 2 * m, size - 5 * m), 2 * m, 2 * m);
    p.setBrush(QColor(40, 48, 60));
    p.drawRect(QRectF(size / 2.0 - 2 * m, size - 3.5 * m, 4 * m, 2.5 * m));
    p.setBrush(QColor(230, 30, 30));
    p.drawEllipse(QPointF(size / 2.0, 2 * m + (size - 5 * m) / 2.0), 3.5 * m, 3.5 * m);
    p.end();
    return image;
}

QIcon recorderIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 22, 24, 32, 48, 64}) i.addPixmap(QPixmap::fromImage(recorderIconImage(size)));
        return i;
    }();
    return icon;
}

}  // namespace torvane
