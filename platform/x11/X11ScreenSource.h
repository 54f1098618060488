#pragma once
// The screen of an X server, grabbed through shared memory on a private connection.

#include <memory>
#include <string>

#include "platform/screen/ScreenSource.h"
#include "platform/x11/ChangeWatch.h"
#include "platform/x11/ScreenGrabber.h"

namespace torvane::x11 {

class X11ScreenSource final : public IScreenSource {
public:
    // A source for pictures of width x height; null and `error` filled when it cannot be had.
    static std::unique_ptr<X11ScreenSource> open(int width, int height, std::string* error);

    bool grab(int x, int y) override;
    QImage& picture() override { return grabber_->picture(); }
    bool changedSince(int x, int y) override;
    bool changedParts(std::vector<ScreenRect>& parts) override { return watch_ && grabbed_ && watch_->changedParts(parts); }
    bool pointer(int& x, int& y) override;
    uint64_t cursorShapeSerial() override { return watch_ ? watch_->cursorSerial() : 0; }
    ScreenRect desktopRect() const override { return grabber_->screenRect(); }
    bool windowRect(uint32_t window, ScreenRect& rect) override;
    const std::string& lastError() const override { return error_; }

private:
    explicit X11ScreenSource(std::unique_ptr<ScreenGrabber> g);
    ScreenRect rectAt(int x, int y);

    std::unique_ptr<ScreenGrabber> grabber_;
    std::unique_ptr<ChangeWatch> watch_;   // null without the Damage extension: always changed
    bool grabbed_ = false;
    int grabX_ = 0, grabY_ = 0;
    std::string error_;
};

}  // namespace torvane::x11
