#pragma once
// The screen of a Wayland desktop: a crop of the monitor the screen cast portal shares.

#include <memory>
#include <string>

#include "platform/screen/ScreenSource.h"
#include "platform/wayland/PipeWireStream.h"

namespace torvane::wayland {

class WaylandScreenSource final : public IScreenSource {
public:
    // Pictures of width x height from `stream`, whose monitor lies at `monitor` on the desktop.
    WaylandScreenSource(std::shared_ptr<PipeWireStream> stream, ScreenRect monitor, int width, int height);

    bool grab(int x, int y) override;
    QImage& picture() override { return picture_; }
    // Any new picture from the desktop may hold a change; none came means nothing changed.
    bool changedSince(int x, int y) override;
    // Known where the portal sends the pointer beside the picture (cursor metadata); where it draws
    // the pointer into the picture itself, its place is not known here.
    bool pointer(int& x, int& y) override;
    ScreenRect desktopRect() const override { return monitor_; }
    const std::string& lastError() const override { return error_; }

private:
    std::shared_ptr<PipeWireStream> stream_;
    ScreenRect monitor_;
    QImage picture_;
    uint64_t grabbedSequence_ = 0;
    int lastX_ = 0, lastY_ = 0;
    std::string error_;
};

}  // namespace torvane::wayland
