// The desktop's last change before the screen goes still reaches the recording: a picture the
// desktop could not hand over (no buffer free) is sent only at its next change, which on a still
// screen never comes. Checked on the headless desktop through its screen cast portal.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "engine/ScreenSources.h"
#include "tests/system/engine/XPainter.h"

using namespace torvane;

TEST(StillAfterChange, EveryChangeIsSeenWhileTheScreenStaysStill) {
    ScreenRect monitor;
    std::string why;
    ASSERT_TRUE(screenCastMonitor(monitor, &why)) << why;
    ScreenSettings screen;
    screen.rect = monitor;
    std::unique_ptr<IScreenSource> source = openScreenSource(screen, &why);
    ASSERT_TRUE(source) << why;

    XPainter x;
    ASSERT_TRUE(x.ok());
    const uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF};
    const uint32_t window = x.window(100, 100, 200, 200, colours[0]);
    // Changes a few milliseconds apart, then nothing: each must show within a few seconds.
    for (int i = 1; i <= 25; ++i) {
        const uint32_t want = colours[i % 5];
        x.setColour(window, want);
        QElapsedTimer t;
        t.start();
        uint32_t seen = 0;
        while (t.elapsed() < 5000) {
            ASSERT_TRUE(source->grab(monitor.left, monitor.top)) << source->lastError();
            seen = source->picture().pixel(200 - monitor.left, 200 - monitor.top) & 0xFFFFFF;
            if (seen == want) break;
            QThread::msleep(i % 2 ? 2 : 40);
        }
        EXPECT_EQ(seen, want) << "change " << i << " did not reach the picture in 5 s";
        if (seen != want) break;
    }
    x.destroy(window);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
