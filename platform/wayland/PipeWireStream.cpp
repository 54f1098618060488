#include "platform/wayland/PipeWireStream.h"

#include <libyuv/convert_argb.h>
#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>
#include <spa/buffer/meta.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

namespace torvane::wayland {

struct PipeWireStream::Hooks {
    spa_hook stream{};
    spa_hook core{};
    spa_hook registry{};
    pw_stream_events streamEvents{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    pw_registry* registryProxy = nullptr;
};

namespace {

std::once_flag pwInit;

// Frames may have any size up to this; the monitor's own is what is negotiated.
constexpr spa_rectangle kMinSize{1, 1}, kMaxSize{16384, 16384}, kDefaultSize{1280, 720};
constexpr spa_fraction kMinRate{0, 1}, kMaxRate{1000, 1}, kDefaultRate{30, 1};

// A stream that streamed pauses while the desktop changes its format (a monitor's new mode) and
// when the cast's node goes; the node's removal ends it at once, a pause only after this long.
constexpr std::chrono::milliseconds kPauseGrace{3000};

}  // namespace

std::unique_ptr<PipeWireStream> PipeWireStream::open(int fd, uint32_t node, std::string* error) {
    std::call_once(pwInit, [] { pw_init(nullptr, nullptr); });
    std::unique_ptr<PipeWireStream> s(new PipeWireStream());
    s->hooks_ = std::make_unique<Hooks>();
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return nullptr;
    };
    s->loop_ = pw_thread_loop_new("torvane-pipewire", nullptr);
    if (!s->loop_) {
        close(fd);
        return fail("Cannot make the PipeWire thread");
    }
    s->context_ = pw_context_new(pw_thread_loop_get_loop(s->loop_), nullptr, 0);
    if (!s->context_) {
        close(fd);
        return fail("Cannot make a PipeWire context");
    }
    if (pw_thread_loop_start(s->loop_) < 0) {
        close(fd);
        return fail("Cannot start the PipeWire thread");
    }
    pw_thread_loop_lock(s->loop_);
    s->core_ = pw_context_connect_fd(s->context_, fd, nullptr, 0);
    if (!s->core_) {
        pw_thread_loop_unlock(s->loop_);
        return fail("Cannot connect to PipeWire through the screen cast portal");
    }
    s->hooks_->coreEvents.version = PW_VERSION_CORE_EVENTS;
    s->hooks_->coreEvents.error = onCoreError;
    pw_core_add_listener(s->core_, &s->hooks_->core, &s->hooks_->coreEvents, s.get());
    // The cast's node leaving the registry is the desktop ending the cast.
    s->node_ = node;
    s->hooks_->registryProxy = pw_core_get_registry(s->core_, PW_VERSION_REGISTRY, 0);
    if (s->hooks_->registryProxy) {
        s->hooks_->registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        s->hooks_->registryEvents.global_remove = [](void* self, uint32_t id) {
            auto* st = static_cast<PipeWireStream*>(self);
            if (id == st->node_) st->end("The screen is no longer shared (the desktop ended the screen cast)");
        };
        pw_registry_add_listener(s->hooks_->registryProxy, &s->hooks_->registry, &s->hooks_->registryEvents, s.get());
    }

    s->stream_ = pw_stream_new(s->core_, "torvane-screen",
                               pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                 PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s->stream_) {
        pw_thread_loop_unlock(s->loop_);
        return fail("Cannot make a PipeWire stream");
    }
    Hooks& h = *s->hooks_;
    h.streamEvents.version = PW_VERSION_STREAM_EVENTS;
    h.streamEvents.process = onProcess;
    h.streamEvents.param_changed = onParamChanged;
    h.streamEvents.remove_buffer = onRemoveBuffer;
    h.streamEvents.state_changed = [](void* self, pw_stream_state o, pw_stream_state n, const char* e) {
        onStateChanged(self, int(o), int(n), e);
    };
    pw_stream_add_listener(s->stream_, &h.stream, &h.streamEvents, s.get());

    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    // The fourth byte of each of these is padding or alpha; either way it is not looked at.
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&kDefaultSize, &kMinSize, &kMaxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&kDefaultRate, &kMinRate, &kMaxRate)));
    const int rc = pw_stream_connect(s->stream_, PW_DIRECTION_INPUT, node,
                                     pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(s->loop_);
    if (rc < 0) return fail("Cannot connect the PipeWire stream of the shared screen");
    return s;
}

PipeWireStream::~PipeWireStream() {
    if (loop_) pw_thread_loop_stop(loop_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = nullptr;   // freed with the stream, nothing to keep
        heldPixels_ = nullptr;
    }
    if (hooks_ && hooks_->registryProxy) {
        spa_hook_remove(&hooks_->registry);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(hooks_->registryProxy));
    }
    if (stream_) pw_stream_destroy(stream_);
    if (core_) pw_core_disconnect(core_);
    if (context_) pw_context_destroy(context_);
    if (loop_) pw_thread_loop_destroy(loop_);
}

void PipeWireStream::end(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    ended_ = true;
    endReason_ = why;
}

bool PipeWireStream::endedLocked() {
    if (!ended_ && paused_ && std::chrono::steady_clock::now() - pausedAt_ >= kPauseGrace) {
        ended_ = true;
        endReason_ = "The screen is no longer shared (the desktop ended the screen cast)";
    }
    return ended_;
}

void PipeWireStream::onCoreError(void* self, uint32_t id, int, int res, const char* message) {
    auto* s = static_cast<PipeWireStream*>(self);
    if (id == PW_ID_CORE || res == -EPIPE)
        s->end(std::string("The connection to PipeWire was lost: ") + (message ? message : ""));
}

void PipeWireStream::onStateChanged(void* self, int, int state, const char* error) {
    auto* s = static_cast<PipeWireStream*>(self);
    if (state == PW_STREAM_STATE_STREAMING) {
        std::lock_guard<std::mutex> lock(s->mutex_);
        s->streamed_ = true;
        s->paused_ = false;
    } else if (state == PW_STREAM_STATE_PAUSED) {
        // Once it streamed, a pause that lasts means the desktop's side of the cast is gone; a
        // short one is a change of format.
        std::lock_guard<std::mutex> lock(s->mutex_);
        if (s->streamed_ && !s->paused_) {
            s->paused_ = true;
            s->pausedAt_ = std::chrono::steady_clock::now();
        }
    } else if (state == PW_STREAM_STATE_ERROR) {
        s->end(std::string("The shared screen's stream failed: ") + (error ? error : ""));
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
        s->end("The screen is no longer shared (the desktop ended the screen cast)");
    }
}

void PipeWireStream::onParamChanged(void* self, uint32_t id, const spa_pod* param) {
    auto* s = static_cast<PipeWireStream*>(self);
    if (!param || id != SPA_PARAM_Format) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    {
        std::lock_guard<std::mutex> lock(s->mutex_);
        const bool same = s->format_ == info.format && s->width_ == int(info.size.width) &&
                          s->height_ == int(info.size.height);
        s->format_ = info.format;
        s->width_ = int(info.size.width);
        s->height_ = int(info.size.height);
        if (same) {
            // The buffers may be renewed: a still screen repeats a copy of its picture meanwhile.
            s->keepCopy();
            if (s->held_) pw_stream_queue_buffer(s->stream_, s->held_);
        } else {
            // The buffers go with the old format: black until a picture of the new one.
            s->damageKnown_ = false;
            s->pendingDamage_.clear();
            s->newest_.assign(size_t(s->width_) * size_t(s->height_) * 4, 0);
            s->newestFormat_ = s->format_;
        }
        s->held_ = nullptr;
        s->heldPixels_ = nullptr;
    }
    updateBuffers(s);
}

void PipeWireStream::updateBuffers(PipeWireStream* s) {
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[4];
    // One buffer stays here (the pictures are read in place) and one may be on its way: with only
    // two the desktop finds none free now and then, drops that picture and sends the next only
    // at its next change, so a screen that then stays still would be recorded as it was before.
    // Four asked for; any count a desktop insists on is taken.
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 1, 16), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    // Where the portal sends the pointer beside the picture, its place comes with each buffer. The
    // shape is not needed (the overlay draws its own arrow), but a producer may send one: room for it.
    constexpr auto metaSize = [](int side) {
        return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + side * side * 4;
    };
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(metaSize(64), metaSize(1), metaSize(256))));
    // What changed in each picture, so only that is converted and encoded.
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(int(sizeof(spa_meta_region)) * 16, int(sizeof(spa_meta_region)),
                                 int(sizeof(spa_meta_region)) * 64)));
    // Its sequence number tells a picture that was lost on the way, and its damage with it.
    params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(int(sizeof(spa_meta_header)))));
    pw_stream_update_params(s->stream_, params, 4);
}

void PipeWireStream::onProcess(void* self) {
    auto* s = static_cast<PipeWireStream*>(self);
    pw_buffer* got[16];
    size_t count = 0;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream_)) {
        if (count == std::size(got)) {
            pw_stream_queue_buffer(s->stream_, got[0]);
            std::memmove(got, got + 1, sizeof got - sizeof got[0]);
            --count;
        }
        got[count++] = b;
    }
    if (!count) return;
    std::lock_guard<std::mutex> lock(s->mutex_);
    // Only the newest picture matters; buffers may also carry only a pointer move, with no picture
    // in them. The damage of every buffer counts (the newest picture holds the older ones' changes).
    pw_buffer* picture = nullptr;
    const uint8_t* pixels = nullptr;
    int pictureStride = 0;
    for (size_t i = 0; i < count; ++i) {
        spa_buffer* buf = got[i]->buffer;
        if (const auto* c = static_cast<const spa_meta_cursor*>(
                spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
            s->pointerKnown_ = spa_meta_cursor_is_valid(c);
            if (s->pointerKnown_) {
                s->pointerX_ = c->position.x;
                s->pointerY_ = c->position.y;
            }
        }
        s->noteDamage(buf);
        if (buf->n_datas < 1) continue;
        const spa_data& d = buf->datas[0];
        const int stride = d.chunk && d.chunk->stride > 0 ? d.chunk->stride : s->width_ * 4;
        if (d.data && d.chunk && d.chunk->size > 0 && !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && s->width_ > 0 &&
            stride >= s->width_ * 4 && size_t(stride) * size_t(s->height_) <= size_t(d.chunk->size) + d.chunk->offset &&
            size_t(d.chunk->offset) + size_t(d.chunk->size) <= d.maxsize) {
            picture = got[i];
            pixels = static_cast<const uint8_t*>(d.data) + d.chunk->offset;
            pictureStride = stride;
        }
    }
    for (size_t i = 0; i < count; ++i)
        if (got[i] != picture) pw_stream_queue_buffer(s->stream_, got[i]);
    if (!picture) return;
    // Kept, not copied: the capture loop reads the part it needs straight from it, and the one
    // kept before goes back to the desktop.
    if (s->held_) pw_stream_queue_buffer(s->stream_, s->held_);
    s->held_ = picture;
    s->heldPixels_ = pixels;
    s->heldStride_ = pictureStride;
    ++s->sequence_;
    // The changes noted so far are in this picture: from now on they are told with it.
    s->damage_.insert(s->damage_.end(), s->pendingDamage_.begin(), s->pendingDamage_.end());
    s->pendingDamage_.clear();
    s->damageKnown_ = s->damageKnown_ && s->pendingKnown_;
    s->pendingKnown_ = true;
    boundDamage(s->damage_);
}

void PipeWireStream::onRemoveBuffer(void* self, pw_buffer* buffer) {
    auto* s = static_cast<PipeWireStream*>(self);
    std::lock_guard<std::mutex> lock(s->mutex_);
    if (buffer != s->held_) return;
    // Buffers go when the format changes or the stream ends: a still screen still repeats the
    // last picture, from a copy.
    s->keepCopy();
    s->held_ = nullptr;
    s->heldPixels_ = nullptr;
}

void PipeWireStream::noteDamage(const spa_buffer* buffer) {
    // PipeWire hands on only the newest buffer a desktop queued: one that came before it is lost on
    // the way, and its damage with it. A gap in the desktop's sequence numbers tells that; without
    // them it cannot be told, so the damage is not trusted.
    const auto* header =
        static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header) {
        if (headerSeq_ >= 0 && header->seq != uint64_t(headerSeq_) + 1) pendingKnown_ = false;
        headerSeq_ = int64_t(header->seq);
    }
    // A buffer with no picture (a pointer move alone) changes nothing.
    if (buffer->n_datas < 1 || !buffer->datas[0].chunk || buffer->datas[0].chunk->size == 0) return;
    if (!header) pendingKnown_ = false;
    const spa_meta* meta = spa_buffer_find_meta(buffer, SPA_META_VideoDamage);
    size_t found = 0;
    if (meta) {
        const spa_meta_region* r;
        spa_meta_for_each(r, meta) {
            if (!spa_meta_region_is_valid(r)) break;
            const int64_t left = std::max<int64_t>(0, r->region.position.x);
            const int64_t top = std::max<int64_t>(0, r->region.position.y);
            const int64_t right = std::min<int64_t>(width_, int64_t(r->region.position.x) + r->region.size.width);
            const int64_t bottom = std::min<int64_t>(height_, int64_t(r->region.position.y) + r->region.size.height);
            ++found;
            if (left < right && top < bottom)
                pendingDamage_.push_back({int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)});
        }
    }
    // A picture said to have changed nowhere is taken as one whose changes were not told.
    if (!found) pendingKnown_ = false;
    boundDamage(pendingDamage_);
}

void PipeWireStream::boundDamage(std::vector<ScreenRect>& parts) {
    // Many small parts cost more to track than their bounds do to convert.
    if (parts.size() <= 64) return;
    ScreenRect bounds = parts.front();
    for (const ScreenRect& r : parts) {
        bounds.left = std::min(bounds.left, r.left);
        bounds.top = std::min(bounds.top, r.top);
        bounds.right = std::max(bounds.right, r.right);
        bounds.bottom = std::max(bounds.bottom, r.bottom);
    }
    parts.assign(1, bounds);
}

bool PipeWireStream::takeChanges(std::vector<ScreenRect>& parts, uint64_t& sequence) {
    std::lock_guard<std::mutex> lock(mutex_);
    sequence = sequence_;
    const bool known = damageKnown_;
    parts.swap(damage_);
    damage_.clear();
    damageKnown_ = true;
    if (!known) parts.clear();
    return known;
}

void PipeWireStream::keepCopy() {
    if (!heldPixels_) return;
    const int rowBytes = width_ * 4;
    newest_.resize(size_t(rowBytes) * size_t(height_));
    for (int y = 0; y < height_; ++y)
        std::memcpy(newest_.data() + size_t(y) * rowBytes, heldPixels_ + size_t(y) * heldStride_, size_t(rowBytes));
    newestFormat_ = format_;
}

bool PipeWireStream::waitFirstPicture(int ms, std::string* error) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (endedLocked()) {
                if (error) *error = endReason_;
                return false;
            }
            if (sequence_ > 0) return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            if (error) *error = "The shared screen sent no picture";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool PipeWireStream::copyNewest(int x, int y, QImage& out, std::string* error, uint64_t* sequence) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (endedLocked()) {
        if (error) *error = endReason_;
        return false;
    }
    if (sequence) *sequence = sequence_;
    const uint8_t* pixels = heldPixels_ ? heldPixels_ : newest_.data();
    const int stride = heldPixels_ ? heldStride_ : width_ * 4;
    const uint32_t format = heldPixels_ ? format_ : newestFormat_;
    const int w = out.width(), h = out.height();
    const int left = std::max(x, 0), top = std::max(y, 0);
    const int right = std::min(x + w, width_), bottom = std::min(y + h, height_);
    if (left >= right || top >= bottom || x < 0 || y < 0 || x + w > width_ || y + h > height_ ||
        (!heldPixels_ && newest_.size() < size_t(stride) * size_t(height_))) {
        out.fill(Qt::black);
        if (!heldPixels_ && newest_.size() < size_t(stride) * size_t(height_)) return true;
    }
    if (left >= right || top >= bottom) return true;
    const uint8_t* src = pixels + size_t(top) * stride + size_t(left) * 4;
    uint8_t* dst = out.scanLine(top - y) + size_t(left - x) * 4;
    if (format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA)
        libyuv::ABGRToARGB(src, stride, dst, int(out.bytesPerLine()), right - left, bottom - top);
    else
        for (int row = 0; row < bottom - top; ++row)
            std::memcpy(dst + size_t(row) * out.bytesPerLine(), src + size_t(row) * stride, size_t(right - left) * 4);
    return true;
}

bool PipeWireStream::viewNewest(int x, int y, int w, int h, const std::function<void(const QImage&)>& read,
                                uint64_t* sequence) {
    // Held for the whole read: the PipeWire thread takes it before it gives a buffer back or
    // drops one, so the pixels stay mapped and unchanged until `read` returns.
    std::lock_guard<std::mutex> lock(mutex_);
    if (endedLocked() || sequence_ == 0 || w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > width_ || y + h > height_)
        return false;
    const uint8_t* pixels = heldPixels_;
    int stride = heldStride_;
    uint32_t format = format_;
    if (!pixels) {
        if (newest_.size() < size_t(width_) * size_t(height_) * 4) return false;
        pixels = newest_.data();
        stride = width_ * 4;
        format = newestFormat_;
    }
    QImage::Format order;
    if (format == SPA_VIDEO_FORMAT_BGRx || format == SPA_VIDEO_FORMAT_BGRA)
        order = QImage::Format_RGB32;
    else if (format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA)
        order = QImage::Format_RGBX8888;   // the fourth byte is padding either way
    else
        return false;
    if (sequence) *sequence = sequence_;
    // Const data: a QImage made on it never writes to it (a non-const access would copy).
    const QImage view(pixels + size_t(y) * size_t(stride) + size_t(x) * 4, w, h, stride, order);
    read(view);
    return true;
}

bool PipeWireStream::ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    return endedLocked();
}

uint64_t PipeWireStream::sequence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sequence_;
}

bool PipeWireStream::pointer(int& x, int& y) const {
    std::lock_guard<std::mutex> lock(mutex_);
    x = pointerX_;
    y = pointerY_;
    return pointerKnown_;
}

int PipeWireStream::width() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return width_;
}

int PipeWireStream::height() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return height_;
}

}  // namespace torvane::wayland
