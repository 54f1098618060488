#pragma once
// The red 4-pixel frame that blinks round a recorded screen area. It lies entirely outside the
// area, is shaped to a ring, stays on top and never takes focus or input.

#include <QBasicTimer>
#include <QRegion>
#include <QWidget>

#include "settings/CaptureSettings.h"

namespace torvane {

class CBorderDlg : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrameWidth = 4;
    static constexpr int kBlinkMs = 500;

    CBorderDlg();   // created hidden

    // Shows the frame round `r` (screen coordinates, right and bottom exclusive) and starts blinking
    // from the visible phase.
    void showRound(const ScreenRect& r);
    // Stops blinking, drops the shape and hides.
    void hideBorder();

    bool blinking() const { return timer_.isActive(); }
    QRegion shape() const { return shape_; }   // in window coordinates; empty while hidden by hideBorder()
    // The ring of width kFrameWidth just inside `outer`.
    static QRegion ring(const QRect& outer);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void buildShape();

    QRegion shape_;
    QBasicTimer timer_;
};

}  // namespace torvane
