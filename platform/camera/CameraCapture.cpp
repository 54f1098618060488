#include "platform/camera/CameraCapture.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>

#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraFormat.h"

namespace torvane::camera {

namespace {

GstFlowReturn onSample(GstAppSink* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_OK;
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (caps && buffer && gst_video_info_from_caps(&info, caps) && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const int w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
        const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
        if (map.size >= size_t(stride) * size_t(h)) static_cast<CameraCapture*>(self)->store(map.data, w, h, stride);
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// Errors and the end of the stream are noted as they are posted, on whatever thread posts them.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer self) {
    auto* capture = static_cast<CameraCapture*>(self);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* err = nullptr;
        gst_message_parse_error(message, &err, nullptr);
        capture->fail(err && err->message ? err->message : "stream error");
        if (err) g_error_free(err);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        capture->fail("the camera ended its stream");
    }
    return GST_BUS_DROP;
}

}  // namespace

CameraCapture::~CameraCapture() { close(); }

bool CameraCapture::open(const std::string& name, int width, int height, int frameRate, std::string& error) {
    close();
    if (!ensureGstreamer()) {
        error = "GStreamer cannot be initialised";
        return false;
    }
    GstDevice* device = findCamera(name);
    if (!device) {
        error = "it is not connected";
        return false;
    }
    GstElement* source = gst_device_create_element(device, "camera");
    if (!source) {
        gst_object_unref(device);
        error = "its capture element cannot be created";
        return false;
    }
    // Size and rate only where the camera offers them; videoconvert cannot change either.
    GstCaps* offered = gst_device_get_caps(device);
    if (!offered) offered = gst_caps_new_any();
    GstCaps* chosen = chooseCameraCaps(offered, width, height, frameRate);
    gst_caps_unref(offered);
    gst_object_unref(device);
    if (!chosen) {
        gst_object_unref(source);
        error = "it offers no pictures the recorder can read (raw video or MJPEG)";
        return false;
    }
    const bool jpeg = isJpeg(chosen);

    pipeline_ = gst_pipeline_new("torvane-camera");
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* decode = jpeg ? gst_element_factory_make("jpegdec", nullptr) : nullptr;
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!filter || (jpeg && !decode) || !convert || !sink) {
        for (GstElement* e : {filter, decode, convert, sink})
            if (e) gst_object_unref(e);
        gst_object_unref(source);
        gst_caps_unref(chosen);
        close();
        error = jpeg && !decode ? "it sends MJPEG, and the GStreamer element jpegdec (gstreamer1.0-plugins-good) is missing"
                                : "the GStreamer elements videoconvert and appsink are missing";
        return false;
    }
    g_object_set(filter, "caps", chosen, nullptr);
    gst_caps_unref(chosen);
    GstCaps* bgr = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr);
    g_object_set(sink, "caps", bgr, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, nullptr);
    gst_caps_unref(bgr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), source, filter, convert, sink, nullptr);
    if (decode) gst_bin_add(GST_BIN(pipeline_), decode);
    GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
    gst_bus_set_sync_handler(bus, onBusMessage, this, nullptr);
    gst_object_unref(bus);
    const bool linked = decode ? gst_element_link_many(source, filter, decode, convert, sink, nullptr)
                               : gst_element_link_many(source, filter, convert, sink, nullptr);
    if (!linked) {
        close();
        error = "its pictures cannot be converted to 24-bit BGR";
        return false;
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        openedAt_ = std::chrono::steady_clock::now();
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        std::string why;
        {
            std::lock_guard<std::mutex> g(lock_);
            why = failure_;
        }
        close();
        error = "it cannot be started" + (why.empty() ? std::string() : ": " + why);
        return false;
    }
    return true;
}

void CameraCapture::close() {
    if (pipeline_) {
        // Stopping joins the streaming thread, so no callback runs after this.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
    }
    std::lock_guard<std::mutex> g(lock_);
    newest_ = CameraPicture{};
    failed_ = false;
    failure_.clear();
    lastSample_ = {};
}

void CameraCapture::store(const uint8_t* data, int width, int height, int stride) {
    std::lock_guard<std::mutex> g(lock_);
    width_ = width;
    height_ = height;
    newest_.sequence += 1;
    lastSample_ = std::chrono::steady_clock::now();
    if (width <= 0 || height <= 0 || width > kMaxWidth || height > kMaxHeight) {
        newest_.width = newest_.height = 0;
        newest_.bgr.clear();
    } else {
        newest_.width = width;
        newest_.height = height;
        const size_t row = size_t(width) * 3;
        newest_.bgr.resize(row * size_t(height));
        // Bottom-up rows, as the capture loop takes them.
        for (int y = 0; y < height; ++y)
            std::memcpy(newest_.bgr.data() + row * size_t(height - 1 - y), data + size_t(stride) * size_t(y), row);
    }
    firstCv_.notify_all();
}

void CameraCapture::fail(const std::string& why) {
    std::lock_guard<std::mutex> g(lock_);
    if (!failed_) {
        failed_ = true;
        failure_ = why;
    }
    firstCv_.notify_all();
}

bool CameraCapture::copyNewest(CameraPicture& out) {
    std::lock_guard<std::mutex> g(lock_);
    if (newest_.sequence == 0 || newest_.sequence == out.sequence) return false;
    out = newest_;
    return true;
}

bool CameraCapture::waitFirst(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(lock_);
    return firstCv_.wait_for(g, timeout, [this] { return newest_.sequence > 0 || failed_; }) && newest_.sequence > 0;
}

bool CameraCapture::lostSince(std::chrono::steady_clock::time_point& when, std::string& why,
                              std::chrono::milliseconds silence) {
    std::lock_guard<std::mutex> g(lock_);
    const auto last = newest_.sequence > 0 ? lastSample_ : openedAt_;
    if (failed_) {
        when = last;
        why = failure_;
        return true;
    }
    if (pipeline_ && std::chrono::steady_clock::now() - last > silence) {
        when = last;
        why = "it stopped delivering pictures";
        return true;
    }
    return false;
}

}  // namespace torvane::camera
