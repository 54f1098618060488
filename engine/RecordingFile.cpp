#include "engine/RecordingFile.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#include "platform/avi/AviRepair.h"
#include "platform/avi/AviWriter.h"
#include "platform/mp4/Mp4Module.h"

namespace torvane {

namespace {

// The MP4 writer's library, loaded at the first MP4 recording or repair and kept: installed beside
// the programs' private library folder, or where the build put it.
struct Mp4Library {
    Mp4CreateFunction create = nullptr;
    Mp4RepairFunction repair = nullptr;
    std::string error;
};

const Mp4Library& mp4Library() {
    static Mp4Library library;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string candidates[2];
        char self[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            std::string dir(self, size_t(n));
            dir.erase(dir.rfind('/') + 1);
            candidates[0] = dir + TORVANE_MP4_MODULE_FROM_BIN;
        }
        candidates[1] = TORVANE_MP4_MODULE_BUILD;
        void* handle = nullptr;
        for (const std::string& path : candidates) {
            if (path.empty() || ::access(path.c_str(), R_OK) != 0) continue;
            handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle) break;
            library.error = ::dlerror();
        }
        if (!handle) {
            if (library.error.empty()) library.error = std::string(mp4::kModuleFile) + " is not installed";
            library.error = "MP4 files cannot be written: " + library.error;
            return;
        }
        library.create = reinterpret_cast<Mp4CreateFunction>(::dlsym(handle, mp4::kCreateSymbol));
        library.repair = reinterpret_cast<Mp4RepairFunction>(::dlsym(handle, mp4::kRepairSymbol));
        if (!library.create || !library.repair) library.error = "MP4 files cannot be written: the MP4 library is damaged";
    });
    return library;
}

}  // namespace

Container containerOf(const std::string& path) {
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Container::Avi;
    return ::strcasecmp(path.c_str() + dot, ".mp4") == 0 ? Container::Mp4 : Container::Avi;
}

std::unique_ptr<media::IMediaWriter> createRecordingFile(const std::string& path, std::string* error) {
    if (containerOf(path) == Container::Mp4) {
        const Mp4Library& mp4 = mp4Library();
        if (!mp4.create) {
            if (error) *error = mp4.error;
            return nullptr;
        }
        return std::unique_ptr<media::IMediaWriter>(mp4.create(path.c_str(), error));
    }
    return avi::AviWriter::create(path, error);
}

bool repairRecordingInPlace(const std::string& path, std::string& summary, std::string& error) {
    if (containerOf(path) == Container::Mp4) {
        const Mp4Library& mp4 = mp4Library();
        if (!mp4.repair) {
            error = mp4.error;
            return false;
        }
        return mp4.repair(path.c_str(), &summary, &error);
    }
    avi::RepairReport report;
    if (!avi::repairAviFileInPlace(path, report, error)) return false;
    summary = report.summary();
    return true;
}

}  // namespace torvane
