#pragma once
// What the capture loop needs of a screen: the picture of a rectangle, whether it changed, and the
// pointer. One backend a desktop kind (X11, Wayland), each in its own folder.

#include <QImage>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/ScreenRect.h"

namespace torvane {

class IScreenSource {
public:
    virtual ~IScreenSource() = default;

    // Captures the rectangle of the source's size whose top-left is (x, y), in desktop coordinates,
    // for picture() and readPicture(). The part outside the screen is black. False when the screen
    // cannot be read any more (the display or the stream is gone); lastError() says why. A source
    // may take the pixels when they are first asked for instead: then they are no older than the
    // grab, and a change they hold that came after it may be reported once more by changedSince().
    virtual bool grab(int x, int y) = 0;

    // The picture of the last grab: 32-bit BGRX (QImage::Format_RGB32) of the size asked for, the
    // caller's to draw on until the next grab.
    virtual QImage& picture() = 0;

    // Calls `read` once with the picture of the last grab, read-only, with the pixels picture()
    // would give. A source that keeps the screen's pixels itself hands a view of them and saves
    // the copy picture() makes: the view is valid only during the call, which must be brief (the
    // source may hold back newer pixels meanwhile) and must not call the source. A view keeps the
    // source's byte order: QImage::Format_RGB32 (BGRX) or Format_RGBX8888 (RGBX); its format says
    // which.
    virtual void readPicture(const std::function<void(const QImage&)>& read) { read(picture()); }

    // Whether the screen inside the rectangle of the source's size at (x, y) may have changed since
    // the last grab began, asked without grabbing and without blocking. Asking again before the
    // next grab answers true again once it has answered true. A change the server made while a grab
    // was reading may be reported once more after it (a spare picture, never a missed one). A
    // rectangle other than the last grab's, no grab yet, or a source that cannot tell: true.
    virtual bool changedSince(int x, int y) {
        (void)x;
        (void)y;
        return true;
    }

    // After a grab: the parts of its rectangle (desktop coordinates) that may differ from the grab
    // before it; nothing outside them does. False when the source cannot tell (then all may
    // differ): no such reports, the first grab, another rectangle than the last one.
    virtual bool changedParts(std::vector<ScreenRect>& parts) {
        (void)parts;
        return false;
    }

    // The pointer position in desktop coordinates; false when it is not known.
    virtual bool pointer(int& x, int& y) = 0;

    // A number that changes whenever the pointer's shape changes, without blocking; 0 when the
    // source cannot tell (then the shape is taken as constant: the overlay draws its own arrow).
    virtual uint64_t cursorShapeSerial() { return 0; }

    // The whole desktop in desktop coordinates.
    virtual ScreenRect desktopRect() const = 0;

    // The outer rectangle of a top-level window in desktop coordinates; false when the window is
    // gone or the source cannot see windows.
    virtual bool windowRect(uint32_t window, ScreenRect& rect) {
        (void)window;
        (void)rect;
        return false;
    }

    virtual const std::string& lastError() const = 0;
};

}  // namespace torvane
