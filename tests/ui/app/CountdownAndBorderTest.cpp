#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include <QKeyEvent>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/BorderDlg.h"
#include "app/CounterDlg.h"

using namespace torvane;

TEST(Countdown, TextPositionsAndWindowFollowTheWorkArea) {
    // 1920 x 1080 with a 40-pixel taskbar at the bottom.
    EXPECT_EQ(CCounterDlg::windowRect(QRect(0, 0, 1920, 1040)), QRect(0, 0, 1920, 1040));
    const CCounterDlg::TextTops t = CCounterDlg::textTops(1040);
    EXPECT_EQ(t.line1, 500);
    EXPECT_EQ(t.line2, 560);
    EXPECT_EQ(t.number, 390);
    // A work area that starts right of a side panel still reaches from the screen's corner.
    EXPECT_EQ(CCounterDlg::windowRect(QRect(64, 0, 1216, 720)), QRect(0, 0, 1280, 720));
}

TEST(Countdown, BeepsOnlyWhileOneIsShown) {
    CCounterDlg counter(nullptr);
    counter.count = 0;   // no timer: the number is set by hand
    counter.resize(640, 360);
    for (int n : {5, 4, 3, 2}) {
        counter.count = n;
        (void)counter.grab();
    }
    EXPECT_EQ(counter.beepsStarted(), 0);
    counter.count = 1;
    (void)counter.grab();
    EXPECT_EQ(counter.beepsStarted(), 1);
    // Drawn black with white text.
    counter.count = 3;
    const QImage img = counter.grab().toImage();
    EXPECT_EQ(img.pixelColor(2, 2), QColor(Qt::black));
    bool white = false;
    for (int y = 0; y < img.height() && !white; ++y)
        for (int x = 0; x < img.width() && !white; ++x) white = img.pixelColor(x, y) == QColor(Qt::white);
    EXPECT_TRUE(white);
}

TEST(Countdown, RunsOutWithAcceptedAndEscapeCancelsButEnterDoesNot) {
    QWidget main;
    main.show();
    {
        CCounterDlg counter(&main);
        counter.count = 2;
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(counter.exec(), QDialog::Accepted);
        EXPECT_GE(t.elapsed(), 1900);
        EXPECT_LT(t.elapsed(), 4000);
        EXPECT_EQ(counter.count, 0);
    }
    {
        CCounterDlg counter(&main);
        counter.count = 5;
        QTimer::singleShot(300, &counter, [&] {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QCoreApplication::sendEvent(&counter, &enter);
        });
        QTimer::singleShot(600, &counter, [&] {
            EXPECT_TRUE(counter.isVisible());   // Enter did not end it
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(&counter, &esc);
        });
        EXPECT_EQ(counter.exec(), QDialog::Rejected);
        EXPECT_EQ(counter.count, 5);
    }
}

TEST(Border, RingLiesJustOutsideTheRectangle) {
    CBorderDlg border;
    EXPECT_FALSE(border.isVisible());
    border.showRound({100, 100, 740, 580});
    EXPECT_EQ(border.geometry(), QRect(96, 96, 648, 488));   // 96,96 .. 744,584 exclusive
    const QRegion shape = border.shape();
    EXPECT_EQ(shape, border.mask());
    // In window coordinates the hole is 4..652 x 4..492, i.e. exactly the capture rectangle.
    EXPECT_TRUE(shape.contains(QPoint(0, 0)));
    EXPECT_TRUE(shape.contains(QPoint(3, 3)));
    EXPECT_TRUE(shape.contains(QPoint(647, 487)));
    EXPECT_FALSE(shape.contains(QPoint(4, 4)));
    EXPECT_FALSE(shape.contains(QPoint(643, 483)));
    EXPECT_TRUE(shape.contains(QPoint(644, 300)));
    EXPECT_TRUE(shape.contains(QPoint(300, 3)));
    EXPECT_EQ(QRegion(QRect(0, 0, 648, 488)).subtracted(shape), QRegion(QRect(4, 4, 640, 480)));
    EXPECT_TRUE(border.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(border.windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_TRUE(border.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(border.windowFlags() & Qt::WindowStaysOnTopHint);
}

// On a screen Qt scales (the test also runs under QT_SCALE_FACTOR 2 and 1.5) the area is in device
// pixels and the window in logical ones: the hole of the ring covers the area and not a whole logical
// pixel more.
TEST(Border, RingLiesJustOutsideTheRectangleAtTheScreensScale) {
    const double ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    CBorderDlg border;
    const ScreenRect area{301, 200, 739, 581};
    border.showRound(area);
    const int w = CBorderDlg::kFrameWidth;
    const QRect hole = border.geometry().adjusted(w, w, -w, -w);
    EXPECT_LE(hole.left() * ratio, area.left);
    EXPECT_GT((hole.left() + 1) * ratio, area.left);
    EXPECT_LE(hole.top() * ratio, area.top);
    EXPECT_GT((hole.top() + 1) * ratio, area.top);
    EXPECT_GE((hole.left() + hole.width()) * ratio, area.right);
    EXPECT_LT((hole.left() + hole.width() - 1) * ratio, area.right);
    EXPECT_GE((hole.top() + hole.height()) * ratio, area.bottom);
    EXPECT_LT((hole.top() + hole.height() - 1) * ratio, area.bottom);
    border.hideBorder();
}

TEST(Border, BlinksEveryHalfSecondAndHideStopsIt) {
    CBorderDlg border;
    border.showRound({0, 0, 320, 200});   // touching the screen edge: part of the ring is off screen
    EXPECT_EQ(border.geometry(), QRect(-4, -4, 328, 208));
    EXPECT_TRUE(border.isVisible());
    test::spin(650);
    EXPECT_FALSE(border.isVisible());
    test::spin(500);
    EXPECT_TRUE(border.isVisible());
    border.hideBorder();
    EXPECT_FALSE(border.isVisible());
    EXPECT_TRUE(border.shape().isEmpty());
    test::spin(600);
    EXPECT_FALSE(border.isVisible());
    border.showRound({10, 10, 330, 210});
    EXPECT_TRUE(border.isVisible());   // a new show starts from the visible phase
    EXPECT_TRUE(border.blinking());
}
