#include "settings/StoredSettingsCheck.h"

#include <QString>
#include <algorithm>

namespace torvane {

namespace {

class Checker {
public:
    explicit Checker(std::vector<std::string>& notes) : notes_(notes) {}

    void range(int32_t& v, int32_t lo, int32_t hi, int32_t fallback, const char* what) {
        if (v >= lo && v <= hi) return;
        notes_.push_back(std::string("The stored ") + what + " " + std::to_string(v) + " is not between " +
                         std::to_string(lo) + " and " + std::to_string(hi) + "; " + std::to_string(fallback) +
                         " is used instead.");
        v = fallback;
    }
    void text(char16_t* field, size_t capacity, const char* what) {
        // A field without a terminator, or with control characters, is not a name anyone chose.
        const char16_t* end = std::find(field, field + capacity, u'\0');
        const bool control = std::any_of(static_cast<const char16_t*>(field), end, [](char16_t c) { return c < 0x20 || c == 0x7f; });
        if (end != field + capacity && !control) return;
        notes_.push_back(std::string("The stored ") + what + " is not readable; it is cleared.");
        std::fill(field, field + capacity, u'\0');
    }

private:
    std::vector<std::string>& notes_;
};

}  // namespace

bool isUsableFileName(const std::string& name) {
    if (name.empty() || name.size() > kStoredMaxPathBytes) return false;
    if (std::any_of(name.begin(), name.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; }))
        return false;
    // Bytes that are not UTF-8 would change when the name goes through the dialogs.
    return QString::fromStdString(name).toStdString() == name;
}

std::vector<std::string> replaceInvalidSettings(CaptureSettings& s, const std::string& defaultFileName) {
    std::vector<std::string> notes;
    Checker c(notes);
    // The source, area, frame rate and video size are refused with a sentence when a recording
    // starts (and the dialogs bring them into range); the rest is replaced here.
    c.range(s.screen.quality, 0, 2, ScreenSettings{}.quality, "quality");

    c.range(s.soundEnabled, 0, 1, 1, "sound choice");
    c.range(s.soundOption, kSoundMicrophone, kSoundBoth, kSoundMicrophone, "sound source");

    const CursorSettings dc;
    c.range(s.cursor.captureCursor, 0, 1, dc.captureCursor, "pointer choice");
    c.range(s.cursor.highlightType, kHighlightPointer, kHighlightEllipse, dc.highlightType, "highlight kind");
    c.range(s.cursor.highlightOpacity, 0, 100, dc.highlightOpacity, "highlight opacity");
    c.range(s.cursor.highlightSize, 0, 500, dc.highlightSize, "highlight size");
    if (s.cursor.highlightColor > 0x00FFFFFF) {
        notes.push_back("The stored highlight colour is not a colour; the default is used instead.");
        s.cursor.highlightColor = dc.highlightColor;
    }

    WatermarkSettings& w = s.watermark;
    c.range(w.on, 0, 1, 0, "watermark choice");
    c.text(w.imagePath, std::size(w.imagePath), "watermark image name");
    c.range(w.width, 0, kStoredMaxSide, 0, "watermark width");
    c.range(w.height, 0, kStoredMaxSide, 0, "watermark height");
    c.range(w.position, 0, 8, 0, "watermark position");
    c.range(w.opacity, 0, 100, 70, "watermark opacity");
    c.range(w.marginX, 0, kStoredMaxSide, 0, "watermark margin");
    c.range(w.marginY, 0, kStoredMaxSide, 0, "watermark margin");

    PipSettings& p = s.pip;
    c.range(p.on, 0, 1, 0, "picture-in-picture choice");
    c.range(p.width, 0, kStoredMaxSide, 0, "picture-in-picture width");
    c.range(p.height, 0, kStoredMaxSide, 0, "picture-in-picture height");
    c.range(p.position, 0, 8, 0, "picture-in-picture position");
    c.range(p.marginX, 0, kStoredMaxSide, 0, "picture-in-picture margin");
    c.range(p.marginY, 0, kStoredMaxSide, 0, "picture-in-picture margin");
    c.text(s.webcam.deviceName, std::size(s.webcam.deviceName), "webcam name");

    if (!s.fileName.empty() && !isUsableFileName(s.fileName)) {
        notes.push_back("The stored file name cannot be used; " +
                        (defaultFileName.empty() ? std::string("none is set") : defaultFileName + " is used instead") +
                        ".");
        s.fileName = defaultFileName;
    }
    return notes;
}

}  // namespace torvane
