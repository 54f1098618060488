#include "engine/Watermark.h"

#include <QPainter>
#include <QString>
#include <algorithm>
#include <iterator>

#include "engine/Placement.h"

namespace torvane {

namespace {
// Larger than any size the settings dialog accepts; bounds what stored values can allocate.
constexpr int kMaxWatermarkSide = 2000;
}  // namespace

CWatermark::CWatermark(const WatermarkSettings& s) : settings_(s) {
    opacity_ = std::clamp(settings_.opacity, 0, 100) / 100.0;
}

void CWatermark::prepare(const QSize& pictureSize) {
    prepared_ = true;
    const int w = settings_.width, h = settings_.height;
    if (w <= 0 || h <= 0 || w > kMaxWatermarkSide || h > kMaxWatermarkSide) return;

    const std::string path = fromUtf16Field(settings_.imagePath, std::size(settings_.imagePath));
    if (path.empty()) return;
    QImage image(QString::fromStdString(path));
    if (image.isNull()) return;

    // The destination is fixed for the worker's life, like the capture size.
    const PlacedPoint p = placeObject(settings_.position, 0, 0, pictureSize.width(), pictureSize.height(), w, h,
                                      settings_.marginX, settings_.marginY);
    destination_ = QRect(p.x, p.y, w, h);

    // Stretch once, bilinearly, into a transparent picture of the destination size; every frame then
    // only blends it. Blending a premultiplied stretch with an opacity gives the same pixels as
    // stretching with that opacity each time.
    scaled_ = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    scaled_.fill(Qt::transparent);
    QPainter painter(&scaled_);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(0, 0, w, h), image, image.rect());
}

void CWatermark::draw(QImage& picture) { drawPart(picture, {0, 0}, picture.size()); }

void CWatermark::drawPart(QImage& part, const QPoint& origin, const QSize& pictureSize) {
    if (footprint(pictureSize).isEmpty() || part.isNull()) return;
    QPainter painter(&part);
    painter.setOpacity(opacity_);
    painter.drawImage(destination_.topLeft() - origin, scaled_);
}

QRect CWatermark::footprint(const QSize& pictureSize) {
    if (!settings_.on || pictureSize.isEmpty()) return {};
    if (!prepared_) prepare(pictureSize);
    if (scaled_.isNull() || opacity_ <= 0.0) return {};
    return destination_.intersected(QRect(QPoint(0, 0), pictureSize));
}

}  // namespace torvane
