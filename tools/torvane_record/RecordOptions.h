#pragma once
// Command-line options of torvane-record, parsed into values the settings dialogs could produce.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/CaptureSettings.h"

namespace torvane::record {

// When `atMs` of recorded time is reached, pause for `durationMs` of wall-clock time.
struct PauseSpec {
    uint32_t atMs = 0;
    uint32_t durationMs = 0;
    bool operator==(const PauseSpec&) const = default;
};

enum class SoundChoice { Off, Microphone, System, Both };

constexpr int32_t kCursorOff = -1;   // `cursor` value for "off"; otherwise a HighlightType

struct RecordOptions {
    std::optional<std::string> out;
    std::optional<uint32_t> stopAfterMs;      // recorded time; none = until a signal
    std::optional<int32_t> sourceKind;        // SourceKind
    std::optional<ScreenRect> area;
    std::optional<uint64_t> window;           // X11 window id for the live-session handshake
    std::optional<int32_t> sizeChoice;
    std::optional<int32_t> fps;
    std::optional<int32_t> quality;
    std::optional<int32_t> taskbar;
    std::optional<int32_t> cursor;            // kCursorOff or a HighlightType
    std::optional<uint32_t> highlightColor;   // COLORREF 0x00BBGGRR
    std::optional<int32_t> highlightOpacity;
    std::optional<int32_t> highlightSize;
    std::vector<PauseSpec> pauses;            // ordered by recorded time
    std::optional<SoundChoice> sound;
    std::optional<std::string> watermark;     // image file; turns the watermark on
    std::optional<int32_t> watermarkPosition;
    std::optional<std::pair<int32_t, int32_t>> watermarkSize;
    std::optional<int32_t> watermarkOpacity;
    std::optional<std::pair<int32_t, int32_t>> watermarkMargin;
    bool listWebcams = false;                 // print the webcams and their sizes, record nothing
    bool listMonitors = false;                // print the monitors, record nothing
    std::optional<std::string> monitor;       // an output's name or "all"; implies --source full
    std::optional<std::string> webcam;        // friendly name
    std::optional<std::pair<int32_t, int32_t>> webcamSize;
    std::optional<bool> pip;
    std::optional<int32_t> pipPosition;
};

struct ParseOutcome {
    enum Kind { Run, Help, Version, BadUsage, BadValue };
    Kind kind = Run;
    RecordOptions options;
    std::string message;   // for BadUsage and BadValue
};

// `args` excludes the program name. Accepts "--name value" and "--name=value".
ParseOutcome parseRecordOptions(const std::vector<std::string>& args);
std::string usageText();

}  // namespace torvane::record
