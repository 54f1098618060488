#include "platform/wayland/WaylandScreenSource.h"

namespace torvane::wayland {

WaylandScreenSource::WaylandScreenSource(std::shared_ptr<PipeWireStream> stream, ScreenRect monitor, int width,
                                         int height)
    : stream_(std::move(stream)), monitor_(monitor), picture_(width, height, QImage::Format_RGB32) {
    picture_.fill(Qt::black);
}

bool WaylandScreenSource::grab(int x, int y) {
    if (stream_->ended()) {
        stream_->copyNewest(0, 0, picture_, &error_);   // an ended stream copies nothing, it says why
        return false;
    }
    // The sequence of the pixels read later is at least this one, so a picture that comes between
    // the grab and the read is at worst taken twice, never missed.
    const bool known = stream_->takeChanges(parts_, grabbedSequence_);
    partsKnown_ = known && grabbed_ && x == lastX_ && y == lastY_;
    grabbed_ = true;
    lastX_ = x;
    lastY_ = y;
    copied_ = false;
    return true;
}

QImage& WaylandScreenSource::picture() {
    if (!copied_ && grabbedSequence_ != 0) {
        // A stream that ended meanwhile leaves the previous pixels; the next grab tells why.
        stream_->copyNewest(lastX_ - monitor_.left, lastY_ - monitor_.top, picture_, &error_);
        copied_ = true;
    }
    return picture_;
}

void WaylandScreenSource::readPicture(const std::function<void(const QImage&)>& read) {
    if (!copied_ && grabbedSequence_ != 0 &&
        stream_->viewNewest(lastX_ - monitor_.left, lastY_ - monitor_.top, picture_.width(), picture_.height(), read))
        return;
    read(picture());
}

bool WaylandScreenSource::changedSince(int x, int y) {
    // An ended stream counts as a change, so the next grab finds out and tells why.
    return x != lastX_ || y != lastY_ || stream_->sequence() != grabbedSequence_ || grabbedSequence_ == 0 ||
           stream_->ended();
}

bool WaylandScreenSource::changedParts(std::vector<ScreenRect>& parts) {
    if (!partsKnown_) return false;
    parts.clear();
    for (const ScreenRect& r : parts_)
        parts.push_back({monitor_.left + r.left, monitor_.top + r.top, monitor_.left + r.right, monitor_.top + r.bottom});
    return true;
}

bool WaylandScreenSource::pointer(int& x, int& y) {
    int sx = 0, sy = 0;
    if (!stream_->pointer(sx, sy)) return false;
    x = monitor_.left + sx;
    y = monitor_.top + sy;
    return true;
}

}  // namespace torvane::wayland
