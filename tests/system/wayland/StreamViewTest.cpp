// Pictures read in place from the stream's buffer (readPicture), against the copy (picture()):
// the same pixels, a buffer that stays the reader's for the whole read, and buffers that go back
// to the desktop afterwards. A test producer plays the desktop's side.
#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "TestScreenProducer.h"
#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/WaylandScreenSource.h"

using namespace torvane;
using namespace torvane::test;

namespace {

// The monitor lies at (1000, 50) on the desktop.
constexpr ScreenRect kMonitor{1000, 50, 1000 + kW, 50 + kH};

class StreamView : public ::testing::Test {
protected:
    void SetUp() override {
        producer.pattern = true;
        std::string why;
        stream = producer.connect(why);
        ASSERT_TRUE(stream) << why;
    }
    Producer producer;
    std::shared_ptr<wayland::PipeWireStream> stream;
};

// A desktop whose pictures come in R, G, B order.
class StreamViewRgbx : public StreamView {
protected:
    void SetUp() override {
        producer.format = SPA_VIDEO_FORMAT_RGBx;
        StreamView::SetUp();
    }
};

// Where pixel (x, y) of `picture`, grabbed with its top-left at monitor pixel (left, top), does not
// show the producer's pattern of one picture (black off the monitor); "" when all do.
std::string patternFault(const QImage& picture, int left, int top) {
    const uint32_t tag = picture.pixel(std::max(0, -left), std::max(0, -top)) & 0xFF;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const int mx = left + x, my = top + y;
            const bool on = mx >= 0 && my >= 0 && mx < kW && my < kH;
            const uint32_t want = on ? 0xFF000000u | uint32_t(mx & 0xFF) << 16 | uint32_t(my & 0xFF) << 8 | tag : 0xFF000000u;
            if (picture.pixel(x, y) != want)
                return "at " + std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(picture.pixel(x, y)) +
                       " instead of " + std::to_string(want);
        }
    return "";
}

}  // namespace

TEST_F(StreamView, TheViewAndTheCopyShowTheSamePartOfTheMonitor) {
    wayland::WaylandScreenSource source(stream, kMonitor, 100, 80);
    // Inside the monitor the buffer is viewed; across its edge the view is refused and the copy,
    // black outside, serves instead.
    for (const auto& [x, y] : {std::pair{1000, 50}, {1037, 61}, {1000 + kW - 100, 50 + kH - 80}, {1000 + kW - 60, 40}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        ASSERT_TRUE(source.grab(x, y)) << source.lastError();
        int calls = 0;
        QImage read;
        source.readPicture([&](const QImage& p) {
            ++calls;
            read = p.copy();
        });
        EXPECT_EQ(calls, 1);
        ASSERT_EQ(read.size(), QSize(100, 80));
        EXPECT_EQ(patternFault(read, x - kMonitor.left, y - kMonitor.top), "");
        // Drawing on picture() afterwards must not reach the stream's buffer.
        ASSERT_TRUE(source.grab(x, y));
        source.picture().fill(Qt::white);
        QImage again;
        source.readPicture([&](const QImage& p) { again = p.copy(); });
        EXPECT_EQ(again.pixel(0, 0), 0xFFFFFFFFu) << "a read after picture() must show what was drawn";
        ASSERT_TRUE(source.grab(x, y));
        source.readPicture([&](const QImage& p) { again = p.copy(); });
        EXPECT_EQ(patternFault(again, x - kMonitor.left, y - kMonitor.top), "") << "the drawing reached the buffer";
    }
}

TEST_F(StreamView, TheBufferStaysTheReadersForTheWholeRead) {
    wayland::WaylandScreenSource source(stream, kMonitor, kW, kH);
    ASSERT_TRUE(source.grab(kMonitor.left, kMonitor.top));
    const uint32_t sentBefore = producer.pictures.load();
    uint32_t tagAtStart = 0, tagAtEnd = 0;
    source.readPicture([&](const QImage& p) {
        tagAtStart = p.pixel(kW - 1, kH - 1) & 0xFF;
        // The producer sends several pictures meanwhile, into its other buffers only.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        tagAtEnd = p.pixel(kW - 1, kH - 1) & 0xFF;
        EXPECT_EQ(patternFault(p, 0, 0), "");
    });
    EXPECT_EQ(tagAtStart, tagAtEnd) << "the buffer changed under the reader";
    EXPECT_GE(producer.pictures.load() - sentBefore, 2u) << "the producer did not send during the read";
    // The pictures sent meanwhile are news for the next turn.
    bool changed = false;
    for (int i = 0; i < 250 && !changed; ++i) {
        changed = source.changedSince(kMonitor.left, kMonitor.top);
        if (!changed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(changed);
}

TEST_F(StreamView, BuffersGoBackToTheDesktopAfterManyReads) {
    // With four buffers, a view that kept its buffer would starve the producer within four turns:
    // the pictures read would stop getting newer.
    wayland::WaylandScreenSource source(stream, kMonitor, kW, kH);
    uint64_t lastSequence = 0;
    int newer = 0;
    for (int turn = 0; turn < 40; ++turn) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        ASSERT_TRUE(source.grab(kMonitor.left, kMonitor.top)) << source.lastError();
        source.readPicture([&](const QImage& p) { EXPECT_EQ(patternFault(p, 0, 0), ""); });
        const uint64_t seq = stream->sequence();
        if (seq > lastSequence) ++newer;
        lastSequence = seq;
    }
    // 40 turns of 40 ms against 30 pictures a second: most turns see a new one, even under load.
    EXPECT_GE(newer, 20);
}

TEST_F(StreamViewRgbx, PicturesInRgbOrderAreViewedInTheirOrderAndCopiedInBgrOrder) {
    wayland::WaylandScreenSource source(stream, kMonitor, 100, 80);
    ASSERT_TRUE(source.grab(1037, 61)) << source.lastError();
    QImage::Format viewed = QImage::Format_Invalid;
    QImage read;
    source.readPicture([&](const QImage& p) {
        viewed = p.format();
        read = p.copy();
    });
    // Viewed unswizzled: the encoder converts from that order itself.
    EXPECT_EQ(viewed, QImage::Format_RGBX8888);
    EXPECT_EQ(patternFault(read, 37, 11), "");
    // picture() stays BGRX as its contract says, with the same colours.
    ASSERT_TRUE(source.grab(1037, 61));
    EXPECT_EQ(source.picture().format(), QImage::Format_RGB32);
    EXPECT_EQ(patternFault(source.picture(), 37, 11), "");
}
