#pragma once
// What the MP4 writer's loadable library offers, by name, for dlsym.

#include <string>

namespace torvane::media {
class IMediaWriter;
}

extern "C" {
// Creates (truncates) an MP4 file; null with `error` filled. The caller owns the writer.
using Mp4CreateFunction = torvane::media::IMediaWriter* (*)(const char* path, std::string* error);
// Rebuilds a cut-off MP4 file in place; the summary or the error is filled.
using Mp4RepairFunction = bool (*)(const char* path, std::string* summary, std::string* error);
}

namespace torvane::mp4 {
inline constexpr const char* kCreateSymbol = "torvane_mp4_create";
inline constexpr const char* kRepairSymbol = "torvane_mp4_repair_in_place";
inline constexpr const char* kModuleFile = "libtorvane_mp4.so";
}  // namespace torvane::mp4
