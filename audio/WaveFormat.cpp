#include "audio/WaveFormat.h"

namespace torvane {

WaveFormat formatFromCapabilities(uint32_t caps, bool queryOk) {
    WaveFormat f{kWaveFormatPcm, 0, 44100, 0, 0, 0, 18};
    static const struct { uint32_t bit; uint16_t channels, bits; } order[] = {
        {kCaps48S16, 2, 16}, {kCaps48M16, 1, 16}, {kCaps48S08, 2, 8}, {kCaps48M08, 1, 8},
        {kCaps4M08, 1, 8},   {kCaps4M16, 1, 16},  {kCaps4S08, 2, 8},  {kCaps4S16, 2, 16},
    };
    if (queryOk) {
        for (const auto& o : order) {
            if (caps & o.bit) {
                f.channels = o.channels;
                f.bitsPerSample = o.bits;
                break;
            }
        }
    }
    f.blockAlign = uint16_t(f.bitsPerSample / 8 * f.channels);
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    return f;
}

}  // namespace torvane
