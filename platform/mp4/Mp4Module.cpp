// The MP4 writer as a library the engine loads on first use: its sound and container libraries
// bring a long chain of their own that an AVI recording need not carry in memory.
#include <memory>
#include <string>

#include "platform/mp4/Mp4Module.h"
#include "platform/mp4/Mp4Repair.h"
#include "platform/mp4/Mp4Writer.h"

extern "C" {

__attribute__((visibility("default"))) torvane::media::IMediaWriter* torvane_mp4_create(const char* path,
                                                                                        std::string* error) {
    return torvane::mp4::Mp4Writer::create(path, error).release();
}

__attribute__((visibility("default"))) bool torvane_mp4_repair_in_place(const char* path, std::string* summary,
                                                                        std::string* error) {
    return torvane::mp4::repairMp4FileInPlace(path, *summary, *error);
}

}  // extern "C"
