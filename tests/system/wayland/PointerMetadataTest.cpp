// The pointer sent beside the picture (cursor metadata), as desktops that offer it do: a test
// producer on the environment's PipeWire plays the desktop's side of a screen cast, and the
// Wayland screen source must tell the pointer where the producer put it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "TestScreenProducer.h"
#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/WaylandScreenSource.h"

using namespace torvane;
using namespace torvane::test;

namespace {

bool waitPointer(wayland::WaylandScreenSource& s, int wantX, int wantY) {
    for (int i = 0; i < 250; ++i) {
        int x = 0, y = 0;
        if (s.pointer(x, y) && x == wantX && y == wantY) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

TEST(PointerMetadata, ThePointerIsWhereTheProducerPutsItOnTheMonitor) {
    Producer producer;
    std::string why;
    std::shared_ptr<wayland::PipeWireStream> stream = producer.connect(why);
    ASSERT_TRUE(stream) << why;
    // The monitor lies right of another one, at (1000, 50) on the desktop.
    wayland::WaylandScreenSource source(stream, {1000, 50, 1000 + kW, 50 + kH}, 100, 100);
    int x = 0, y = 0;
    EXPECT_FALSE(source.pointer(x, y)) << "no metadata sent yet, yet a pointer at " << x << "," << y;
    producer.x = 30;
    producer.y = 40;
    EXPECT_TRUE(waitPointer(source, 1030, 90));
    producer.x = 300;
    producer.y = 5;
    EXPECT_TRUE(waitPointer(source, 1300, 55));
    // The picture still comes through beside it.
    ASSERT_TRUE(source.grab(1010, 60)) << source.lastError();
    EXPECT_EQ(source.picture().pixelColor(50, 50), QColor(0, 255, 0));
    // The pointer left the monitor: no longer known.
    producer.x = -1;
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) {
        gone = !source.pointer(x, y);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(gone);
}
