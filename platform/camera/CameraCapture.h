#pragma once
// One camera running: device element -> videoconvert -> 24-bit BGR at the chosen size -> a sink
// that keeps only the newest picture. Pictures arrive on GStreamer's streaming thread and are
// stored under the frame lock; any thread may copy the newest one.

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;

namespace torvane::camera {

struct CameraPicture {
    int width = 0;
    int height = 0;
    uint64_t sequence = 0;        // counts pictures since open, 0 = none yet
    std::vector<uint8_t> bgr;     // bottom-up rows, width * 3 bytes each
};

class CameraCapture {
public:
    // Sizes above this are delivered as pictures without pixels, as the rest of the program
    // cannot take them.
    static constexpr int kMaxWidth = 1280, kMaxHeight = 720;

    CameraCapture() = default;
    ~CameraCapture();
    CameraCapture(const CameraCapture&) = delete;
    CameraCapture& operator=(const CameraCapture&) = delete;

    // Opens the first camera named `name` and sets it running. The size and frame rate are asked
    // for only where the camera offers them; otherwise it runs at what it negotiates. False with
    // the reason in `error` when the camera is missing or cannot be started.
    bool open(const std::string& name, int width, int height, int frameRate, std::string& error);
    void close();

    // Copies the newest picture into `out` when it is newer than `out.sequence`; false otherwise.
    bool copyNewest(CameraPicture& out);
    // Waits up to `timeout` for the first picture.
    bool waitFirst(std::chrono::milliseconds timeout);

    // Set once the camera stopped delivering (error, end of stream, or silence past `silence`):
    // the moment its last picture came. False while it works.
    bool lostSince(std::chrono::steady_clock::time_point& when, std::string& why,
                   std::chrono::milliseconds silence = std::chrono::milliseconds(2000));

    int negotiatedWidth() const { return width_; }
    int negotiatedHeight() const { return height_; }

    // For the streaming thread only.
    void store(const uint8_t* data, int width, int height, int stride);
    void fail(const std::string& why);

private:
    GstElement* pipeline_ = nullptr;
    int width_ = 0, height_ = 0;

    std::mutex lock_;   // the frame lock
    std::condition_variable firstCv_;
    CameraPicture newest_;
    std::chrono::steady_clock::time_point lastSample_{};
    std::chrono::steady_clock::time_point openedAt_{};
    bool failed_ = false;
    std::string failure_;
};

}  // namespace torvane::camera
