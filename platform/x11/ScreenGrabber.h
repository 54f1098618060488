#pragma once
// Grabs rectangles of the X screen through one reused shared-memory segment.

#include <QImage>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/x11/XConnection.h"

namespace torvane::x11 {

class ScreenGrabber {
public:
    // A grabber for pictures of width x height on its own connection. Null and `error` filled when
    // the display or shared memory is not available.
    static std::unique_ptr<ScreenGrabber> open(int width, int height, std::string* error);
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // The picture the grabs land in: 32-bit BGRX (QImage::Format_RGB32) over the shared segment.
    QImage& picture() { return picture_; }

    // Grabs the rectangle whose top-left is (x, y) into picture(). The part outside the screen is
    // black. A refusal is tried once more against the screen's size asked afresh, as the screen may
    // have become smaller (a monitor's mode changed or one went away). False when the server
    // refused (the picture keeps what it had).
    bool grab(int x, int y);

    // The screen as last known; refreshScreen() asks the server, true when it changed.
    const ScreenRect& screenRect() const { return screen_; }
    bool refreshScreen();

    XConnection& connection() { return *conn_; }

private:
    ScreenGrabber() = default;
    bool grabPart(int srcX, int srcY, int w, int h, int dstX, int dstY);
    bool grabWithin(int x, int y);

    std::unique_ptr<XConnection> conn_;
    uint32_t shmSeg_ = 0;
    int shmId_ = -1;
    uint8_t* shmAddr_ = nullptr;
    size_t shmSize_ = 0;
    int width_ = 0, height_ = 0;
    ScreenRect screen_;
    QImage picture_;
};

}  // namespace torvane::x11
