#pragma once
// What torvane-record records: the stored record with the options laid over it, and the rectangle
// and output size computed as the movie properties dialog computes them on OK.

#include <string>

#include "settings/CaptureSettings.h"
#include "tools/torvane_record/RecordOptions.h"

namespace torvane::record {

// Lays the options over `s`. False with `error` when an option cannot be honoured here (the
// webcam source without any video device, which the dialog would not offer either).
bool applyRecordOptions(CaptureSettings& s, const RecordOptions& o, bool anyVideoDevice, std::string& error);

// Rectangle by source kind and output size; clears the live-session window field for the other
// kinds (the look-up at start fills it for the live-session source).
void computeCaptureGeometry(CaptureSettings& s, const ScreenRect& screen, const ScreenRect& workArea);

}  // namespace torvane::record
