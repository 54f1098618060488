#include "tools/torvane_record/RecordPlan.h"

#include <QImageReader>

#include <algorithm>
#include <tuple>

#include "settings/CaptureRules.h"

namespace torvane::record {

bool applyRecordOptions(CaptureSettings& s, const RecordOptions& o, bool anyVideoDevice, std::string& error) {
    if (o.sourceKind)
        s.screen.sourceKind = *o.sourceKind;
    else if (o.monitor)
        s.screen.sourceKind = kSourceFullScreen;
    else if (o.area)
        s.screen.sourceKind = kSourceArea;
    else if (o.window)
        s.screen.sourceKind = kSourceLiveSession;
    if (o.monitor) s.monitor = *o.monitor;
    if (o.webcam) {
        std::fill(std::begin(s.webcam.deviceName), std::end(s.webcam.deviceName), u'\0');
        toUtf16Field(*o.webcam, s.webcam.deviceName, std::size(s.webcam.deviceName));
    }
    if (o.webcamSize) {
        if (o.webcamSize->second > 720) {
            error = "--webcam-size must be at most 1280x720.";
            return false;
        }
        s.webcam.width = uint16_t(o.webcamSize->first);
        s.webcam.height = uint16_t(o.webcamSize->second);
    }
    if (o.pip) {
        // As the presenter-video dialog stores it; the size follows the webcam's.
        s.pip.on = *o.pip ? 1 : 0;
        s.pip.marginX = s.pip.marginY = 10;
    }
    if (o.pipPosition) s.pip.position = *o.pipPosition;
    if ((s.screen.sourceKind == kSourceWebcam || (o.pip && *o.pip)) && !anyVideoDevice) {
        error = "There is no video input device, so the webcam cannot be recorded.";
        return false;
    }
    if ((s.screen.sourceKind == kSourceWebcam || (o.pip && *o.pip)) && s.webcam.deviceName[0] == u'\0') {
        error = "Please select the video input device.";
        return false;
    }
    if (o.area) s.screen.rect = *o.area;
    if (o.sizeChoice) s.screen.sizeChoice = *o.sizeChoice;
    if (o.fps) s.screen.frameRate = *o.fps;
    if (o.quality) s.screen.quality = *o.quality;
    if (o.taskbar) s.screen.includeTaskbar = *o.taskbar;

    if (o.cursor) {
        s.cursor.captureCursor = *o.cursor == kCursorOff ? 0 : 1;
        if (*o.cursor != kCursorOff) s.cursor.highlightType = *o.cursor;
    }
    if (o.highlightColor) s.cursor.highlightColor = *o.highlightColor;
    if (o.highlightOpacity) s.cursor.highlightOpacity = *o.highlightOpacity;
    if (o.highlightSize) s.cursor.highlightSize = *o.highlightSize;

    if (o.sound) {
        switch (*o.sound) {
            case SoundChoice::Off: s.soundEnabled = 0; break;
            case SoundChoice::Microphone: s.soundEnabled = 1; s.soundOption = kSoundMicrophone; break;
            case SoundChoice::System: s.soundEnabled = 1; s.soundOption = kSoundSystem; break;
            case SoundChoice::Both: s.soundEnabled = 1; s.soundOption = kSoundBoth; break;
        }
    }
    if (o.watermark) {
        s.watermark.on = 1;
        toUtf16Field(*o.watermark, s.watermark.imagePath, 260);
        if (!o.watermarkSize) {
            // As the dialog does on choosing an image: its own size.
            const QSize natural = QImageReader(QString::fromStdString(*o.watermark)).size();
            if (natural.isValid()) {
                s.watermark.width = std::min(natural.width(), 2000);
                s.watermark.height = std::min(natural.height(), 2000);
            }
        }
    }
    if (o.watermarkSize) std::tie(s.watermark.width, s.watermark.height) = *o.watermarkSize;
    if (o.watermarkPosition) s.watermark.position = *o.watermarkPosition;
    if (o.watermarkOpacity) s.watermark.opacity = *o.watermarkOpacity;
    if (o.watermarkMargin) std::tie(s.watermark.marginX, s.watermark.marginY) = *o.watermarkMargin;
    if (o.out) s.fileName = *o.out;
    return true;
}

void computeCaptureGeometry(CaptureSettings& s, const ScreenRect& screen, const ScreenRect& workArea) {
    applyRectBySourceKind(s.screen, s.webcam, screen, workArea);
    applyOutputSize(s.screen);
    // The overlay shows the webcam picture at the webcam's own size.
    if (s.pip.on) {
        s.pip.width = s.webcam.width;
        s.pip.height = s.webcam.height;
    }
    if (s.screen.sourceKind != kSourceLiveSession) s.screen.liveWindow = 0;
}

}  // namespace torvane::record
