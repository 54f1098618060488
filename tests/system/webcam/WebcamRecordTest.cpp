// torvane-record with the virtual camera: webcam-only recordings, the overlay over the screen,
// a camera that is missing or unplugged. Files are read back with ffmpeg and GStreamer.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "MediaProbe.h"

namespace {

using namespace std::chrono_literals;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string cameraName() { return env("TORVANE_CAMERA_NAME"); }
std::string out(const std::string& name) { return env("TORVANE_TEST_ENV") + "/" + name; }

std::array<int, 3> cameraRgb() {
    const unsigned c = unsigned(std::stoul(env("TORVANE_CAMERA_COLOR"), nullptr, 16));
    return {int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)};
}

// Within the error of one YUV 4:2:0 round trip.
bool near(const std::array<int, 3>& a, const std::array<int, 3>& b, int tolerance = 24) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > tolerance) return false;
    return true;
}

std::string rgbText(const std::array<int, 3>& c) {
    return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string firstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The virtual camera is replaced after each program that used it (virtual-camera.sh), and is
// missing for a moment meanwhile: waits for a publisher no program has used yet, and gives its
// number, empty when none came.
std::string waitForFreshCamera() {
    for (int i = 0; i < 300; ++i) {
        const std::string ready = firstLine(env("TORVANE_CAMERA_READY"));
        if (!ready.empty() && ready != firstLine(env("TORVANE_CAMERA_USED"))) return ready;
        std::this_thread::sleep_for(100ms);
    }
    return "";
}

// Tells the camera its publisher `generation` is free to be replaced.
void doneWithCamera(const std::string& generation) {
    const std::string used = env("TORVANE_CAMERA_USED");
    std::ofstream(used + ".new") << generation << "\n";
    std::rename((used + ".new").c_str(), used.c_str());
}

// Runs the tool on a fresh camera; its standard error and exit status.
struct ToolResult {
    int status = -1;
    std::string err;
};

ToolResult record(const std::string& args) {
    ToolResult r;
    const std::string camera = waitForFreshCamera();
    if (camera.empty()) {
        r.err = "the virtual camera was not ready in 30 s";
        return r;
    }
    const std::string log = out("tool.log");
    r.status = WEXITSTATUS(std::system((std::string(TORVANE_RECORD_EXE) + " " + args + " 2>" + quoted(log)).c_str()));
    doneWithCamera(camera);
    r.err = runCommand("cat " + quoted(log));
    return r;
}

// "width,height,rate" of the video stream.
std::string videoGeometry(const std::string& file) {
    std::string s = runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=width,height,r_frame_rate -of csv=p=0 " +
                               quoted(file));
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string discovererSize(const std::string& file) {
    const std::string text = runCommand("gst-discoverer-1.0 " + quoted(file) + " 2>&1");
    const size_t at = text.find("Width: ");
    const size_t ht = text.find("Height: ");
    if (at == std::string::npos || ht == std::string::npos) return text;
    return std::to_string(std::atoi(text.c_str() + at + 7)) + "x" + std::to_string(std::atoi(text.c_str() + ht + 8));
}

TEST(WebcamRecord, ListsTheCameraWithItsSizes) {
    ASSERT_NE(waitForFreshCamera(), "");
    const std::string listed = runCommand(std::string(TORVANE_RECORD_EXE) + " --list-webcams");
    EXPECT_NE(listed.find(cameraName() + ": 640X480"), std::string::npos) << listed;
}

TEST(WebcamRecord, WebcamOnlyRecordsTheCameraAt24FramesPerSecond) {
    const std::string file = out("webcam-only.avi");
    const ToolResult r = record("--source webcam --webcam " + quoted(cameraName()) +
                         " --webcam-size 640x480 --seconds 3 --sound off --out " + quoted(file));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("lost"), std::string::npos) << r.err;
    EXPECT_EQ(decodeErrors(file), "");
    EXPECT_EQ(videoGeometry(file), "640,480,24/1");
    EXPECT_EQ(discovererSize(file), "640x480");
    // Positions filled at 24 per second over 3 s, allowing for a busy machine.
    const auto packets = videoPackets(file);
    EXPECT_GE(packets.size(), 60u);
    EXPECT_LE(packets.size(), 73u);
    const Picture p = decodePicture(file, int(packets.size()) / 2, 640, 480);
    ASSERT_EQ(p.rgb.size(), size_t(640 * 480 * 3));
    for (auto [x, y] : {std::pair{5, 5}, {320, 240}, {634, 474}})
        EXPECT_TRUE(near(p.at(x, y), cameraRgb())) << x << "," << y << ": " << rgbText(p.at(x, y));
}

TEST(WebcamRecord, ASizeTheCameraLacksRunsAtItsOwnSizeAndFillsTheFrame) {
    const std::string file = out("webcam-other-size.avi");
    const ToolResult r = record("--source webcam --webcam " + quoted(cameraName()) +
                         " --webcam-size 320x240 --seconds 2 --sound off --out " + quoted(file));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(videoGeometry(file), "320,240,24/1");
    const Picture p = decodePicture(file, 10, 320, 240);
    ASSERT_EQ(p.rgb.size(), size_t(320 * 240 * 3));
    EXPECT_TRUE(near(p.at(160, 120), cameraRgb())) << rgbText(p.at(160, 120));
    EXPECT_TRUE(near(p.at(316, 236), cameraRgb())) << rgbText(p.at(316, 236));
}

TEST(WebcamRecord, AMissingCameraFailsStartWithItsName) {
    const std::string file = out("missing.avi");
    const ToolResult r = record("--source webcam --webcam 'No Such Camera' --webcam-size 640x480 --seconds 2 --sound off --out " +
                         quoted(file));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("The webcam \"No Such Camera\" cannot be used: it is not connected."), std::string::npos) << r.err;
}

// The overlay at each corner of a 1280x720 screen (black under Xvfb): the camera's colour inside
// the window's rectangle, the screen outside.
TEST(WebcamRecord, OverlayAtEachCornerShowsTheCameraOverTheScreen) {
    struct Corner {
        int position, left, top;
    } corners[] = {{0, 10, 10}, {1, 1280 - 10 - 160, 10}, {3, 10, 720 - 10 - 120}, {4, 1280 - 10 - 160, 720 - 10 - 120}};
    for (const Corner& c : corners) {
        SCOPED_TRACE("position " + std::to_string(c.position));
        const std::string file = out("pip" + std::to_string(c.position) + ".avi");
        const ToolResult r = record("--source full --taskbar 1 --size-choice 0 --fps 10 --cursor off --webcam " +
                             quoted(cameraName()) + " --webcam-size 160x120 --pip on --pip-pos " +
                             std::to_string(c.position) + " --seconds 2 --sound off --out " + quoted(file));
        ASSERT_EQ(r.status, 0) << r.err;
        const auto packets = videoPackets(file);
        ASSERT_GE(packets.size(), 10u);
        const Picture p = decodePicture(file, int(packets.size()) - 2, 1280, 720);
        ASSERT_EQ(p.rgb.size(), size_t(1280 * 720 * 3));
        const auto inside = p.at(c.left + 80, c.top + 60);
        EXPECT_TRUE(near(inside, cameraRgb())) << rgbText(inside);
        EXPECT_TRUE(near(p.at(c.left + 4, c.top + 4), cameraRgb())) << rgbText(p.at(c.left + 4, c.top + 4));
        const auto outside = p.at(c.left > 600 ? c.left - 20 : c.left + 180, c.top + 60);
        EXPECT_TRUE(near(outside, {0, 0, 0})) << rgbText(outside);
        EXPECT_TRUE(near(p.at(640, 360), {0, 0, 0})) << rgbText(p.at(640, 360));
    }
}

// Killing the publishing process unplugs the camera: the recording goes on with the last picture
// and the report says from when the webcam was lost.
TEST(WebcamRecord, UnpluggedCameraKeepsTheLastPictureAndIsReported) {
    const std::string file = out("unplugged.avi");
    const std::string log = out("unplug.log");
    ASSERT_NE(waitForFreshCamera(), "");
    const pid_t tool = fork();
    if (tool == 0) {
        const std::string cmd = std::string(TORVANE_RECORD_EXE) + " --source webcam --webcam " + quoted(cameraName()) +
                                " --webcam-size 640x480 --seconds 5 --sound off --out " + quoted(file) + " 2>" + quoted(log);
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Unplug once recording has run for a while.
    for (int i = 0; i < 100 && runCommand("cat " + quoted(log)).find("recorded 00:00:01") == std::string::npos; ++i)
        std::this_thread::sleep_for(100ms);
    kill(pid_t(std::stoi(env("TORVANE_CAMERA_PID"))), SIGTERM);
    int status = 0;
    waitpid(tool, &status, 0);
    const std::string err = runCommand("cat " + quoted(log));
    // Recorded to the end, with part of it missing: status 4.
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << err;
    EXPECT_NE(err.find("\"" + cameraName() + "\" was lost at 00:0"), std::string::npos) << err;
    EXPECT_EQ(decodeErrors(file), "");
    const auto packets = videoPackets(file);
    EXPECT_GE(packets.size(), 100u);   // 5 s at 24 per second, the last seconds after the loss
    const Picture last = decodePicture(file, int(packets.size()) - 1, 640, 480);
    ASSERT_EQ(last.rgb.size(), size_t(640 * 480 * 3));
    EXPECT_TRUE(near(last.at(320, 240), cameraRgb())) << rgbText(last.at(320, 240));
}

}  // namespace
