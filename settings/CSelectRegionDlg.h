#pragma once
// The screen area selection: a topmost window over the whole primary screen showing a frozen
// picture of it with a glowing hint; the user drags a rubber band (at least 200 x 200) and the
// window closes when the button is released.

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>
#include <memory>
#include <string>

#include "platform/screen/ScreenSource.h"
#include "settings/CaptureSettings.h"

namespace torvane {

class CSelectRegionDlg : public QDialog {
    Q_OBJECT
public:
    enum : int { IDD = 130 };
    static constexpr int kMinTrackSize = 200;
    static QString hintText() { return QStringLiteral("Drag the mouse to mark the screen area."); }

    // Freezes the primary screen at once.
    CSelectRegionDlg();

    // Opens the screen the still picture is taken from: the recordings' own source, so a Wayland
    // desktop is read through its portal. Without one, or when it fails, the window system's own
    // grab is used.
    using ScreenOpener = std::function<std::unique_ptr<IScreenSource>(const ScreenRect& screen, std::string* error)>;
    static void setScreenOpener(ScreenOpener opener);

    // After Accepted: the normalised rectangle in screen coordinates; empty (at the clicked point,
    // or (0, 0, 0, 0) after Enter) when nothing was dragged.
    ScreenRect selectedRect() const { return selected_; }

    // The frozen picture with the hint drawn into it.
    const QImage& frozenPicture() const { return picture_; }
    // The rubber band while dragging, in window coordinates; empty otherwise.
    QRect trackerRect() const { return dragging_ ? toWindow(band()) : QRect(); }

    // Draws the hint into `picture`, centred: the text stroked seven times with widening
    // translucent blue pens, then filled white; `scale`: device pixels per logical one.
    static void drawHint(QImage& picture, qreal scale = 1);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The rubber band from the anchor to the current point, widened to the minimum size in the
    // direction of the drag; in the screen's device pixels from its top-left corner.
    QRect band() const;
    void finish(bool moved);
    // Between the window's coordinates and the screen's device pixels: the window covers the
    // screen, at the screen's device pixel ratio (fractional ones included).
    QPoint toDevice(QPointF windowPoint) const;
    QRect toWindow(const QRect& device) const;

    std::unique_ptr<IScreenSource> source_;   // the screen the picture came from; may be null
    QImage picture_;          // the screen at its full resolution
    QRect screenGeometry_;    // the window's, in the window system's logical units
    QRect deviceGeometry_;    // the same in the screen's device pixels: what is recorded
    qreal ratio_ = 1;
    ScreenRect selected_;
    bool dragging_ = false;
    bool moved_ = false;
    QPoint anchor_;    // device pixels
    QPoint current_;
};

}  // namespace torvane
