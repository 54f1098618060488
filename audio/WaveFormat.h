#pragma once
// The 18-byte PCM format record shared by the sound sources and the AVI audio stream
// (the stored layout of a wave format header, little-endian, no padding).

#include <cstdint>

namespace torvane {

#pragma pack(push, 1)
struct WaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18, "the format record is a stored layout");

constexpr uint16_t kWaveFormatPcm = 1;

// Device capability bits, tested in this order when a format is chosen from an input device.
constexpr uint32_t kCaps48S16 = 0x8000, kCaps48M16 = 0x4000, kCaps48S08 = 0x2000, kCaps48M08 = 0x1000;
constexpr uint32_t kCaps4M08 = 0x0100, kCaps4M16 = 0x0400, kCaps4S08 = 0x0200, kCaps4S16 = 0x0800;

// The input format for a device's capability bits: 44100 Hz whichever bit matched, channels and
// bits from the first bit present in the order above, 0 channels and 0 bits when none is.
WaveFormat formatFromCapabilities(uint32_t capabilityBits, bool queryOk);

}  // namespace torvane
