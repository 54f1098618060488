#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include "DialogTestSupport.h"
#include "settings/CSelectRegionDlg.h"

using namespace dialogtest;
using torvane::CSelectRegionDlg;
using torvane::ScreenRect;

namespace {

// Runs the selection modally and lets `interact` act on it once it is up.
ScreenRect runSelection(std::function<void(CSelectRegionDlg*)> interact, int* result = nullptr) {
    CSelectRegionDlg dlg;
    whenModal([&](QDialog* d) { interact(static_cast<CSelectRegionDlg*>(d)); });
    const int r = dlg.exec();
    if (result) *result = r;
    return dlg.selectedRect();
}

void key(QWidget* w, int k) {
    QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

}  // namespace

TEST(SelectRegionDialog, CoversThePrimaryScreenWithTheFrozenPictureAndHint) {
    CSelectRegionDlg dlg;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(dlg.geometry(), screen);
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    const QImage& picture = dlg.frozenPicture();
    ASSERT_EQ(picture.size(), screen.size());
    // White letters in the middle band, nothing near the corners.
    int white = 0, glow = 0;
    for (int y = screen.height() / 2 - 30; y < screen.height() / 2 + 30; ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            if (p == qRgb(255, 255, 255)) ++white;
            else if (qBlue(p) > qRed(p) + 8) ++glow;   // the bluish halo round the letters
        }
    EXPECT_GT(white, 500);
    EXPECT_GT(glow, 100);
    EXPECT_EQ(picture.pixel(2, 2), picture.pixel(picture.width() - 3, picture.height() - 3));
}

TEST(SelectRegionDialog, ReverseDragsGiveTheSameRectangle) {
    int result = 0;
    const ScreenRect forward = runSelection([](CSelectRegionDlg* d) { drag(d, {300, 200}, {650, 480}); }, &result);
    EXPECT_EQ(result, QDialog::Accepted);
    const ScreenRect backward = runSelection([](CSelectRegionDlg* d) { drag(d, {650, 480}, {300, 200}); });
    EXPECT_EQ(forward, (ScreenRect{300, 200, 650, 480}));
    EXPECT_EQ(backward, forward);
}

TEST(SelectRegionDialog, ShortDragsAreWidenedToTwoHundredInTheirDirection) {
    EXPECT_EQ(runSelection([](CSelectRegionDlg* d) { drag(d, {400, 300}, {450, 620}); }),
              (ScreenRect{400, 300, 600, 620}));
    EXPECT_EQ(runSelection([](CSelectRegionDlg* d) { drag(d, {400, 300}, {350, 250}); }),
              (ScreenRect{200, 100, 400, 300}));
}

TEST(SelectRegionDialog, ClickEscapeEnterAndAbandonedDrags) {
    // A click without movement: empty at the point.
    EXPECT_EQ(runSelection([](CSelectRegionDlg* d) {
                  sendMouse(d, QEvent::MouseButtonPress, {120, 80}, Qt::LeftButton, Qt::LeftButton);
                  sendMouse(d, QEvent::MouseButtonRelease, {120, 80}, Qt::LeftButton, Qt::NoButton);
              }),
              (ScreenRect{120, 80, 120, 80}));
    // Escape during a drag abandons it: still accepted, empty at the pressed point.
    int result = 0;
    EXPECT_EQ(runSelection(
                  [](CSelectRegionDlg* d) {
                      sendMouse(d, QEvent::MouseButtonPress, {50, 60}, Qt::LeftButton, Qt::LeftButton);
                      sendMouse(d, QEvent::MouseMove, {400, 400}, Qt::NoButton, Qt::LeftButton);
                      EXPECT_EQ(d->trackerRect(), QRect(QPoint(50, 60), QPoint(399, 399)));
                      key(d, Qt::Key_Escape);
                  },
                  &result),
              (ScreenRect{50, 60, 50, 60}));
    EXPECT_EQ(result, QDialog::Accepted);
    // The right button abandons too.
    EXPECT_EQ(runSelection([](CSelectRegionDlg* d) {
                  sendMouse(d, QEvent::MouseButtonPress, {70, 90}, Qt::LeftButton, Qt::LeftButton);
                  sendMouse(d, QEvent::MouseMove, {500, 500}, Qt::NoButton, Qt::LeftButton);
                  sendMouse(d, QEvent::MouseButtonPress, {500, 500}, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
              }),
              (ScreenRect{70, 90, 70, 90}));
    // Escape before any drag cancels; Enter accepts the empty rectangle.
    runSelection([](CSelectRegionDlg* d) { key(d, Qt::Key_Escape); }, &result);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(runSelection([](CSelectRegionDlg* d) { key(d, Qt::Key_Return); }, &result), (ScreenRect{0, 0, 0, 0}));
    EXPECT_EQ(result, QDialog::Accepted);
}
