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

    // Takes note of the rectangle; the pixels are taken from the stream when first asked for.
    bool grab(int x, int y) override;
    // Copies the picture from the stream's buffer, once a grab.
    QImage& picture() override;
    // Views the stream's buffer where it can (the rectangle wholly on the monitor), in its order.
    void readPicture(const std::function<void(const QImage&)>& read) override;
    // Any new picture from the desktop may hold a change; none came means nothing changed.
    bool changedSince(int x, int y) override;
    // What the desktop told changed (its damage) in the pictures up to the grab, since the grab before.
    bool changedParts(std::vector<ScreenRect>& parts) override;
    // Known where the portal sends the pointer beside the picture (cursor metadata); where it draws
    // the pointer into the picture itself, its place is not known here.
    bool pointer(int& x, int& y) override;
    ScreenRect desktopRect() const override { return monitor_; }
    const std::string& lastError() const override { return error_; }

private:
    std::shared_ptr<PipeWireStream> stream_;
    ScreenRect monitor_;
    QImage picture_;
    bool copied_ = false;   // picture_ holds the last grab's pixels
    // The newest picture at the last grab. The pixels read may be of a newer one: its changes
    // are then told by the next grab, and changedSince() asks for it.
    uint64_t grabbedSequence_ = 0;
    std::vector<ScreenRect> parts_;   // stream coordinates
    bool partsKnown_ = false;
    bool grabbed_ = false;
    int lastX_ = 0, lastY_ = 0;
    std::string error_;
};

}  // namespace torvane::wayland
