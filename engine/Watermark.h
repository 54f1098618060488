#pragma once
// The image watermark stamped into every captured picture, before scaling. One object per capture
// worker: the image is loaded on the first picture and kept across pause and resume.

#include <QImage>
#include <QRect>

#include "settings/CaptureSettings.h"

namespace torvane {

class CWatermark {
public:
    explicit CWatermark(const WatermarkSettings& s);

    // Draws the image (any format Qt reads) stretched into its rectangle, its own alpha multiplied
    // by the opacity. An unreadable image draws nothing and says nothing.
    void draw(QImage& picture);
    // The same onto `part`, which holds the pixels from `origin` on of a picture of `pictureSize`:
    // inside the part, the pixels draw() would give that picture.
    void drawPart(QImage& part, const QPoint& origin, const QSize& pictureSize);
    // The part of a picture of `pictureSize` that draw() changes; empty when it draws nothing.
    QRect footprint(const QSize& pictureSize);

    // For diagnostics and tests: whether the image was loaded, and where it goes.
    bool loaded() const { return !scaled_.isNull(); }
    QRect destination() const { return destination_; }

private:
    void prepare(const QSize& pictureSize);

    WatermarkSettings settings_;
    bool prepared_ = false;
    QImage scaled_;   // the image already stretched to the destination size, premultiplied
    QRect destination_;
    double opacity_ = 0.0;
};

}  // namespace torvane
