// The ALSA simple mixer seen as the mixer model: destination 0 is the recording input, whose
// sources are the elements with a capture volume or switch and whose multiplexer is the card's
// enumerated capture-source element; destination 1 is the speakers, whose sources are the
// elements with a playback volume or switch. Mutes are the inverted switches. ALSA reports no
// change events through this model.

#include <algorithm>
#include <cctype>

#include "audio/MixerDevice.h"
#include "platform/alsa/AlsaMixer.h"

namespace torvane {
namespace {

enum Kind { kVolume, kMute, kMux };

struct Control {
    Kind kind;
    uint32_t destination;
    size_t element;    // ALSA element index
    long minimum, maximum;
};

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

class AlsaMixerDevice : public IMixerDevice {
public:
    explicit AlsaMixerDevice(std::unique_ptr<alsa::SimpleMixer> m) : m_(std::move(m)) {
        const auto& el = m_->elements();
        for (size_t i = 0; i < el.size(); ++i) {
            if (el[i].captureSource) muxElement_ = int(i);
            else if (el[i].captureVolume || el[i].captureSwitch) sources_[0].push_back(i);
            if (el[i].playbackVolume || el[i].playbackSwitch) sources_[1].push_back(i);
        }
    }

    uint32_t destinationCount() override { return 2; }

    bool destination(uint32_t d, MixerLineInfo* line) override {
        if (d > 1) return false;
        line->lineId = 0xFFFF0000u | d;
        line->destination = d;
        line->componentType = d == 0 ? kComponentDstWaveIn : kComponentDstSpeakers;
        line->channels = 2;
        line->connections = uint32_t(sources_[d].size());
        line->name = d == 0 ? "Capture" : "Master";
        return true;
    }

    bool source(uint32_t d, uint32_t s, MixerLineInfo* line) override {
        if (d > 1 || s >= sources_[d].size()) return false;
        const auto& e = m_->elements()[sources_[d][s]];
        line->lineId = (d << 16) | s;
        line->destination = d;
        line->componentType = kComponentSrcLine;
        line->channels = uint32_t(e.channels);
        line->connections = 0;
        line->name = e.name;
        return true;
    }

    bool lineById(uint32_t id, MixerLineInfo* line) override {
        if ((id & 0xFFFF0000u) == 0xFFFF0000u) return destination(id & 0xFFFFu, line);
        return source(id >> 16, id & 0xFFFFu, line);
    }

    bool controlByType(uint32_t lineId, uint32_t type, MixerControlInfo* c) override {
        if ((lineId & 0xFFFF0000u) == 0xFFFF0000u) {
            if (type != kControlMux || (lineId & 0xFFFFu) != 0 || muxElement_ < 0) return false;
            c->type = type;
            c->multipleItems = uint32_t(sources_[0].size());
            c->controlId = add({kMux, 0, size_t(muxElement_), 0, 0});
            return c->multipleItems > 0;
        }
        uint32_t d = lineId >> 16, s = lineId & 0xFFFFu;
        if (d > 1 || s >= sources_[d].size()) return false;
        size_t i = sources_[d][s];
        const auto& e = m_->elements()[i];
        bool capture = d == 0;
        c->type = type;
        c->multipleItems = 0;
        if (type == kControlVolume && (capture ? e.captureVolume : e.playbackVolume)) {
            long lo = capture ? e.captureMin : e.playbackMin, hi = capture ? e.captureMax : e.playbackMax;
            c->minimum = uint32_t(std::max(lo, 0L));
            c->maximum = uint32_t(std::max(hi, 0L));
            c->steps = c->maximum - c->minimum + 1;
            c->controlId = add({kVolume, d, i, lo, hi});
            return true;
        }
        if (type == kControlMute && (capture ? e.captureSwitch : e.playbackSwitch)) {
            c->minimum = 0;
            c->maximum = 1;
            c->steps = 2;
            c->controlId = add({kMute, d, i, 0, 1});
            return true;
        }
        return false;
    }

    bool getDetails(uint32_t id, uint32_t channels, uint32_t items, std::vector<uint32_t>* values) override {
        const Control* c = find(id);
        if (!c) return false;
        values->assign(size_t(std::max(channels, 1u)) * std::max(items, 1u), 0);
        if (c->kind == kVolume) {
            long v = 0;
            bool ok = c->destination == 0 ? m_->captureVolume(c->element, &v) : m_->playbackVolume(c->element, &v);
            std::fill(values->begin(), values->end(), uint32_t(std::max(v, 0L)));
            return ok;
        }
        if (c->kind == kMute) {
            bool on = false;
            bool ok = m_->switchOn(c->element, c->destination == 0, &on);
            std::fill(values->begin(), values->end(), on ? 0u : 1u);
            return ok;
        }
        unsigned item = 0;
        if (!m_->enumItem(c->element, &item)) return false;
        const auto& names = m_->elements()[c->element].items;
        uint32_t n = uint32_t(sources_[0].size());
        for (uint32_t s = 0; s < n && s < values->size(); ++s)
            if (item < names.size() && sameName(names[item], m_->elements()[sources_[0][s]].name))
                (*values)[n - 1 - s] = 1;
        return true;
    }

    bool setDetails(uint32_t id, uint32_t, uint32_t, const std::vector<uint32_t>& values) override {
        const Control* c = find(id);
        if (!c || values.empty()) return false;
        if (c->kind == kVolume) {
            long v = long(values[0]);
            if (v < c->minimum || v > c->maximum) return false;
            return c->destination == 0 ? m_->setCaptureVolume(c->element, v) : m_->setPlaybackVolume(c->element, v);
        }
        if (c->kind == kMute) return m_->setSwitch(c->element, c->destination == 0, values[0] == 0);
        // Multiplexer: item k stands for source n-1-k; choose the enumerated item of that name.
        uint32_t n = uint32_t(sources_[0].size());
        const auto& names = m_->elements()[c->element].items;
        for (uint32_t k = 0; k < values.size() && k < n; ++k) {
            if (!values[k]) continue;
            const std::string& want = m_->elements()[sources_[0][n - 1 - k]].name;
            for (size_t item = 0; item < names.size(); ++item)
                if (sameName(names[item], want)) return m_->setEnumItem(c->element, unsigned(item));
            return false;
        }
        return false;
    }

    void setChangeListener(std::function<void(uint32_t)>) override {}

private:
    uint32_t add(const Control& c) {
        controls_.push_back(c);
        return uint32_t(controls_.size());
    }
    const Control* find(uint32_t id) const { return id >= 1 && id <= controls_.size() ? &controls_[id - 1] : nullptr; }

    std::unique_ptr<alsa::SimpleMixer> m_;
    std::vector<size_t> sources_[2];
    int muxElement_ = -1;
    std::vector<Control> controls_;
};

class AlsaMixerSystem : public IMixerSystem {
public:
    bool mixerPresent() override { return alsa::anyCard(); }
    bool outputPresent() override { return alsa::anyCard(); }
    std::unique_ptr<IMixerDevice> openInputMixer() override { return openDefault(); }
    std::unique_ptr<IMixerDevice> openOutputMixer() override { return openDefault(); }

private:
    static std::unique_ptr<IMixerDevice> openDefault() {
        if (!alsa::anyCard()) return nullptr;
        return openAlsaMixer("default");
    }
};

}  // namespace

std::unique_ptr<IMixerDevice> openAlsaMixer(const std::string& card) {
    auto m = alsa::SimpleMixer::open(card, nullptr);
    if (!m) return nullptr;
    return std::make_unique<AlsaMixerDevice>(std::move(m));
}

IMixerSystem& defaultMixerSystem() {
    static AlsaMixerSystem system;
    return system;
}

}  // namespace torvane
