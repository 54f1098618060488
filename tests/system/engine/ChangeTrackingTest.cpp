// Change tracking on the real test display: unchanged positions are empty entries, every change is
// in the picture of the next position, and a server that cannot report changes gets every position
// encoded. Files are read back with ffprobe/ffmpeg and with GStreamer.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Losses.h"
#include "MediaProbe.h"
#include "SessionSetup.h"
#include "XPainter.h"
#include "engine/CaptureSession.h"
#include "engine/LiveSession.h"
#include "settings/CaptureRules.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

void waitRecorded(const CCaptureSession& s, uint32_t ms) {
    while (s.recordedMilliseconds() < ms) std::this_thread::sleep_for(1ms);
}

// Cuts raw RGB output into pictures of w x h.
std::vector<std::string> cut(const std::string& raw, int w, int h) {
    const size_t n = size_t(w) * size_t(h) * 3;
    std::vector<std::string> out;
    for (size_t at = 0; at + n <= raw.size(); at += n) out.push_back(raw.substr(at, n));
    return out;
}

// Every decoded picture in file order, one per non-empty entry, by ffmpeg's decoder.
std::vector<std::string> ffmpegPictures(const std::string& file, int w, int h) {
    return cut(runCommand("ffmpeg -nostdin -v error -i '" + file + "' -vsync 0 -f rawvideo -pix_fmt rgb24 -"), w, h);
}

// The same by GStreamer's demuxer and decoder (w * 3 a multiple of 4: RGB rows are not padded then).
std::vector<std::string> gstPictures(const std::string& file, int w, int h) {
    return cut(runCommand("timeout 120 gst-launch-1.0 -q filesrc location='" + file +
                          "' ! decodebin ! videoconvert ! video/x-raw,format=RGB ! fdsink fd=1"),
               w, h);
}

std::array<int, 3> colourAt(const std::string& picture, int w, int x, int y) {
    const size_t i = (size_t(y) * size_t(w) + size_t(x)) * 3;
    return {uint8_t(picture[i]), uint8_t(picture[i + 1]), uint8_t(picture[i + 2])};
}

bool near(std::array<int, 3> got, std::array<int, 3> want, int tolerance = 16) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(got[i] - want[i]) > tolerance) return false;
    return true;
}

std::array<int, 3> rgbOf(uint32_t rgb) { return {int(rgb >> 16) & 0xFF, int(rgb >> 8) & 0xFF, int(rgb & 0xFF)}; }

// The largest difference of one colour value between two pictures of the same size.
int largestDifference(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return 256;
    int most = 0;
    for (size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    return most;
}

// Positions of the non-empty entries, in file order.
std::vector<int64_t> picturePositions(const std::string& file) {
    std::vector<int64_t> out;
    for (const Packet& p : videoPackets(file))
        if (p.size > 0) out.push_back(p.pts);
    return out;
}

// Positions of the pictures encoded for a change, in a recording of one run: the repeats a still
// stretch gets (the run's second and third positions, a second after the picture before, the last
// three positions) are left out.
std::vector<int64_t> encodedPositions(const std::string& file, int fps) {
    const std::vector<int64_t> all = picturePositions(file);
    const int64_t positions = videoPositions(file);
    std::vector<int64_t> out;
    for (size_t i = 0; i < all.size(); ++i) {
        const bool repeat = i > 0 && (all[i] <= all[0] + 2 || all[i] - all[i - 1] >= fps || all[i] >= positions - 3);
        if (!repeat) out.push_back(all[i]);
    }
    return out;
}

// What the decoder says of each picture: its position and whether it is a key (IDR) picture.
std::vector<std::pair<int64_t, bool>> decodedKeys(const std::string& file) {
    std::vector<std::pair<int64_t, bool>> out;
    std::istringstream in(runCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pkt_dts,key_frame "
                                     "-of csv=p=0 '" + file + "'"));
    std::string line;
    while (std::getline(in, line)) {
        int key = 0;
        long dts = 0;
        if (std::sscanf(line.c_str(), "%d,%ld", &key, &dts) == 2) out.emplace_back(dts, key == 1);
    }
    return out;
}

// A moment of the recording, read just before and just after something was done on the display:
// the positions it may have fallen into.
struct Moment {
    int64_t first = 0, last = 0;
};

template <typename Action>
Moment at(const CCaptureSession& s, int fps, Action act) {
    Moment m;
    m.first = int64_t(s.recordedMilliseconds()) * fps / 1000;
    act();
    m.last = int64_t(s.recordedMilliseconds()) * fps / 1000;
    return m;
}

// The position of the first picture at or after `m` could have shown it, or -1. It must be no
// earlier than the moment and no later than the position after it; positions the engine reached
// late (counted by the session, a busy machine) may push it that much further.
::testing::AssertionResult pictureFollows(const std::vector<int64_t>& pictures, const Moment& m, uint64_t late,
                                          const char* what) {
    for (int64_t p : pictures) {
        if (p < m.first) continue;
        if (p <= m.last + 1 + int64_t(late)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << what << " at positions " << m.first << "-" << m.last
                                             << ": the next picture is at " << p << " (late positions: " << late << ")";
    }
    return ::testing::AssertionFailure() << what << " at positions " << m.first << "-" << m.last << ": no picture after it";
}

bool pictureBetween(const std::vector<int64_t>& pictures, int64_t from, int64_t to) {
    for (int64_t p : pictures)
        if (p >= from && p <= to) return true;
    return false;
}

// A still screen recorded without change tracking: every position the engine reached in time is a
// picture, none is left empty on purpose.
void expectEveryPositionEncoded(const char* name) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x2040A0);
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, areaSettings({0, 0, 160, 120}, 10)));
    const std::string file = outDir() + "/" + name + ".avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    waitRecorded(s, 2000);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    EXPECT_EQ(decodeErrors(file), "");
    const CaptureStatistics st = s.statistics();
    const int64_t positions = videoPositions(file);
    const std::vector<int64_t> pictures = picturePositions(file);
    EXPECT_EQ(st.framesUnchanged, 0u);
    EXPECT_EQ(int64_t(pictures.size()), positions - int64_t(st.framesSkipped));
    EXPECT_GE(pictures.size(), size_t(positions / 2)) << "most positions late on a still screen";
    EXPECT_EQ(gstPictures(file, 160, 120).size(), pictures.size());
    x.destroy(bg);
}

}  // namespace

TEST(ChangeTracking, StillScreenIsOneEncodedPicturePerRunAndRepeatsEverySecond) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    const uint32_t red = x.window(100, 100, 80, 120, 0xFF0000);
    const uint32_t blue = x.window(180, 100, 80, 120, 0x0000FF);
    constexpr int kFps = 10;
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, areaSettings({100, 100, 260, 220}, kFps)));
    const std::string file = outDir() + "/still.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    waitRecorded(s, 1500);
    ASSERT_TRUE(s.pause());
    const int64_t resumedAt = int64_t(s.recordedMilliseconds()) * kFps / 1000;
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(s.resume());
    waitRecorded(s, 3000);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    EXPECT_EQ(decodeErrors(file), "");

    // The first position of each run is an IDR picture (the second one's at the resumed position, or
    // the next when the turn before Pause had taken that one). A still stretch repeats the picture
    // once a second and at the run's last position; everything else is an empty entry.
    const int64_t positions = videoPositions(file);
    EXPECT_NEAR(double(positions), 30.0, 2.0);
    const std::vector<int64_t> pictures = picturePositions(file);
    ASSERT_GE(pictures.size(), 5u);
    EXPECT_EQ(pictures.front(), 0);
    // Readers judge the rate from the spacing of the pictures after the first one.
    EXPECT_EQ(pictures[1], 1);
    EXPECT_EQ(pictures[2], 2);
    EXPECT_EQ(pictures.back(), positions - 1) << "the recording ends on a picture";
    for (size_t i = 1; i < pictures.size(); ++i)
        EXPECT_LE(pictures[i] - pictures[i - 1], kFps) << "a still stretch without a picture for over a second";
    const auto keys = decodedKeys(file);
    std::vector<int64_t> idr;
    for (const auto& k : keys)
        if (k.second) idr.push_back(k.first);
    ASSERT_EQ(idr.size(), 2u) << "a still screen is encoded in full once per run";
    EXPECT_EQ(idr[0], 0);
    EXPECT_GE(idr[1], resumedAt);
    EXPECT_LE(idr[1], resumedAt + 1);
    EXPECT_TRUE(std::find(pictures.begin(), pictures.end(), idr[1] - 1) != pictures.end())
        << "the run before the pause ends on a picture";
    const CaptureStatistics st = s.statistics();
    EXPECT_EQ(st.framesWritten, pictures.size());
    EXPECT_EQ(st.framesRepeated, pictures.size() - 2);
    EXPECT_EQ(int64_t(st.framesWritten + st.framesUnchanged + st.framesSkipped), positions);

    // The whole time line shows the same picture, which is the display, in every decoder: the
    // repeats are exact copies.
    EXPECT_NEAR(gstDuration(file), double(positions) / kFps, 0.15);
    // ffmpeg at the recording's rate repeats the picture over the empty entries.
    const std::vector<std::string> shown = cut(
        runCommand("ffmpeg -nostdin -v error -i '" + file + "' -r 10 -f rawvideo -pix_fmt rgb24 -"), 160, 120);
    EXPECT_EQ(int64_t(shown.size()), positions);
    for (const auto& decoded : {shown, ffmpegPictures(file, 160, 120), gstPictures(file, 160, 120)}) {
        ASSERT_FALSE(decoded.empty());
        for (const std::string& p : decoded) EXPECT_LE(largestDifference(p, decoded[0]), 6);
        EXPECT_TRUE(near(colourAt(decoded[0], 160, 40, 60), {255, 0, 0}));
        EXPECT_TRUE(near(colourAt(decoded[0], 160, 120, 60), {0, 0, 255}));
    }
    EXPECT_EQ(gstPictures(file, 160, 120).size(), pictures.size());
    for (uint32_t w : {blue, red, bg}) x.destroy(w);
}

TEST(ChangeTracking, AChangeIsInThePictureOfTheNextPosition) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    const uint32_t field = x.window(40, 40, 80, 40, 0x000000);
    constexpr int kFps = 20;
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, areaSettings({0, 0, 160, 120}, kFps)));
    const std::string file = outDir() + "/changes.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    // Changes at different moments inside a position (its period is 50 ms), with still stretches
    // between them.
    const uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    std::vector<Moment> moments;
    uint32_t when = 400;
    for (uint32_t c : colours) {
        waitRecorded(s, when);
        moments.push_back(at(s, kFps, [&] { x.setColour(field, c); }));
        when += 330 + 7 * uint32_t(moments.size());
    }
    waitRecorded(s, when);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    EXPECT_EQ(decodeErrors(file), "");
    const uint64_t late = s.statistics().framesSkipped;

    const std::vector<int64_t> pictures = picturePositions(file);
    for (size_t k = 0; k < moments.size(); ++k) EXPECT_TRUE(pictureFollows(pictures, moments[k], late, "colour change"));
    // Every picture taken after a change and before the next one shows the new colour, read by
    // either decoder.
    for (const auto& decoded : {ffmpegPictures(file, 160, 120), gstPictures(file, 160, 120)}) {
        ASSERT_EQ(decoded.size(), pictures.size());
        for (size_t k = 0; k < moments.size(); ++k) {
            const int64_t next = k + 1 < moments.size() ? moments[k + 1].first : INT64_MAX;
            for (size_t i = 0; i < pictures.size(); ++i) {
                if (pictures[i] <= moments[k].last || pictures[i] >= next) continue;
                EXPECT_TRUE(near(colourAt(decoded[i], 160, 80, 60), rgbOf(colours[k])))
                    << "the picture at " << pictures[i] << " misses the change at " << moments[k].last;
            }
        }
    }
    // Still stretches cost nothing: a picture per change, and at most one spare where a change
    // came while a grab was reading; the rest are repeats of a picture already encoded.
    EXPECT_LE(encodedPositions(file, kFps).size(), 1 + 2 * moments.size());
    EXPECT_LE(s.statistics().framesWritten - s.statistics().framesRepeated, 1 + 2 * moments.size());
    x.destroy(field);
    x.destroy(bg);
}

TEST(ChangeTracking, PointerCountsWhereItIsDrawn) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    constexpr int kFps = 10;
    CursorSettings arrow, square, hidden;
    square.highlightType = kHighlightRectangle;
    square.highlightSize = 40;
    hidden.captureCursor = 0;
    struct Case {
        const char* name;
        CursorSettings cursor;
    };
    for (const Case& c : {Case{"arrow", arrow}, Case{"highlight", square}, Case{"hidden", hidden}}) {
        SCOPED_TRACE(c.name);
        x.setCursor(bg, XPainter::kLeftArrow);
        x.warpPointer(300, 300);
        CCaptureSession s;
        ASSERT_TRUE(prepare(s, areaSettings({200, 200, 520, 440}, kFps), c.cursor));
        const std::string file = outDir() + "/pointer-" + c.name + ".avi";
        ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
        waitRecorded(s, 550);
        const Moment moved = at(s, kFps, [&] { x.warpPointer(350, 320); });
        waitRecorded(s, 1150);
        const Moment shaped = at(s, kFps, [&] { x.setCursor(bg, XPainter::kCrosshair); });
        waitRecorded(s, 1750);
        const Moment left = at(s, kFps, [&] { x.warpPointer(900, 600); });
        // Outside the picture, moves and shapes do not show.
        waitRecorded(s, 2350);
        const Moment outside = at(s, kFps, [&] { x.warpPointer(1000, 650); });
        waitRecorded(s, 2750);
        x.setCursor(bg, XPainter::kLeftArrow);
        waitRecorded(s, 3300);
        ASSERT_TRUE(s.stop());
        EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
        EXPECT_EQ(decodeErrors(file), "");
        const uint64_t late = s.statistics().framesSkipped;
        EXPECT_EQ(gstPictures(file, 320, 240).size(), picturePositions(file).size());
        const std::vector<int64_t> pictures = encodedPositions(file, kFps);
        EXPECT_EQ(s.statistics().framesWritten - s.statistics().framesRepeated, pictures.size());
        if (c.cursor.captureCursor == 0) {
            EXPECT_EQ(pictures.size(), 1u) << "the pointer is not in the picture, its moves change nothing";
            continue;
        }
        EXPECT_TRUE(pictureFollows(pictures, moved, late, "a move inside"));
        EXPECT_TRUE(pictureFollows(pictures, shaped, late, "a new shape"));
        EXPECT_TRUE(pictureFollows(pictures, left, late, "leaving the picture"));
        EXPECT_FALSE(pictureBetween(pictures, outside.first, INT64_MAX)) << "a move or shape outside the picture";
        EXPECT_EQ(pictures.size(), 4u);
    }
    x.destroy(bg);
}

TEST(ChangeTracking, LiveSessionWindowIsFollowedOnAStillScreen) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    const uint32_t live = x.window(100, 100, 200, 152, 0xFF0000);
    const uint32_t mark = x.child(live, 0, 0, 20, 20, 0x00FF00);   // marks the window's top-left
    constexpr int kFps = 10;
    ScreenSettings settings;
    settings.sourceKind = kSourceLiveSession;
    settings.frameRate = kFps;
    ASSERT_TRUE(applyLiveSessionGeometry(settings, live));
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, settings));
    const std::string file = outDir() + "/live-still.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    const std::pair<int, int> places[] = {{600, 300}, {601, 300}, {40, 500}};
    std::vector<Moment> moments;
    uint32_t when = 600;
    for (auto [px, py] : places) {
        waitRecorded(s, when);
        moments.push_back(at(s, kFps, [&] { x.move(live, px, py); }));
        when += 600;
    }
    waitRecorded(s, when);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(decodeErrors(file), "");
    const uint64_t late = s.statistics().framesSkipped;
    const std::vector<int64_t> all = picturePositions(file);
    const std::vector<std::string> decoded = ffmpegPictures(file, 200, 152);
    ASSERT_EQ(decoded.size(), all.size());
    EXPECT_EQ(gstPictures(file, 200, 152).size(), decoded.size());
    const std::vector<int64_t> pictures = encodedPositions(file, kFps);
    for (const Moment& m : moments) EXPECT_TRUE(pictureFollows(pictures, m, late, "a move"));
    // Each picture is the window with its mark in the corner: the rectangle went with it, also
    // for a move of one pixel that leaves most of the screen as it was.
    for (size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_TRUE(near(colourAt(decoded[i], 200, 8, 8), {0, 255, 0})) << "picture at " << all[i];
        EXPECT_TRUE(near(colourAt(decoded[i], 200, 100, 76), {255, 0, 0})) << "picture at " << all[i];
    }
    EXPECT_LE(pictures.size(), 1 + 2 * moments.size());
    EXPECT_EQ(s.statistics().framesWritten - s.statistics().framesRepeated, pictures.size());
    for (uint32_t w : {mark, live, bg}) x.destroy(w);
}

TEST(ChangeTracking, SwitchedOffByTheEnvironmentEveryPositionIsEncoded) {
    setenv("TORVANE_NO_DAMAGE", "1", 1);
    expectEveryPositionEncoded("no-damage-env");
    unsetenv("TORVANE_NO_DAMAGE");
}

// Run on a server started without the Damage extension (with-env.sh --no-damage).
TEST(NoDamage, EveryPositionIsEncoded) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const char name[] = "DAMAGE";
    xcb_query_extension_reply_t* r =
        xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr);
    const bool present = r && r->present;
    std::free(r);
    xcb_disconnect(c);
    ASSERT_FALSE(present) << "this display has Damage";
    expectEveryPositionEncoded("no-damage-server");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
