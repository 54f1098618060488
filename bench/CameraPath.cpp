// The camera path alone, without the encoder: one camera captured, converted to 24-bit BGR and
// copied into a frame slot at the recording's rate, for a number of seconds. Prints the CPU this
// process spent per second of it, and each thread's share, read from /proc/self/task.
//   camera-path NAME WIDTHxHEIGHT FPS SECONDS

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/camera/CameraCapture.h"

namespace {

double processCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each live thread by its name (threads of one name summed).
std::map<std::string, double> threadCpu() {
    std::map<std::string, double> out;
    const double tick = double(sysconf(_SC_CLK_TCK));
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream in(task.path() / "stat");
        std::string line;
        if (!std::getline(in, line)) continue;
        // The name is in parentheses and may hold spaces; utime and stime are fields 14 and 15.
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        out[line.substr(open + 1, close - open - 1)] += double(utime + stime) / tick;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int width = 0, height = 0, fps = 0, seconds = 0;
    if (argc != 5 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2 || (fps = std::atoi(argv[3])) <= 0 ||
        (seconds = std::atoi(argv[4])) <= 0) {
        std::fprintf(stderr, "usage: camera-path NAME WIDTHxHEIGHT FPS SECONDS\n");
        return 2;
    }
    torvane::camera::CameraCapture camera;
    std::string error;
    if (!camera.open(argv[1], width, height, fps, error)) {
        std::fprintf(stderr, "camera-path: the webcam \"%s\" cannot be used: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (!camera.waitFirst(std::chrono::seconds(5))) {
        std::fprintf(stderr, "camera-path: no picture within 5 s\n");
        return 1;
    }
    // The steady state only: opening and negotiating are left out.
    torvane::camera::CameraPicture slot;
    camera.copyNewest(slot);
    const uint64_t firstSequence = slot.sequence;
    const auto threadsBefore = threadCpu();
    const double cpuBefore = processCpu();
    const auto start = std::chrono::steady_clock::now();
    const auto period = std::chrono::nanoseconds(1000000000LL / fps);
    long positions = 0, copied = 0;
    for (auto next = start + period; next <= start + std::chrono::seconds(seconds); next += period) {
        std::this_thread::sleep_until(next);
        ++positions;
        if (camera.copyNewest(slot)) ++copied;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = processCpu() - cpuBefore;
    const auto threadsAfter = threadCpu();
    std::chrono::steady_clock::time_point when;
    std::string why;
    const bool lost = camera.lostSince(when, why);

    std::printf("camera path %dx%d (negotiated %dx%d) at %d fps, %.1f s: CPU/s %.4f (%.1f%% of one core)  "
                "pictures from the camera %llu (%.1f/s)  positions %ld, with a new picture %ld%s%s\n",
                width, height, slot.width, slot.height, fps, wall, cpu / wall, 100 * cpu / wall,
                static_cast<unsigned long long>(slot.sequence - firstSequence), double(slot.sequence - firstSequence) / wall,
                positions, copied, lost ? "  LOST: " : "", lost ? why.c_str() : "");
    std::vector<std::pair<double, std::string>> shares;
    for (const auto& [name, after] : threadsAfter) {
        const auto before = threadsBefore.find(name);
        shares.push_back({after - (before == threadsBefore.end() ? 0.0 : before->second), name});
    }
    std::sort(shares.rbegin(), shares.rend());
    for (const auto& [used, name] : shares)
        if (used > 0) std::printf("  thread %-18s CPU/s %.4f\n", name.c_str(), used / wall);
    camera.close();
    return lost ? 1 : 0;
}
