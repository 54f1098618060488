// What changed on a Wayland desktop, from the damage its pictures carry: a test producer plays the
// desktop, paints rectangles and tells them. A picture rebuilt from the first one by taking over
// only the parts told at each grab must end as the screen is; a desktop that tells no damage
// leaves the parts unknown.
#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "TestScreenProducer.h"
#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/WaylandScreenSource.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

// The monitor lies at (1000, 50) on the desktop.
constexpr ScreenRect kMonitor{1000, 50, 1000 + kW, 50 + kH};

struct Desktop {
    Producer producer;
    std::shared_ptr<wayland::PipeWireStream> stream;
    std::unique_ptr<wayland::WaylandScreenSource> source;

    void open(bool tellDamage) {
        producer.scene = true;
        producer.tellDamage = tellDamage;
        std::string why;
        stream = producer.connect(why);
        ASSERT_TRUE(stream) << why;
        source = std::make_unique<wayland::WaylandScreenSource>(stream, kMonitor, kW, kH);
    }
    // Waits until the stream has a picture the last grab did not see.
    bool waitForChange() {
        for (int i = 0; i < 400; ++i) {
            if (source->changedSince(kMonitor.left, kMonitor.top)) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    QImage read() {
        QImage copy;
        source->readPicture([&](const QImage& p) { copy = p.convertToFormat(QImage::Format_RGB32); });
        return copy;
    }
};

}  // namespace

TEST(WaylandDamage, PartsToldAtEachGrabRebuildTheScreen) {
    Desktop d;
    d.open(true);
    std::vector<ScreenRect> parts;
    ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
    EXPECT_FALSE(d.source->changedParts(parts)) << "the first grab has nothing before it";
    QImage rebuilt = d.read();

    std::mt19937 random(3);
    int64_t toldArea = 0;
    int grabs = 0, unknown = 0;
    for (int round = 0; round < 40; ++round) {
        // One to three rectangles, now within one picture, now over several.
        const int n = 1 + int(random() % 3);
        for (int k = 0; k < n; ++k) {
            d.producer.paint(int(random() % kW) - 10, int(random() % kH) - 10, 5 + int(random() % 60),
                             5 + int(random() % 40), uint32_t(random()) & 0xFFFFFF);
            if (round % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 60));
        }
        ASSERT_TRUE(d.waitForChange()) << "round " << round << ": " << d.producer.pictures.load()
                                       << " pictures sent; the producer's stream was " << d.producer.statesSeen();
        ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
        const bool known = d.source->changedParts(parts);
        const QImage now = d.read();
        ++grabs;
        if (!known) {
            // A picture was lost on the way (PipeWire hands on the newest one queued): all may differ.
            rebuilt = now;
            ++unknown;
            continue;
        }
        for (const ScreenRect& r : parts) {
            ASSERT_GE(r.left, kMonitor.left);
            ASSERT_GE(r.top, kMonitor.top);
            ASSERT_LE(r.right, kMonitor.right);
            ASSERT_LE(r.bottom, kMonitor.bottom);
            const QRect local(r.left - kMonitor.left, r.top - kMonitor.top, r.width(), r.height());
            for (int y = local.top(); y <= local.bottom(); ++y)
                std::memcpy(rebuilt.scanLine(y) + local.left() * 4, now.constScanLine(y) + local.left() * 4,
                            size_t(local.width()) * 4);
            toldArea += int64_t(local.width()) * local.height();
        }
    }
    // Quiet: no new picture, and a grab then tells nothing changed.
    std::this_thread::sleep_for(150ms);
    if (d.source->changedSince(kMonitor.left, kMonitor.top)) {
        ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
        if (!d.source->changedParts(parts)) parts.assign(1, kMonitor);
        const QImage now = d.read();
        for (const ScreenRect& r : parts) {
            const QRect local(r.left - kMonitor.left, r.top - kMonitor.top, r.width(), r.height());
            for (int y = local.top(); y <= local.bottom(); ++y)
                std::memcpy(rebuilt.scanLine(y) + local.left() * 4, now.constScanLine(y) + local.left() * 4,
                            size_t(local.width()) * 4);
        }
    }
    ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
    ASSERT_TRUE(d.source->changedParts(parts));
    EXPECT_TRUE(parts.empty()) << parts.size() << " parts told with nothing painted";
    EXPECT_FALSE(d.source->changedSince(kMonitor.left, kMonitor.top));
    const QImage last = d.read();
    int wrong = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) wrong += rebuilt.pixel(x, y) != last.pixel(x, y);
    EXPECT_EQ(wrong, 0) << "pixels changed outside every part told";
    // The parts are what was painted, not whole pictures, and most grabs knew them.
    EXPECT_LT(toldArea, int64_t(grabs) * kW * kH / 4);
    EXPECT_LE(unknown * 2, grabs) << unknown << " of " << grabs << " grabs did not know what changed";

    // A picture lost on the way, its damage with it: the next grab cannot tell what changed.
    {
        std::lock_guard lock(d.producer.sceneLock);
        d.producer.loseNext = true;
    }
    d.producer.paint(0, 0, 30, 30, 0x123456);
    std::this_thread::sleep_for(150ms);
    d.producer.paint(100, 100, 30, 30, 0x654321);
    ASSERT_TRUE(d.waitForChange());
    ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
    EXPECT_FALSE(d.source->changedParts(parts)) << "a lost picture's changes were not told, yet the parts were known";
    d.read();
    d.producer.paint(200, 100, 30, 30, 0xABCDEF);
    ASSERT_TRUE(d.waitForChange());
    ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
    EXPECT_TRUE(d.source->changedParts(parts)) << "known again after the next picture";

    // Another rectangle to grab from: the parts start afresh.
    ASSERT_TRUE(d.source->grab(kMonitor.left + 8, kMonitor.top));
    EXPECT_FALSE(d.source->changedParts(parts));
}

TEST(WaylandDamage, ADesktopThatTellsNoDamageLeavesThePartsUnknown) {
    Desktop d;
    d.open(false);
    std::vector<ScreenRect> parts;
    ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
    d.read();
    for (int round = 0; round < 3; ++round) {
        d.producer.paint(10 * round, 10, 20, 20, 0xFF0000);
        ASSERT_TRUE(d.waitForChange());
        ASSERT_TRUE(d.source->grab(kMonitor.left, kMonitor.top));
        EXPECT_FALSE(d.source->changedParts(parts)) << "round " << round;
        d.read();
    }
}
