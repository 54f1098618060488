#pragma once
// Rebuilds an MP4 recording whose writer died: every whole picture and sound frame its fragments
// hold is copied into a new, complete file. Reads untrusted input through the library's reader.

#include <string>

namespace torvane::mp4 {

// Reads `path` and writes the rebuilt file to `outPath`; `summary` then says what was kept
// ("kept video (H264, 41 frames) and sound (AAC, 177152 samples): 00:00:04.1"). False with
// `error` when nothing is recoverable (not an MP4 file, no header, no picture) or on a write failure.
bool repairMp4File(const std::string& path, const std::string& outPath, std::string& summary, std::string& error);
// As above, then the rebuilt file replaces `path`; on failure `path` is left as it was.
bool repairMp4FileInPlace(const std::string& path, std::string& summary, std::string& error);

}  // namespace torvane::mp4
