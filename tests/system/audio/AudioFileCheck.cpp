#include "AudioFileCheck.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace torvane::test {

std::string testDir() {
    const char* d = std::getenv("TORVANE_TEST_ENV");
    return d ? d : "/tmp";
}

AudioAvi createAudioAvi(const std::string& path, const WaveFormat& f) {
    AudioAvi a;
    std::string error;
    a.file = avi::AviWriter::create(path, &error);
    if (!a.file) return a;
    a.stream = a.file->addSound({f.channels, int(f.samplesPerSec), f.bitsPerSample});
    return a;
}

static std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

Probe probeAudio(const std::string& path) {
    Probe p;
    std::string out = run("ffprobe -v error -select_streams a:0 -show_entries "
                          "stream=codec_name,sample_rate,channels,bits_per_sample -of default=nw=1 '" + path + "'");
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "codec_name") p.codec = v;
        else if (k == "sample_rate") p.sampleRate = std::atoi(v.c_str());
        else if (k == "channels") p.channels = std::atoi(v.c_str());
        else if (k == "bits_per_sample") p.bits = std::atoi(v.c_str());
    }
    return p;
}

std::vector<int16_t> decodeMono(const std::string& path) {
    std::string raw = run("ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -f s16le - 2>/dev/null");
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

double toneLevel(const std::vector<int16_t>& s, int rate, double freq, size_t start, size_t count) {
    if (start >= s.size()) return 0;
    count = std::min(count, s.size() - start);
    if (count == 0) return 0;
    // Goertzel: the magnitude of one frequency bin, scaled to the tone's RMS amplitude.
    double w = 2 * M_PI * freq / rate, c = 2 * std::cos(w), q1 = 0, q2 = 0;
    for (size_t i = 0; i < count; ++i) {
        double q0 = c * q1 - q2 + s[start + i];
        q2 = q1;
        q1 = q0;
    }
    double power = q1 * q1 + q2 * q2 - q1 * q2 * c;
    return std::sqrt(std::max(power, 0.0)) * std::sqrt(2.0) / double(count);
}

double toneOnset(const std::vector<int16_t>& s, int rate, double freq, double threshold, double window) {
    size_t win = size_t(rate * window);
    for (size_t i = 0; i + win <= s.size(); i += win / 4)
        if (toneLevel(s, rate, freq, i, win) > threshold) return double(i) / rate;
    return -1;
}

double rms(const std::vector<int16_t>& s, size_t start, size_t count) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = start; i < s.size() && i < start + count; ++i, ++n) sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / n) : 0;
}

pid_t playTone(double freq, double seconds, double amplitude) {
    static int counter = 0;
    std::string path = testDir() + "/tone" + std::to_string(counter++) + ".wav";
    const uint32_t rate = 44100, frames = uint32_t(seconds * rate);
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    f.write("RIFF", 4); u32(36 + frames * 4); f.write("WAVEfmt ", 8); u32(16);
    u16(1); u16(2); u32(rate); u32(rate * 4); u16(4); u16(16);
    f.write("data", 4); u32(frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t v = int16_t(std::lround(amplitude * 32767 * std::sin(2 * M_PI * freq * i / rate)));
        u16(uint16_t(v)); u16(uint16_t(v));
    }
    f.close();
    pid_t pid = -1;
    const char* argv[] = {"paplay", "--latency-msec=20", path.c_str(), nullptr};
    if (posix_spawnp(&pid, "paplay", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
    return pid;
}

int waitChild(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace torvane::test
