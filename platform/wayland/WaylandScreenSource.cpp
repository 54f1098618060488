#include "platform/wayland/WaylandScreenSource.h"

namespace torvane::wayland {

WaylandScreenSource::WaylandScreenSource(std::shared_ptr<PipeWireStream> stream, ScreenRect monitor, int width,
                                         int height)
    : stream_(std::move(stream)), monitor_(monitor), picture_(width, height, QImage::Format_RGB32) {
    picture_.fill(Qt::black);
}

bool WaylandScreenSource::grab(int x, int y) {
    const uint64_t seq = stream_->sequence();
    if (!stream_->copyNewest(x - monitor_.left, y - monitor_.top, picture_, &error_)) return false;
    grabbedSequence_ = seq;
    lastX_ = x;
    lastY_ = y;
    return true;
}

bool WaylandScreenSource::changedSince(int x, int y) {
    // An ended stream counts as a change, so the next grab finds out and tells why.
    return x != lastX_ || y != lastY_ || stream_->sequence() != grabbedSequence_ || grabbedSequence_ == 0 ||
           stream_->ended();
}

bool WaylandScreenSource::pointer(int& x, int& y) {
    int sx = 0, sy = 0;
    if (!stream_->pointer(sx, sy)) return false;
    x = monitor_.left + sx;
    y = monitor_.top + sy;
    return true;
}

}  // namespace torvane::wayland
