// Records the display for a given time with the engine and prints what the benchmark compares:
// positions filled (a picture or, for an unchanged screen, an empty entry, in time), pictures
// encoded, CPU seconds per recorded second, peak resident memory and the time per stage.
//   bench-record FILE SECONDS FPS [SOUND]   (SOUND: off, mic, system or both)
// TORVANE_BENCH_WATERMARK=1 stamps a 200 x 80 half-opaque watermark in the bottom-right corner.

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "engine/CaptureSession.h"
#include "platform/x11/Screen.h"
#include "settings/CaptureRules.h"

using namespace torvane;

static double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU of the threads that are neither the main thread nor the capture thread: the sound threads
// and the sound library's own.
static double otherThreadsCpuSeconds() {
    double total = 0;
    const std::string self = std::to_string(getpid());
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        if (e.path().filename() == self) continue;
        std::ifstream in(e.path() / "stat");
        std::string line;
        std::getline(in, line);
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        if (line.substr(open + 1, close - open - 1) == "torvane-capture") continue;
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        unsigned long long ut = 0, st = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) ut = std::stoull(field);
            if (i == 15) st = std::stoull(field);
        }
        total += double(ut + st) / double(sysconf(_SC_CLK_TCK));
    }
    return total;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: bench-record FILE SECONDS FPS [off|mic|system|both]\n");
        return 2;
    }
    const std::string sound = argc == 5 ? argv[4] : "off";
    const int soundOption = sound == "system" ? 1 : sound == "both" ? 2 : 0;
    const std::string file = argv[1];
    const int seconds = std::atoi(argv[2]), fps = std::atoi(argv[3]);
    std::string error;
    const x11::ScreenGeometry g = x11::queryScreenGeometry(&error);
    if (g.screen.width() <= 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ScreenSettings s;
    s.sourceKind = kSourceFullScreen;
    s.frameRate = fps;
    applyRectBySourceKind(s, {}, g.screen, g.workArea);
    applyOutputSize(s);
    CursorSettings cursor;   // the arrow, as a default recording has it
    CCaptureSession session;
    session.setScreenSettings(s);
    session.setSoundEnabled(sound != "off");
    session.setSoundOption(unsigned(soundOption));
    session.setCursorSettings(cursor);
    session.setWebcamSettings({});
    session.setPipSettings({});
    WatermarkSettings mark;
    if (const char* on = std::getenv("TORVANE_BENCH_WATERMARK"); on && std::string(on) == "1") {
        const std::string image = file + ".watermark.png";
        QImage logo(200, 80, QImage::Format_ARGB32);
        logo.fill(QColor(255, 200, 0, 200));
        if (!logo.save(QString::fromStdString(image))) {
            std::fprintf(stderr, "cannot write the watermark image %s\n", image.c_str());
            return 1;
        }
        mark.on = 1;
        toUtf16Field(image, mark.imagePath, std::size(mark.imagePath));
        mark.width = 200;
        mark.height = 80;
        mark.position = 4;   // bottom right
        mark.opacity = 50;
        mark.marginX = mark.marginY = 16;
    }
    session.setWatermarkSettings(mark);
    const double cpu0 = cpuSeconds();
    if (!session.start(file, nullptr)) {
        std::fprintf(stderr, "%s\n", session.lastError().c_str());
        return 1;
    }
    const double startCpu = cpuSeconds() - cpu0;
    while (session.recordedMilliseconds() < uint32_t(seconds) * 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double soundCpu = otherThreadsCpuSeconds();
    session.stop();
    const double cpu = cpuSeconds() - cpu0;
    const CaptureStatistics st = session.statistics();
    const double expected = double(seconds) * fps;
    const double total = double(st.changesUs + st.grabUs + st.cursorUs + st.watermarkUs + st.scaleUs + st.convertUs + st.encodeUs +
                                st.writeUs) / 1e6;
    // The last position may be the one that begins at exactly the end: do not count it.
    const unsigned long long filled =
        std::min<unsigned long long>(st.framesWritten + st.framesUnchanged, (unsigned long long)expected);
    std::printf("filled %llu expected %.0f\n", filled, expected);
    std::printf("pictures %llu unchanged %llu late %llu repeated %llu\n", (unsigned long long)st.framesWritten,
                (unsigned long long)st.framesUnchanged, (unsigned long long)st.framesSkipped,
                (unsigned long long)st.framesRepeated);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("faster %llu steps %llu\n", (unsigned long long)st.framesFaster, (unsigned long long)st.fasterSteps);
    std::printf("peak_rss_kb %ld\n", ru.ru_maxrss);
    std::printf("cpu_per_second %.4f\n", cpu / seconds);
    // What Start took (opening the encoder, the screen: for a screen cast the portal's requests),
    // spent once a recording; the rest is what each recorded second costs.
    std::printf("start_cpu_seconds %.4f\n", startCpu);
    std::printf("cpu_per_second_after_start %.4f\n", (cpu - startCpu) / seconds);
    const double pictures = std::max<double>(1, double(st.framesWritten));
    std::printf("stage_ms_per_position changes %.3f\n", st.changesUs / 1e3 / std::max(1.0, expected));
    std::printf("stage_ms_per_picture grab %.2f pointer %.2f watermark %.2f scale %.2f convert %.2f encode %.2f write %.2f\n",
                st.grabUs / 1e3 / pictures, st.cursorUs / 1e3 / pictures, st.watermarkUs / 1e3 / pictures,
                st.scaleUs / 1e3 / pictures, st.convertUs / 1e3 / pictures, st.encodeUs / 1e3 / pictures,
                st.writeUs / 1e3 / pictures);
    std::printf("outside_encoder_share %.4f\n", total > 0 ? (cpu - st.encodeUs / 1e6) / cpu : 0.0);
    if (sound != "off") std::printf("sound_cpu_share %.4f\n", soundCpu / seconds);
    if (!session.lossReport().empty()) std::printf("loss %s\n", session.lossReport().c_str());
    return 0;
}
