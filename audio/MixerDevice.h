#pragma once
// The sound card's mixer as the input-line code sees it: destinations (the recording input, the
// speakers) with their source lines, and per line controls (volume, mute, the recording-source
// multiplexer) whose values are lists of u32, one per channel and item.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

constexpr uint32_t kNoLine = 0xFFFFFFFFu;

enum MixerComponent : uint32_t {
    kComponentDstSpeakers = 4,
    kComponentDstWaveIn = 7,
    kComponentSrcLine = 0x1000,
};

enum MixerControlType : uint32_t {
    kControlVolume = 0x50030001,
    kControlMux = 0x70010001,
    kControlMute = 0x20010002,
};

struct MixerLineInfo {
    uint32_t lineId = kNoLine;
    uint32_t destination = 0;     // index of the destination the line belongs to
    uint32_t componentType = 0;
    uint32_t channels = 1;
    uint32_t connections = 0;     // sources of a destination
    std::string name;
};

struct MixerControlInfo {
    uint32_t controlId = 0;
    uint32_t type = 0;
    uint32_t minimum = 0, maximum = 0, steps = 0;
    uint32_t multipleItems = 0;   // items of a multiplexer
};

class IMixerDevice {
public:
    virtual ~IMixerDevice() = default;
    virtual uint32_t destinationCount() = 0;
    virtual bool destination(uint32_t index, MixerLineInfo* line) = 0;
    virtual bool source(uint32_t destination, uint32_t index, MixerLineInfo* line) = 0;
    virtual bool lineById(uint32_t lineId, MixerLineInfo* line) = 0;
    virtual bool controlByType(uint32_t lineId, uint32_t type, MixerControlInfo* control) = 0;
    // values holds channels × max(items, 1) entries.
    virtual bool getDetails(uint32_t controlId, uint32_t channels, uint32_t items, std::vector<uint32_t>* values) = 0;
    virtual bool setDetails(uint32_t controlId, uint32_t channels, uint32_t items, const std::vector<uint32_t>& values) = 0;
    // Called with a control id when a control's value changed outside the program; devices that
    // cannot notify ignore it.
    virtual void setChangeListener(std::function<void(uint32_t controlId)> listener) = 0;
};

class IMixerSystem {
public:
    virtual ~IMixerSystem() = default;
    virtual bool mixerPresent() = 0;    // any mixer at all
    virtual bool outputPresent() = 0;   // any output device
    // The mixer of the default input / output device; null when it cannot be opened.
    virtual std::unique_ptr<IMixerDevice> openInputMixer() = 0;
    virtual std::unique_ptr<IMixerDevice> openOutputMixer() = 0;
};

// The machine's mixer: ALSA's simple mixer of the default card.
IMixerSystem& defaultMixerSystem();
// ALSA's simple mixer of the given control device (e.g. "default", "hw:0") in this model; null
// when it cannot be opened.
std::unique_ptr<IMixerDevice> openAlsaMixer(const std::string& card);

}  // namespace torvane
