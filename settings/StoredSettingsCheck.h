#pragma once
// Stored settings come from a file anyone can edit: values the program cannot use are replaced by
// their defaults as the record is loaded, so no later step sees them. The screen record's source,
// area, frame rate and size are left to the check at the start of a recording, which refuses them
// with a sentence.

#include <string>
#include <vector>

#include "settings/CaptureSettings.h"

namespace torvane {

// Bounds of stored values that the program can still use; the dialogs keep narrower ones.
constexpr int32_t kStoredMaxSide = 16384;           // watermark and picture-in-picture sides, margins
constexpr size_t kStoredMaxPathBytes = 4095;        // PATH_MAX less the terminator

// Replaces what is out of range in place; one sentence per replaced value (for the log).
// `defaultFileName` replaces an unusable capture file name.
std::vector<std::string> replaceInvalidSettings(CaptureSettings& s, const std::string& defaultFileName);

// A file name the program can create: not too long, no control characters, valid UTF-8.
bool isUsableFileName(const std::string& name);

}  // namespace torvane
