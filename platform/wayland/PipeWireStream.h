#pragma once
// One screen stream read from PipeWire on its own thread; keeps the newest picture.

#include <QImage>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/ScreenRect.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_buffer;
struct spa_pod;
struct spa_buffer;

namespace torvane::wayland {

class PipeWireStream {
public:
    // Connects to `node` over the portal's PipeWire connection `fd` (taken over, also on failure).
    static std::unique_ptr<PipeWireStream> open(int fd, uint32_t node, std::string* error);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Waits up to `ms` for the first picture; false when none came or the stream ended.
    bool waitFirstPicture(int ms, std::string* error);

    // Copies the part of the newest picture whose top-left is (x, y), in stream coordinates, into
    // `out` (32-bit, its own size); black outside. Repeats the newest picture when no new one came,
    // as a still screen sends none. False once the stream has ended; `error` says why. `sequence`,
    // when given, is set to the sequence() of the picture copied.
    bool copyNewest(int x, int y, QImage& out, std::string* error, uint64_t* sequence = nullptr);

    // Calls `read` with the w x h part of the newest picture whose top-left is (x, y), in stream
    // coordinates, viewed where the stream keeps it: no copy. Its format is the stream's order:
    // QImage::Format_RGB32 for BGRx/BGRA, Format_RGBX8888 for RGBx/RGBA. The view is valid only
    // during the call; meanwhile the stream keeps its buffer from the desktop and the next picture
    // waits, so `read` must be brief and must not call the stream. False, without calling `read`,
    // when the part cannot be viewed: not wholly on the picture, no picture yet, or the stream has
    // ended; copyNewest() serves then. `sequence` as in copyNewest().
    bool viewNewest(int x, int y, int w, int h, const std::function<void(const QImage&)>& read,
                    uint64_t* sequence = nullptr);

    // What the desktop said changed (its damage regions, stream coordinates) in the pictures that
    // came since the last call, and the sequence() now; starts the next count. False when that
    // cannot be told: a picture came without damage, the format changed, or the first call.
    bool takeChanges(std::vector<ScreenRect>& parts, uint64_t& sequence);

    // Whether the stream has ended (the next copyNewest() says why).
    bool ended();
    // The pointer position in stream coordinates, from the cursor metadata of the newest buffer
    // that had any; false when none came (the portal draws the pointer into the picture then).
    bool pointer(int& x, int& y) const;
    // A number that grows with every picture received.
    uint64_t sequence() const;
    int width() const;
    int height() const;

private:
    PipeWireStream() = default;
    static void onProcess(void* self);
    static void onParamChanged(void* self, uint32_t id, const ::spa_pod* param);
    static void onStateChanged(void* self, int oldState, int state, const char* error);
    static void updateBuffers(PipeWireStream* s);
    static void onRemoveBuffer(void* self, ::pw_buffer* buffer);
    void keepCopy();   // newest_ = the held picture; with mutex_ held
    void noteDamage(const ::spa_buffer* buffer);   // into pendingDamage_, with mutex_ held
    static void boundDamage(std::vector<ScreenRect>& parts);
    static void onCoreError(void* self, uint32_t id, int seq, int res, const char* message);
    void end(const std::string& why);
    bool endedLocked();   // ended_, after a pause that outlasted its grace; with mutex_ held

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    struct Hooks;
    std::unique_ptr<Hooks> hooks_;

    mutable std::mutex mutex_;   // guards what follows; the PipeWire thread writes it
    uint32_t format_ = 0;        // spa video format of the stream
    int width_ = 0, height_ = 0;
    pw_buffer* held_ = nullptr;          // the newest picture's buffer, kept from the desktop
    const uint8_t* heldPixels_ = nullptr;  // its first row, in format_
    int heldStride_ = 0;
    std::vector<uint8_t> newest_;  // a copy of the last picture when no buffer is held, width_ * 4 bytes a row
    uint32_t newestFormat_ = 0;
    uint64_t sequence_ = 0;
    std::vector<ScreenRect> damage_;   // in the pictures since the last takeChanges()
    bool damageKnown_ = false;
    std::vector<ScreenRect> pendingDamage_;   // noted in buffers whose picture is not held yet
    bool pendingKnown_ = true;
    int64_t headerSeq_ = -1;   // the desktop's sequence number of the last buffer, -1 before any
    bool pointerKnown_ = false;
    int pointerX_ = 0, pointerY_ = 0;
    bool streamed_ = false;
    bool paused_ = false;   // since pausedAt_, after it streamed
    std::chrono::steady_clock::time_point pausedAt_;
    uint32_t node_ = 0;     // the cast's node
    bool ended_ = false;
    std::string endReason_;
};

}  // namespace torvane::wayland
