#include "app/StatusText.h"

#include "app/RecorderResources.h"
#include "engine/CaptureSession.h"

namespace torvane {

QString formatRecordedTime(uint32_t milliseconds) {
    const uint32_t seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2:%3:%4")
        .arg((seconds / 3600) % 24, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(milliseconds % 1000);
}

QString statusText(int state, uint32_t milliseconds) {
    switch (state) {
    case kStateReady: return text::kReady;
    case kStateRecording: return text::kRecording + QStringLiteral(" - ") + formatRecordedTime(milliseconds);
    case kStatePaused: return text::kPaused + QStringLiteral(" - ") + formatRecordedTime(milliseconds);
    default: return text::kIdleTitle.arg(text::kVersion);
    }
}

}  // namespace torvane
