#pragma once
// Rebuilds an AVI file whose writer died or whose bytes were damaged: the stream headers and every
// intact chunk are kept, a new file is written with fresh headers and indexes. Reads untrusted
// input: every size is checked against the file.

#include <cstdint>
#include <string>
#include <vector>

namespace torvane::avi {

struct RepairedStream {
    uint32_t fccType = 0;      // kStreamVideo / kStreamAudio
    uint32_t fccHandler = 0;
    int64_t length = 0;        // in stream units
    double seconds = 0;
    uint64_t chunks = 0;
};

struct RepairReport {
    std::vector<RepairedStream> streams;   // those kept, in file order
    double seconds = 0;                    // longest stream
    uint64_t bytesKept = 0;                // sample data kept
    uint64_t bytesDropped = 0;             // damaged or cut-off bytes among the samples
    // "kept video (H264, 41 frames) and audio (163200 samples): 00:00:04.1; dropped 1234 bytes"
    std::string summary() const;
};

// Reads `path` and writes the rebuilt file to `outPath`. False with `error` when nothing is
// recoverable (not an AVI file, no usable stream header, no intact sample) or on a write failure.
bool repairAviFile(const std::string& path, const std::string& outPath, RepairReport& report,
                   std::string& error);
// As above, then the rebuilt file replaces `path`; on failure `path` is left as it was.
bool repairAviFileInPlace(const std::string& path, RepairReport& report, std::string& error);

}  // namespace torvane::avi
