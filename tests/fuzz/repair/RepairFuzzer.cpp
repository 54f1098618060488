// The repair scanner reads files of unknown origin: any bytes must end in a repaired file or a
// refusal, never a crash, a hang or an unbounded allocation.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/avi/AviRepair.h"

namespace {

int memoryFile(const char* name) {
    static int fds[2] = {-1, -1};
    int& fd = fds[name[0] == 'o'];
    if (fd < 0) fd = memfd_create(name, MFD_CLOEXEC);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int in = memoryFile("in"), out = memoryFile("out");
    if (in < 0 || out < 0) return 0;
    if (ftruncate(in, 0) != 0 || pwrite(in, data, size, 0) != ssize_t(size)) return 0;
    const std::string inPath = "/proc/self/fd/" + std::to_string(in);
    const std::string outPath = "/proc/self/fd/" + std::to_string(out);
    torvane::avi::RepairReport report;
    std::string error;
    if (torvane::avi::repairAviFile(inPath, outPath, report, error)) {
        // What was kept is described, and the rebuilt file is itself repairable to the same.
        if (report.summary().empty()) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();   // a refusal always says why
    }
    return 0;
}
