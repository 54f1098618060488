// Records sound alone for a given time and prints how far the audio track's length is from the
// recording's length, and the CPU the sound threads used (the process does nothing else).
//
//   sound_bench [seconds = 600] [sound option = 2] [file = $TORVANE_TEST_ENV/sound_bench.avi]

#include <sys/resource.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/SoundCapture.h"
#include "platform/avi/AviWriter.h"

using namespace torvane;
using Clock = std::chrono::steady_clock;

static double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds per thread name, to see where the sound CPU goes.
static void perThread() {
    std::map<std::string, double> byName;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(e.path() / "stat");
        std::string line;
        std::getline(in, line);
        size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        unsigned long long ut = 0, st = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) ut = std::stoull(field);
            if (i == 15) st = std::stoull(field);
        }
        byName[line.substr(open + 1, close - open - 1)] += double(ut + st) / double(sysconf(_SC_CLK_TCK));
    }
    for (const auto& [name, s] : byName) std::printf("  thread %-16s %.2f s\n", name.c_str(), s);
}

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    int option = argc > 2 ? std::atoi(argv[2]) : 2;
    const char* env = std::getenv("TORVANE_TEST_ENV");
    std::string path = argc > 3 ? argv[3] : std::string(env ? env : "/tmp") + "/sound_bench.avi";

    CSoundCapture capture(1, option);
    const WaveFormat& f = capture.recordingFormat();
    std::string error;
    auto file = avi::AviWriter::create(path, &error);
    if (!file || f.blockAlign == 0) {
        std::fprintf(stderr, "cannot set up: %s %s\n", error.c_str(), capture.lastError().c_str());
        return 1;
    }
    media::ITrack* stream = file->addSound({f.channels, int(f.samplesPerSec), f.bitsPerSample});
    if (!stream) return 1;
    capture.setAudioStream(stream);

    double cpu0 = cpuSeconds();
    Clock::time_point t0 = Clock::now();
    capture.setTimeOrigin(t0);
    if (capture.start() != 0) {
        std::fprintf(stderr, "cannot start: %s\n", capture.lastError().c_str());
        return 1;
    }
    std::this_thread::sleep_until(t0 + std::chrono::microseconds(int64_t(seconds * 1e6)));
    perThread();
    Clock::time_point stopAt = Clock::now();
    capture.stopSources();
    double cpu = cpuSeconds() - cpu0;
    int64_t frames = stream->length();
    file->releaseTrack(stream);
    file->finish();

    double recorded = std::chrono::duration<double>(stopAt - t0).count();
    double audio = double(frames) / f.samplesPerSec;
    std::printf("option %d, %d Hz x %d: recording %.3f s, audio %.3f s, difference %.1f ms (one block: %.1f ms)\n",
                option, int(f.samplesPerSec), int(f.channels), recorded, audio, (audio - recorded) * 1000,
                19200.0 / f.avgBytesPerSec * 1000);
    std::printf("sound CPU: %.2f s = %.2f %% of one core\n", cpu, cpu / recorded * 100);
    std::string loss = capture.lossReport();
    if (!loss.empty()) std::printf("lost: %s\n", loss.c_str());
    return 0;
}
