#pragma once
// The container of a recording follows its file's extension: ".mp4" makes an MP4 file (H.264 and
// AAC, what browsers and phones play), anything else an AVI file (H.264 and PCM).

#include <memory>
#include <string>

#include "platform/media/MediaWriter.h"

namespace torvane {

enum class Container { Avi, Mp4 };

Container containerOf(const std::string& path);
// Creates (truncates) the file; null with `error` filled (and errno set) when it cannot.
std::unique_ptr<media::IMediaWriter> createRecordingFile(const std::string& path, std::string* error);
// Rebuilds a recording cut off by a crash, in place; `summary` says what was kept. False with
// `error` when nothing could be recovered; the file is then left as it was.
bool repairRecordingInPlace(const std::string& path, std::string& summary, std::string& error);

}  // namespace torvane
