#include "tools/torvane_record/RecordOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "settings/SettingsStore.h"

namespace torvane::record {

namespace {

// Longest span the recording clock (32-bit milliseconds) can measure, with room to spare.
constexpr double kMaxSeconds = 4000000.0;
constexpr int64_t kMaxCoordinate = 100000;

struct ValueError {
    std::string text;
};

bool parseInt(const std::string& text, int64_t& out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out, 10);
    return ec == std::errc{} && p == end;
}

bool parseSeconds(const std::string& text, double& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out, std::chars_format::fixed);
    return ec == std::errc{} && p == end && std::isfinite(out);
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ',')) parts.push_back(part);
    if (!text.empty() && text.back() == ',') parts.emplace_back();
    return parts;
}

int32_t intInRange(const std::string& name, const std::string& value, int64_t lo, int64_t hi) {
    int64_t v = 0;
    if (!parseInt(value, v) || v < lo || v > hi)
        throw ValueError{"--" + name + " must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi) +
                         " (got \"" + value + "\")"};
    return static_cast<int32_t>(v);
}

uint32_t secondsToMs(const std::string& name, const std::string& value, bool zeroAllowed) {
    double s = 0;
    if (!parseSeconds(value, s) || s > kMaxSeconds || (!zeroAllowed && s <= 0))
        throw ValueError{"--" + name + " needs " + (zeroAllowed ? "a number of seconds of at least 0" : "a number of seconds above 0") +
                         " and at most " + std::to_string(static_cast<int64_t>(kMaxSeconds)) + " (got \"" + value + "\")"};
    return static_cast<uint32_t>(std::llround(s * 1000.0));
}

int32_t choice(const std::string& name, const std::string& value, const std::vector<std::pair<const char*, int32_t>>& table) {
    for (const auto& [word, v] : table)
        if (value == word) return v;
    std::string words;
    for (const auto& [word, v] : table) words += (words.empty() ? "" : "|") + std::string(word);
    throw ValueError{"--" + name + " must be one of " + words + " (got \"" + value + "\")"};
}

// "AxB" or "A,B" of two integers in lo..hi.
std::pair<int32_t, int32_t> intPair(const std::string& name, const std::string& value, char sep, int64_t lo, int64_t hi) {
    const size_t at = value.find(sep);
    int64_t a = 0, b = 0;
    if (at == std::string::npos || !parseInt(value.substr(0, at), a) || !parseInt(value.substr(at + 1), b) || a < lo ||
        a > hi || b < lo || b > hi)
        throw ValueError{"--" + name + " needs two integers from " + std::to_string(lo) + " to " + std::to_string(hi) +
                         " as A" + sep + "B (got \"" + value + "\")"};
    return {static_cast<int32_t>(a), static_cast<int32_t>(b)};
}

using Setter = std::function<void(RecordOptions&, const std::string&)>;

const std::map<std::string, Setter>& setters() {
    static const std::map<std::string, Setter> table = {
        {"out", [](RecordOptions& o, const std::string& v) {
             if (v.empty()) throw ValueError{"--out needs a file name"};
             o.out = v;
         }},
        {"seconds", [](RecordOptions& o, const std::string& v) { o.stopAfterMs = secondsToMs("seconds", v, false); }},
        {"source", [](RecordOptions& o, const std::string& v) {
             o.sourceKind = choice("source", v, {{"full", kSourceFullScreen}, {"area", kSourceArea},
                                                 {"webcam", kSourceWebcam}, {"window", kSourceLiveSession}});
         }},
        {"area", [](RecordOptions& o, const std::string& v) {
             const std::vector<std::string> parts = splitCommas(v);
             int64_t n[4] = {};
             bool ok = parts.size() == 4;
             for (size_t i = 0; ok && i < 4; ++i)
                 ok = parseInt(parts[i], n[i]) && n[i] >= -kMaxCoordinate && n[i] <= kMaxCoordinate;
             if (!ok) throw ValueError{"--area needs four integers L,T,R,B within +-100000 (got \"" + v + "\")"};
             if (n[2] <= n[0] || n[3] <= n[1])
                 throw ValueError{"--area needs right > left and bottom > top (got \"" + v + "\")"};
             o.area = ScreenRect{static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]), static_cast<int32_t>(n[2]),
                                 static_cast<int32_t>(n[3])};
         }},
        {"window", [](RecordOptions& o, const std::string& v) {
             uint64_t id = 0;
             if (!parseWindowId(v, id) || id == 0 || id > 0xFFFFFFFFu)
                 throw ValueError{"--window needs a non-zero X11 window id, decimal or 0x hex (got \"" + v + "\")"};
             o.window = id;
         }},
        {"size-choice", [](RecordOptions& o, const std::string& v) { o.sizeChoice = intInRange("size-choice", v, 0, 6); }},
        {"fps", [](RecordOptions& o, const std::string& v) { o.fps = intInRange("fps", v, 3, 30); }},
        {"quality", [](RecordOptions& o, const std::string& v) { o.quality = intInRange("quality", v, 0, 2); }},
        {"taskbar", [](RecordOptions& o, const std::string& v) { o.taskbar = intInRange("taskbar", v, 0, 1); }},
        {"cursor", [](RecordOptions& o, const std::string& v) {
             o.cursor = choice("cursor", v, {{"off", kCursorOff}, {"pointer", kHighlightPointer},
                                             {"rectangle", kHighlightRectangle}, {"ellipse", kHighlightEllipse}});
         }},
        {"highlight-color", [](RecordOptions& o, const std::string& v) {
             const std::string hex = !v.empty() && v[0] == '#' ? v.substr(1) : v;
             uint32_t rgb = 0;
             const char* end = hex.data() + hex.size();
             auto [p, ec] = std::from_chars(hex.data(), end, rgb, 16);
             if (hex.size() != 6 || ec != std::errc{} || p != end)
                 throw ValueError{"--highlight-color needs six hex digits RRGGBB (got \"" + v + "\")"};
             // Stored as 0x00BBGGRR.
             o.highlightColor = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
         }},
        {"highlight-opacity", [](RecordOptions& o, const std::string& v) {
             const int32_t p = intInRange("highlight-opacity", v, 0, 100);
             if (p % 10 != 0) throw ValueError{"--highlight-opacity must be a multiple of 10 (got \"" + v + "\")"};
             o.highlightOpacity = p;
         }},
        {"highlight-size", [](RecordOptions& o, const std::string& v) { o.highlightSize = intInRange("highlight-size", v, 2, 50); }},
        {"pause", [](RecordOptions& o, const std::string& v) {
             const std::vector<std::string> parts = splitCommas(v);
             if (parts.size() != 2) throw ValueError{"--pause needs A,B: after A seconds recorded, pause B seconds (got \"" + v + "\")"};
             PauseSpec p{secondsToMs("pause (A)", parts[0], true), secondsToMs("pause (B)", parts[1], false)};
             // Stable, so pauses at the same recorded time follow one another in the given order.
             auto at = std::upper_bound(o.pauses.begin(), o.pauses.end(), p,
                                        [](const PauseSpec& a, const PauseSpec& b) { return a.atMs < b.atMs; });
             o.pauses.insert(at, p);
         }},
        {"watermark", [](RecordOptions& o, const std::string& v) {
             if (v.empty() || v.size() > 259) throw ValueError{"--watermark needs an image file name of at most 259 characters"};
             o.watermark = v;
         }},
        {"watermark-pos", [](RecordOptions& o, const std::string& v) { o.watermarkPosition = intInRange("watermark-pos", v, 0, 8); }},
        {"watermark-size", [](RecordOptions& o, const std::string& v) { o.watermarkSize = intPair("watermark-size", v, 'x', 1, 2000); }},
        {"watermark-opacity", [](RecordOptions& o, const std::string& v) {
             const int32_t p = intInRange("watermark-opacity", v, 0, 100);
             if (p % 10 != 0) throw ValueError{"--watermark-opacity must be a multiple of 10 (got \"" + v + "\")"};
             o.watermarkOpacity = p;
         }},
        {"watermark-margin", [](RecordOptions& o, const std::string& v) { o.watermarkMargin = intPair("watermark-margin", v, ',', 0, 2000); }},
        {"monitor", [](RecordOptions& o, const std::string& v) {
             if (v.empty() || v.size() > 255) throw ValueError{"--monitor needs a monitor's name (see --list-monitors) or all"};
             o.monitor = v;
         }},
        {"webcam", [](RecordOptions& o, const std::string& v) {
             if (v.empty() || v.size() > 199) throw ValueError{"--webcam needs a webcam name of at most 199 characters"};
             o.webcam = v;
         }},
        {"webcam-size", [](RecordOptions& o, const std::string& v) { o.webcamSize = intPair("webcam-size", v, 'x', 1, 1280); }},
        {"pip", [](RecordOptions& o, const std::string& v) { o.pip = choice("pip", v, {{"off", 0}, {"on", 1}}) == 1; }},
        {"pip-pos", [](RecordOptions& o, const std::string& v) { o.pipPosition = intInRange("pip-pos", v, 0, 8); }},
        {"sound", [](RecordOptions& o, const std::string& v) {
             o.sound = static_cast<SoundChoice>(choice("sound", v, {{"off", 0}, {"mic", 1}, {"system", 2}, {"both", 3}}));
         }},
    };
    return table;
}

}  // namespace

ParseOutcome parseRecordOptions(const std::vector<std::string>& args) {
    ParseOutcome outcome;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            outcome.kind = ParseOutcome::Help;
            return outcome;
        }
        if (arg == "--version") {
            outcome.kind = ParseOutcome::Version;
            return outcome;
        }
        if (arg == "--list-webcams") {
            outcome.options.listWebcams = true;
            continue;
        }
        if (arg == "--list-monitors") {
            outcome.options.listMonitors = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            outcome.kind = ParseOutcome::BadUsage;
            outcome.message = "unexpected argument \"" + arg + "\"";
            return outcome;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto setter = setters().find(name);
        if (setter == setters().end()) {
            outcome.kind = ParseOutcome::BadUsage;
            outcome.message = "unknown option \"--" + name + "\"";
            return outcome;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                outcome.kind = ParseOutcome::BadUsage;
                outcome.message = "option \"--" + name + "\" needs a value";
                return outcome;
            }
            value = args[++i];
        }
        try {
            setter->second(outcome.options, *value);
        } catch (const ValueError& e) {
            outcome.kind = ParseOutcome::BadValue;
            outcome.message = e.text;
            return outcome;
        }
    }
    return outcome;
}

std::string usageText() {
    return "usage: torvane-record [options]\n"
           "Records the screen with the stored recording settings, changed by the options below.\n"
           "  --out FILE              file to write: .mp4 makes an MP4 file (AAC sound), any other\n"
           "                          name an AVI file (PCM sound) (default: the stored file name,\n"
           "                          else unitled.avi in the documents folder)\n"
           "  --seconds N             stop after N seconds of recorded time (default: until\n"
           "                          SIGINT or SIGTERM)\n"
           "  --source full|area|webcam|window\n"
           "  --area L,T,R,B          screen area to record (implies --source area)\n"
           "  --window ID             X11 window id, decimal or 0x hex, stored as the live-session\n"
           "                          window (implies --source window)\n"
           "  --size-choice 0..6      0 original, 1 2/3, 2 1/2, 3 1/3, 4 800x600, 5 640x480, 6 320x240\n"
           "  --fps 3..30             frames per second\n"
           "  --quality 0..2          Normal, Higher, Highest\n"
           "  --taskbar 0|1           full screen: 1 whole screen, 0 the work area\n"
           "  --cursor off|pointer|rectangle|ellipse\n"
           "  --highlight-color RRGGBB\n"
           "  --highlight-opacity 0..100 (a multiple of 10)\n"
           "  --highlight-size 2..50\n"
           "  --pause A,B             after A seconds recorded, pause B seconds (repeatable)\n"
           "  --sound off|mic|system|both\n"
           "  --watermark FILE        stamp this image into every picture (jpg, png, gif, bmp)\n"
           "  --watermark-pos 0..8    0 top left, 1 top right, 2 top centre, 3 bottom left,\n"
           "                          4 bottom right, 5 bottom centre, 6/7/8 middle left/right/centre\n"
           "  --watermark-size WxH    drawn size (default: the image's own size)\n"
           "  --watermark-opacity 0..100 (a multiple of 10)\n"
           "  --watermark-margin X,Y  margins in pixels\n"
           "  --repair FILE           rebuild a cut-off or damaged recording in place and say\n"
           "                          what was kept (no other option with it)\n"
           "  --monitor NAME|all      full screen: record this monitor (or all of them) instead of\n"
           "                          the stored choice (implies --source full)\n"
           "  --list-monitors         print each monitor as NAME — W × H at +X+Y, and exit\n"
           "  --list-webcams          print each webcam as NAME: its sizes, and exit\n"
           "  --webcam NAME           the webcam to record or to show over the screen\n"
           "  --webcam-size WxH       the size to ask of it (as the Resolution list shows it)\n"
           "  --pip on|off            show the webcam over the screen recording\n"
           "  --pip-pos 0..8          where it goes, numbered as --watermark-pos\n"
           "  --help                  this text\n"
           "  --version               print the version\n"
           "Exit status: 0 recorded, 1 could not start or failed, 2 bad options, 3 stopped by itself, 4 part missing.\n"
           "(3: the disk filled, a write failed or the display went away; 4: a sound source died.)\n";
}

}  // namespace torvane::record
