#pragma once
// A sound-card mixer held in memory, for the input-line logic (the machines have no card).

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/MixerDevice.h"

namespace torvane::test {

struct MixerState {
    struct Source {
        std::string name;
        bool hasVolume = true, hasMute = true;
        uint32_t channels = 2;
        std::vector<uint32_t> volume = {0, 0};
        uint32_t mute = 0;
    };
    struct Destination {
        std::string name;
        uint32_t component = kComponentDstWaveIn;
        bool hasMux = true;
        std::vector<uint32_t> mux;   // items as last set
        std::vector<Source> sources;
    };
    std::vector<Destination> destinations;
    uint32_t minimum = 0, maximum = 65535, steps = 65536;
    bool present = true;
    bool openFails = false;
    int opens = 0;
    std::function<void(uint32_t)> listener;   // of the last opened device
};

class InProcessMixer : public IMixerDevice {
    using Source = MixerState::Source;

public:
    explicit InProcessMixer(MixerState& s) : s_(s) {}
    uint32_t destinationCount() override { return uint32_t(s_.destinations.size()); }
    bool destination(uint32_t d, MixerLineInfo* l) override {
        if (d >= s_.destinations.size()) return false;
        l->lineId = 0xFFFF0000u | d;
        l->destination = d;
        l->componentType = s_.destinations[d].component;
        l->connections = uint32_t(s_.destinations[d].sources.size());
        l->name = s_.destinations[d].name;
        return true;
    }
    bool source(uint32_t d, uint32_t i, MixerLineInfo* l) override {
        if (d >= s_.destinations.size() || i >= s_.destinations[d].sources.size()) return false;
        const auto& src = s_.destinations[d].sources[i];
        l->lineId = (d << 16) | i;
        l->destination = d;
        l->componentType = kComponentSrcLine;
        l->channels = src.channels;
        l->name = src.name;
        return true;
    }
    bool lineById(uint32_t id, MixerLineInfo* l) override {
        if ((id & 0xFFFF0000u) == 0xFFFF0000u) return destination(id & 0xFFFF, l);
        return source(id >> 16, id & 0xFFFF, l);
    }
    // Control ids: line id * 4 + kind (1 volume, 2 mute, 3 mux), kept small by the line ids used here.
    bool controlByType(uint32_t lineId, uint32_t type, MixerControlInfo* c) override {
        if ((lineId & 0xFFFF0000u) == 0xFFFF0000u) {
            uint32_t d = lineId & 0xFFFF;
            if (type != kControlMux || d >= s_.destinations.size() || !s_.destinations[d].hasMux) return false;
            c->controlId = 0x80000000u | d;
            c->multipleItems = uint32_t(s_.destinations[d].sources.size());
            return true;
        }
        Source* src = find(lineId);
        if (!src) return false;
        if (type == kControlVolume && src->hasVolume) {
            c->controlId = lineId * 4 + 1;
            c->minimum = s_.minimum;
            c->maximum = s_.maximum;
            c->steps = s_.steps;
            return true;
        }
        if (type == kControlMute && src->hasMute) {
            c->controlId = lineId * 4 + 2;
            return true;
        }
        return false;
    }
    bool getDetails(uint32_t id, uint32_t, uint32_t, std::vector<uint32_t>* v) override {
        Source* src = find(id / 4);
        if (!src || id % 4 != 1) return false;
        *v = src->volume;
        return true;
    }
    bool setDetails(uint32_t id, uint32_t, uint32_t, const std::vector<uint32_t>& v) override {
        if (id & 0x80000000u) {
            s_.destinations[id & 0xFFFF].mux = v;
            return true;
        }
        Source* src = find(id / 4);
        if (!src) return false;
        if (id % 4 == 1) src->volume = v;
        else src->mute = v.at(0);
        return true;
    }
    void setChangeListener(std::function<void(uint32_t)> l) override { s_.listener = std::move(l); }

    Source* find(uint32_t lineId) {
        uint32_t d = lineId >> 16, i = lineId & 0xFFFF;
        if (d >= s_.destinations.size() || i >= s_.destinations[d].sources.size()) return nullptr;
        return &s_.destinations[d].sources[i];
    }

private:
    MixerState& s_;
};

class InProcessMixerSystem : public IMixerSystem {
public:
    MixerState state;
    bool mixerPresent() override { return state.present; }
    bool outputPresent() override { return state.present; }
    std::unique_ptr<IMixerDevice> openInputMixer() override { return open(); }
    std::unique_ptr<IMixerDevice> openOutputMixer() override { return open(); }

private:
    std::unique_ptr<IMixerDevice> open() {
        ++state.opens;
        if (!state.present || state.openFails) return nullptr;
        return std::make_unique<InProcessMixer>(state);
    }
};

}  // namespace torvane::test
