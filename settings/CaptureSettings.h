#pragma once
// The settings of the next recording. The five binary sub-records are a stored format: their byte
// layouts (little-endian, no padding) must never change.

#include <cstdint>
#include <string>

#include "platform/core/ScreenRect.h"

namespace torvane {

enum SourceKind : int32_t { kSourceFullScreen = 0, kSourceArea = 1, kSourceWebcam = 2, kSourceLiveSession = 3 };
enum SoundOption : int32_t { kSoundMicrophone = 0, kSoundSystem = 1, kSoundBoth = 2 };
enum HighlightType : int32_t { kHighlightPointer = 0, kHighlightRectangle = 1, kHighlightEllipse = 2 };

#pragma pack(push, 1)
struct ScreenSettings {
    int32_t sourceKind = kSourceFullScreen;
    ScreenRect rect;
    int32_t outputWidth = 0;
    int32_t outputHeight = 0;
    int32_t frameRate = 8;
    int32_t quality = 0;
    int32_t sizeChoice = 0;
    int32_t includeTaskbar = 1;
    int32_t liveWindow = 0;   // X11 window id (low 32 bits) of the recorded live-session window
};

struct WatermarkSettings {
    int32_t on = 0;
    char16_t imagePath[260] = {};
    int32_t width = 0;
    int32_t height = 0;
    int32_t position = 0;
    int32_t opacity = 0;
    int32_t marginX = 0;
    int32_t marginY = 0;
};

struct CursorSettings {
    int32_t captureCursor = 1;
    int32_t highlightType = kHighlightPointer;
    uint32_t highlightColor = 0x000000FF;   // COLORREF 0x00BBGGRR
    int32_t highlightOpacity = 70;
    int32_t highlightSize = 10;
};

struct PipSettings {
    int32_t on = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t position = 0;
    int32_t marginX = 0;
    int32_t marginY = 0;
};

struct WebcamSettings {
    char16_t deviceName[200] = {};
    uint16_t width = 0;
    uint16_t height = 0;
};
#pragma pack(pop)

static_assert(sizeof(ScreenSettings) == 48);
static_assert(sizeof(WatermarkSettings) == 548);
static_assert(sizeof(CursorSettings) == 20);
static_assert(sizeof(PipSettings) == 24);
static_assert(sizeof(WebcamSettings) == 404);

struct CaptureSettings {
    ScreenSettings screen;
    int32_t soundEnabled = 1;
    int32_t soundOption = kSoundMicrophone;
    std::string fileName;   // UTF-8
    std::string monitor;    // "Full Screen" records this monitor (its output's name), "all", or "" the primary
    WatermarkSettings watermark;
    CursorSettings cursor;
    PipSettings pip;
    WebcamSettings webcam;
};

// Zero-terminated UTF-16 field <-> UTF-8, cut to fit the field (capacity includes the terminator).
std::string fromUtf16Field(const char16_t* field, size_t capacity);
void toUtf16Field(const std::string& utf8, char16_t* field, size_t capacity);

}  // namespace torvane
