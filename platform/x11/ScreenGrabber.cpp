#include "platform/x11/ScreenGrabber.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace torvane::x11 {

std::unique_ptr<ScreenGrabber> ScreenGrabber::open(int width, int height, std::string* error) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        if (error) *error = "Invalid capture size " + std::to_string(width) + "x" + std::to_string(height);
        return nullptr;
    }
    std::unique_ptr<ScreenGrabber> g(new ScreenGrabber);
    g->conn_ = XConnection::open(error);
    if (!g->conn_) return nullptr;
    xcb_connection_t* c = g->conn_->get();
    if (g->conn_->screen()->root_depth != 24 && g->conn_->screen()->root_depth != 32) {
        if (error) *error = "The X screen has depth " + std::to_string(g->conn_->screen()->root_depth) +
                            "; only 24-bit colour is supported";
        return nullptr;
    }
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
    if (!ext || !ext->present) {
        if (error) *error = "The X server has no shared-memory extension (MIT-SHM)";
        return nullptr;
    }
    g->width_ = width;
    g->height_ = height;
    g->shmSize_ = size_t(width) * size_t(height) * 4;
    g->shmId_ = shmget(IPC_PRIVATE, g->shmSize_, IPC_CREAT | 0600);
    if (g->shmId_ < 0) {
        if (error) *error = std::string("Cannot allocate shared memory for the screen grab: ") + std::strerror(errno);
        return nullptr;
    }
    void* addr = shmat(g->shmId_, nullptr, 0);
    // Marked for removal at once: the segment goes away with the last detach, even after a crash.
    shmctl(g->shmId_, IPC_RMID, nullptr);
    if (addr == reinterpret_cast<void*>(-1)) {
        if (error) *error = std::string("Cannot map shared memory for the screen grab: ") + std::strerror(errno);
        g->shmId_ = -1;
        return nullptr;
    }
    g->shmAddr_ = static_cast<uint8_t*>(addr);
    std::memset(g->shmAddr_, 0, g->shmSize_);
    g->shmSeg_ = xcb_generate_id(c);
    xcb_generic_error_t* err = xcb_request_check(c, xcb_shm_attach_checked(c, g->shmSeg_, g->shmId_, 0));
    if (err) {
        std::free(err);
        g->shmSeg_ = 0;
        if (error) *error = "The X server cannot attach the shared memory (is the display remote?)";
        return nullptr;
    }
    g->picture_ = QImage(g->shmAddr_, width, height, width * 4, QImage::Format_RGB32);
    g->screen_ = g->conn_->rootRect();
    return g;
}

ScreenGrabber::~ScreenGrabber() {
    picture_ = QImage();
    if (conn_ && shmSeg_) {
        xcb_shm_detach(conn_->get(), shmSeg_);
        xcb_flush(conn_->get());
    }
    if (shmAddr_) shmdt(shmAddr_);
}

bool ScreenGrabber::grabPart(int srcX, int srcY, int w, int h, int dstX, int dstY) {
    xcb_connection_t* c = conn_->get();
    const bool whole = dstX == 0 && dstY == 0 && w == width_ && h == height_;
    // A part lands compactly at the start of the segment and is then moved into place row by row.
    xcb_generic_error_t* err = nullptr;
    auto* r = xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, conn_->root(), int16_t(srcX), int16_t(srcY), uint16_t(w), uint16_t(h), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, shmSeg_, 0),
        &err);
    std::free(err);
    if (!r) return false;
    std::free(r);
    if (!whole) {
        const size_t rowBytes = size_t(w) * 4;
        const size_t stride = size_t(width_) * 4;
        // Move rows from the compact layout to their place, last row first: the destination of a
        // row never overlaps a source row that is still to be moved.
        for (int row = h - 1; row >= 0; --row) {
            std::memmove(shmAddr_ + size_t(dstY + row) * stride + size_t(dstX) * 4,
                         shmAddr_ + size_t(row) * rowBytes, rowBytes);
        }
        // Whatever lies outside the screen is black, as a screen copy gives it.
        std::memset(shmAddr_, 0, size_t(dstY) * stride);
        for (int row = dstY; row < dstY + h; ++row) {
            uint8_t* line = shmAddr_ + size_t(row) * stride;
            std::memset(line, 0, size_t(dstX) * 4);
            std::memset(line + size_t(dstX + w) * 4, 0, size_t(width_ - dstX - w) * 4);
        }
        std::memset(shmAddr_ + size_t(dstY + h) * stride, 0, size_t(height_ - dstY - h) * stride);
    }
    return true;
}

bool ScreenGrabber::refreshScreen() {
    xcb_connection_t* c = conn_->get();
    auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, conn_->root()), nullptr);
    if (!g) return false;
    const ScreenRect now{0, 0, g->width, g->height};
    std::free(g);
    const bool changed = !(now == screen_);
    screen_ = now;
    return changed;
}

bool ScreenGrabber::grab(int x, int y) { return grabWithin(x, y) || (refreshScreen() && grabWithin(x, y)); }

bool ScreenGrabber::grabWithin(int x, int y) {
    const ScreenRect& root = screen_;
    const int64_t l = std::max<int64_t>(x, root.left), t = std::max<int64_t>(y, root.top);
    const int64_t r = std::min<int64_t>(int64_t(x) + width_, root.right);
    const int64_t b = std::min<int64_t>(int64_t(y) + height_, root.bottom);
    if (r <= l || b <= t) {   // entirely off screen: all black
        std::memset(shmAddr_, 0, shmSize_);
        return true;
    }
    return grabPart(int(l), int(t), int(r - l), int(b - t), int(l - x), int(t - y));
}

}  // namespace torvane::x11
