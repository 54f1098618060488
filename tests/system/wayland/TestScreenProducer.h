#pragma once
// A test producer on the environment's PipeWire that plays the desktop's side of a screen cast:
// BGRx (or RGBx) pictures of kW x kH, 30 a second, whose buffers may carry the pointer.

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/PipeWireStream.h"

namespace torvane::test {

// A connection to the environment's PipeWire, as the portal hands one out.
inline int pipeWireConnection() {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s/pipewire-0", std::getenv("XDG_RUNTIME_DIR"));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    return fd;
}

constexpr int kW = 320, kH = 240;
constexpr size_t kCursorMeta = sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 64 * 64 * 4;

// A green screen of kW x kH whose buffers carry the pointer at (x, y); no metadata while x < 0.
// With `pattern`, pixel (x, y) of the n-th picture is red x, green y, blue n (all modulo 256).
struct Producer {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook hook{};
    pw_stream_events events{};
    std::atomic<int> x{-1}, y{-1};
    std::atomic<bool> stop{false};
    std::atomic<bool> pattern{false};
    std::atomic<uint32_t> pictures{0};   // pictures sent
    // With `scene` (set before start()), the pictures show what paint() drew on black, and a tick
    // with nothing new painted sends no buffer. While `tellDamage` (also before start()), each
    // picture carries the rectangles painted since the one before as damage metadata.
    bool scene = false;
    bool tellDamage = true;
    std::mutex sceneLock;
    std::vector<uint32_t> scenePixels = std::vector<uint32_t>(size_t(kW) * kH, 0xFF000000u);
    std::vector<spa_region> painted;
    bool sceneSent = false;
    uint64_t sceneSeq = 0;
    // The next picture is lost on the way (as PipeWire drops a buffer queued behind another): its
    // damage goes with it, and a sequence number is skipped.
    bool loseNext = false;
    // The stream's states, in order, for a test's failure message; under `sceneLock`.
    std::string states;
    void paint(int x, int y, int w, int h, uint32_t bgrx) {
        std::lock_guard lock(sceneLock);
        const int left = std::max(0, x), top = std::max(0, y), right = std::min(kW, x + w), bottom = std::min(kH, y + h);
        if (left >= right || top >= bottom) return;
        for (int r = top; r < bottom; ++r)
            for (int c = left; c < right; ++c) scenePixels[size_t(r) * kW + c] = 0xFF000000u | bgrx;
        painted.push_back({{left, top}, {uint32_t(right - left), uint32_t(bottom - top)}});
    }
    std::string statesSeen() {
        std::lock_guard lock(sceneLock);
        return states;
    }
    uint32_t format = SPA_VIDEO_FORMAT_BGRx;   // or SPA_VIDEO_FORMAT_RGBx, chosen before start()
    std::thread ticker;

    bool start() {
        pw_init(nullptr, nullptr);
        loop = pw_thread_loop_new("test-producer", nullptr);
        context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
        if (!loop || !context || pw_thread_loop_start(loop) < 0) return false;
        pw_thread_loop_lock(loop);
        core = pw_context_connect(context, nullptr, 0);
        if (!core) return pw_thread_loop_unlock(loop), false;
        stream = pw_stream_new(core, "test-screen", pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
        events.version = PW_VERSION_STREAM_EVENTS;
        events.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
            auto* p = static_cast<Producer*>(self);
            if (!param || id != SPA_PARAM_Format) return;
            uint8_t buf[1024];
            spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
            const spa_pod* params[4];
            params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers, SPA_POD_Int(4),
                SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size, SPA_POD_Int(kW * kH * 4),
                SPA_PARAM_BUFFERS_stride, SPA_POD_Int(kW * 4), SPA_PARAM_BUFFERS_dataType,
                SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
            params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
                SPA_PARAM_META_size, SPA_POD_Int(int(kCursorMeta))));
            params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
                SPA_PARAM_META_size, SPA_POD_Int(int(sizeof(spa_meta_region) * 4))));
            params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                SPA_PARAM_META_size, SPA_POD_Int(int(sizeof(spa_meta_header)))));
            if (p->scene && p->tellDamage) {
                pw_stream_update_params(p->stream, params, 4);
            } else {
                pw_stream_update_params(p->stream, params, 2);
            }
        };
        events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char*) {
            auto* p = static_cast<Producer*>(self);
            std::lock_guard lock(p->sceneLock);
            p->states += std::string(p->states.empty() ? "" : ", ") + pw_stream_state_as_string(state);
            // Like a desktop whose cast is linked again (the session manager moved it): what was
            // sent while it was not linked went nowhere, so the whole picture goes again.
            if (state == PW_STREAM_STATE_STREAMING && p->scene && p->sceneSent)
                p->painted.push_back({{0, 0}, {uint32_t(kW), uint32_t(kH)}});
        };
        events.process = [](void* self) {
            auto* p = static_cast<Producer*>(self);
            if (p->scene) {
                // Like a desktop: nothing new painted, nothing sent.
                std::lock_guard lock(p->sceneLock);
                if (p->sceneSent && p->painted.empty()) return;
                if (p->loseNext && p->sceneSent) {
                    p->loseNext = false;
                    p->painted.clear();
                    ++p->sceneSeq;
                    return;
                }
            }
            pw_buffer* b = pw_stream_dequeue_buffer(p->stream);
            if (!b) return;
            spa_data& d = b->buffer->datas[0];
            if (p->scene && d.data && d.chunk && d.maxsize >= uint32_t(kW * kH * 4)) {
                std::lock_guard lock(p->sceneLock);
                {
                    std::memcpy(d.data, p->scenePixels.data(), size_t(kW) * kH * 4);
                    d.chunk->offset = 0;
                    d.chunk->stride = kW * 4;
                    d.chunk->size = kW * kH * 4;
                    p->pictures.fetch_add(1);
                    if (auto* m = spa_buffer_find_meta(b->buffer, SPA_META_VideoDamage)) {
                        // The whole picture at first and when more was painted than there is room
                        // for; an invalid region ends a shorter list.
                        const size_t room = m->size / sizeof(spa_meta_region);
                        auto* r = static_cast<spa_meta_region*>(m->data);
                        std::vector<spa_region> told = p->painted;
                        if (!p->sceneSent || told.size() > room) told.assign(1, {{0, 0}, {uint32_t(kW), uint32_t(kH)}});
                        for (size_t i = 0; i < room; ++i)
                            r[i].region = i < told.size() ? told[i] : spa_region{{0, 0}, {0, 0}};
                    }
                    p->painted.clear();
                    p->sceneSent = true;
                    if (auto* h = static_cast<spa_meta_header*>(
                            spa_buffer_find_meta_data(b->buffer, SPA_META_Header, sizeof(spa_meta_header))))
                        h->seq = p->sceneSeq++;
                }
            } else if (d.data && d.maxsize >= uint32_t(kW * kH * 4)) {
                auto* px = static_cast<uint32_t*>(d.data);
                const uint32_t n = p->pictures.fetch_add(1) + 1;
                // As little-endian words: BGRx is 0xXXRRGGBB, RGBx 0xXXBBGGRR.
                const bool rgb = p->format == SPA_VIDEO_FORMAT_RGBx;
                const auto word = [rgb](uint32_t r, uint32_t g, uint32_t b) {
                    return 0xFF000000u | (rgb ? b << 16 | g << 8 | r : r << 16 | g << 8 | b);
                };
                if (p->pattern)
                    for (int y = 0; y < kH; ++y)
                        for (int x = 0; x < kW; ++x) px[y * kW + x] = word(x & 0xFF, y & 0xFF, n & 0xFF);
                else
                    for (int i = 0; i < kW * kH; ++i) px[i] = word(0, 255, 0);   // green
                d.chunk->offset = 0;
                d.chunk->stride = kW * 4;
                d.chunk->size = kW * kH * 4;
            } else if (d.chunk) {
                d.chunk->size = 0;   // not yet the buffers asked for
            }
            if (auto* c = static_cast<spa_meta_cursor*>(spa_buffer_find_meta_data(b->buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
                const int x = p->x.load(), y = p->y.load();
                c->id = x < 0 ? 0 : 1;   // 0: no pointer in this buffer
                c->position.x = x;
                c->position.y = y;
                c->bitmap_offset = 0;
            }
            pw_stream_queue_buffer(p->stream, b);
        };
        pw_stream_add_listener(stream, &hook, &events, this);
        uint8_t buf[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
        const spa_rectangle size{kW, kH};
        const spa_fraction rate{30, 1};
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)))};
        const int rc = pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                         pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
                                         params, 1);
        pw_thread_loop_unlock(loop);
        if (rc < 0) return false;
        ticker = std::thread([this] {
            while (!stop) {
                pw_thread_loop_lock(loop);
                pw_stream_trigger_process(stream);
                pw_thread_loop_unlock(loop);
                std::this_thread::sleep_for(std::chrono::milliseconds(33));
            }
        });
        return true;
    }
    // Starts the producer and opens the recorder's stream on it, with its first picture received;
    // null and `why` filled when that fails. A scene sends only what is painted, and pictures
    // sent before the stream was linked go nowhere: it is repainted until one comes.
    std::shared_ptr<wayland::PipeWireStream> connect(std::string& why) {
        if (!start()) {
            why = "the test producer did not start";
            return nullptr;
        }
        const uint32_t id = node();
        if (id == SPA_ID_INVALID) {
            why = "the test producer has no node";
            return nullptr;
        }
        std::shared_ptr<wayland::PipeWireStream> s = wayland::PipeWireStream::open(pipeWireConnection(), id, &why);
        if (!s) return nullptr;
        for (int i = 0; i < 50; ++i) {
            if (scene) paint(0, 0, kW, kH, 0);
            if (s->waitFirstPicture(scene ? 200 : 10000, &why)) return s;
        }
        return nullptr;
    }
    uint32_t node() {
        for (int i = 0; i < 200; ++i) {
            pw_thread_loop_lock(loop);
            const uint32_t id = pw_stream_get_node_id(stream);
            pw_thread_loop_unlock(loop);
            if (id != SPA_ID_INVALID) return id;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return SPA_ID_INVALID;
    }
    ~Producer() {
        stop = true;
        if (ticker.joinable()) ticker.join();
        if (loop) pw_thread_loop_stop(loop);
        if (stream) pw_stream_destroy(stream);
        if (core) pw_core_disconnect(core);
        if (context) pw_context_destroy(context);
        if (loop) pw_thread_loop_destroy(loop);
    }
};

}  // namespace torvane::test
