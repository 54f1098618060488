// What is asked of a camera, from what it offers: the wished size first, then the rate, raw or
// MJPEG; and an MJPEG camera of this process captured at its size.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TestCameraProvider.h"
#include "platform/camera/CameraCapture.h"
#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraFormat.h"

using namespace torvane::camera;

namespace {

// A usual HD webcam: raw only up to 640x480 at full rate, MJPEG for the larger sizes, and an H.264
// stream the recorder does not read.
constexpr const char* kHdWebcam =
    "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1};"
    "video/x-raw,format=YUY2,width=1280,height=720,framerate={10/1,5/1};"
    "image/jpeg,width=1280,height=720,framerate={30/1,20/1};"
    "image/jpeg,width=1920,height=1080,framerate=30/1;"
    "video/x-h264,width=3840,height=2160,framerate=30/1";

// The chosen caps as text, "" for none.
std::string choose(const char* offered, int width, int height, int rate) {
    GstCaps* caps = gst_caps_from_string(offered);
    GstCaps* chosen = chooseCameraCaps(caps, width, height, rate);
    gst_caps_unref(caps);
    if (!chosen) return "";
    gchar* text = gst_caps_to_string(chosen);
    std::string s = text;
    g_free(text);
    gst_caps_unref(chosen);
    return s;
}

class CameraFormat : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ensureGstreamer()); }
};

TEST_F(CameraFormat, TheSizeComesFirstThenTheRateThenRawBeforeMjpeg) {
    // Both formats at 1280x720, only MJPEG at 24 or more: MJPEG.
    EXPECT_EQ(choose(kHdWebcam, 1280, 720, 24),
              "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    // Raw reaches 5: raw, with no MJPEG to decode.
    EXPECT_EQ(choose(kHdWebcam, 1280, 720, 5),
              "video/x-raw, width=(int)1280, height=(int)720, framerate=(fraction)[ 5/1, 2147483647/1 ]");
    EXPECT_EQ(choose(kHdWebcam, 640, 480, 24),
              "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    // Only MJPEG at 1920x1080; the H.264 size is not taken.
    EXPECT_EQ(choose(kHdWebcam, 1920, 1080, 24),
              "image/jpeg, width=(int)1920, height=(int)1080, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    EXPECT_EQ(choose(kHdWebcam, 3840, 2160, 24), "video/x-raw, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    // Nothing reaches 60 at 1280x720: the faster format, at its best rate.
    EXPECT_EQ(choose(kHdWebcam, 1280, 720, 60),
              "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)[ 30/1, 2147483647/1 ]");
    // A size it lacks is dropped; no wish at all asks for raw.
    EXPECT_EQ(choose(kHdWebcam, 800, 600, 24), "video/x-raw, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    EXPECT_EQ(choose(kHdWebcam, 0, 0, 0), "video/x-raw");
}

TEST_F(CameraFormat, CamerasWithOnlyMjpegOrNothingReadable) {
    const char* mjpegOnly = "image/jpeg,width=1280,height=720,framerate=30/1";
    EXPECT_EQ(choose(mjpegOnly, 1280, 720, 24),
              "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    EXPECT_EQ(choose(mjpegOnly, 640, 480, 24), "image/jpeg, framerate=(fraction)[ 24/1, 2147483647/1 ]");
    // A rate range ending below the wish: its top.
    EXPECT_EQ(choose("video/x-raw,width=640,height=480,framerate=[1/1,15/2]", 640, 480, 24),
              "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)[ 15/2, 2147483647/1 ]");
    EXPECT_EQ(choose("video/x-h264,width=1280,height=720;video/x-bayer,width=640,height=480", 640, 480, 24), "");
    EXPECT_EQ(choose("EMPTY", 640, 480, 24), "");
    // A device that names nothing: raw at the wish, as the pipeline may still negotiate it.
    EXPECT_EQ(choose("ANY", 320, 240, 10),
              "video/x-raw, width=(int)320, height=(int)240, framerate=(fraction)[ 10/1, 2147483647/1 ]");
}

// An in-process camera that sends only MJPEG at 1280x720, as many HD webcams do. The encoder is
// given RGB so that its JPEG is full range, as a camera's is.
class MjpegCamera : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialogtest::registerTestCameraProvider());
        dialogtest::testCameras() = {
            {"Jpeg Camera",
             "image/jpeg,width=1280,height=720,framerate=30/1; video/x-h264,width=1920,height=1080,framerate=30/1", "",
             "videotestsrc is-live=true pattern=solid-color foreground-color=0xff2060ff "
             "! video/x-raw,format=RGB,width=1280,height=720,framerate=30/1 ! jpegenc"},
            {"Stream Camera", "video/x-h264,width=1920,height=1080,framerate=30/1", "", "videotestsrc is-live=true"}};
    }
    void TearDown() override { dialogtest::testCameras().clear(); }
};

TEST_F(MjpegCamera, ListsOnlyReadableSizesAndDeliversDecodedPictures) {
    bool listed = false;
    for (const CameraInfo& c : listCameras())
        if (c.name == "Jpeg Camera") {
            listed = true;
            ASSERT_EQ(c.sizes.size(), 1u);
            EXPECT_EQ(c.sizes[0], (CameraSize{1280, 720}));
        }
    EXPECT_TRUE(listed);

    CameraCapture capture;
    std::string error;
    ASSERT_TRUE(capture.open("Jpeg Camera", 1280, 720, 24, error)) << error;
    ASSERT_TRUE(capture.waitFirst(std::chrono::seconds(10)));
    CameraPicture picture;
    ASSERT_TRUE(capture.copyNewest(picture));
    ASSERT_EQ(picture.width, 1280);
    ASSERT_EQ(picture.height, 720);
    ASSERT_EQ(picture.bgr.size(), size_t(1280 * 720 * 3));
    // 0x2060ff through JPEG and back, at a corner and the centre (bytes are B, G, R).
    for (size_t at : {size_t(0), (size_t(360) * 1280 + 640) * 3, picture.bgr.size() - 3}) {
        EXPECT_NEAR(picture.bgr[at], 0xff, 12) << at;
        EXPECT_NEAR(picture.bgr[at + 1], 0x60, 12) << at;
        EXPECT_NEAR(picture.bgr[at + 2], 0x20, 12) << at;
    }
    // It keeps sending.
    const uint64_t first = picture.sequence;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (picture.sequence < first + 5 && std::chrono::steady_clock::now() < deadline) capture.copyNewest(picture);
    EXPECT_GE(picture.sequence, first + 5);
}

TEST_F(MjpegCamera, ACameraWithNothingReadableIsRefusedAtOnce) {
    CameraCapture capture;
    std::string error;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(capture.open("Stream Camera", 1920, 1080, 24, error));
    EXPECT_EQ(error, "it offers no pictures the recorder can read (raw video or MJPEG)");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

}  // namespace
