#include "audio/VolumeInXXX.h"

#include <atomic>

namespace torvane {
namespace {
// Mixer notifications are dispatched to the newest object; one lives at a time.
std::atomic<CVolumeInXXX*> g_current{nullptr};
}  // namespace

CVolumeInXXX* CVolumeInXXX::current() { return g_current.load(); }

CVolumeInXXX::CVolumeInXXX(uint32_t lineId) : CVolumeInXXX(lineId, defaultMixerSystem()) {}

CVolumeInXXX::CVolumeInXXX(uint32_t lineId, IMixerSystem& system) {
    open(system);
    if (!mixerOpen_) return;
    g_current = this;
    setUpLine(lineId);
}

CVolumeInXXX::~CVolumeInXXX() {
    closeMixer();
    CVolumeInXXX* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

void CVolumeInXXX::open(IMixerSystem& system) {
    if (!system.mixerPresent()) return;
    mixer_ = system.openInputMixer();
    if (!mixer_) return;
    mixer_->setChangeListener([](uint32_t controlId) {
        if (CVolumeInXXX* c = g_current.load()) c->controlChanged(controlId);
    });
    mixerOpen_ = true;
}

void CVolumeInXXX::setUpLine(uint32_t lineId) {
    MixerLineInfo line;
    MixerControlInfo control;
    if (mixer_->lineById(lineId, &line) && mixer_->controlByType(lineId, kControlVolume, &control)) {
        channels_ = line.channels ? line.channels : 1;
        volumeControl_ = control.controlId;
        minimum_ = control.minimum;
        maximum_ = control.maximum;
        steps_ = control.steps;
        valid_ = true;
        lineSelected_ = true;
        lineId_ = lineId;
        return;
    }
    closeMixer();
    CVolumeInXXX* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

void CVolumeInXXX::closeMixer() {
    if (mixer_) mixer_->setChangeListener(nullptr);
    mixer_.reset();
    mixerOpen_ = false;
    lineSelected_ = false;
}

void CVolumeInXXX::controlChanged(uint32_t controlId) {
    if (!valid_ || controlId != volumeControl_) return;
    int v = volume();
    if (v != -1 && callback_) callback_(v, userData_);
}

int CVolumeInXXX::volume() {
    if (!valid_ || !mixer_) return -1;
    std::vector<uint32_t> values(channels_);
    if (!mixer_->getDetails(volumeControl_, channels_, 0, &values) || values.empty()) return -1;
    return int(values[0]);
}

void CVolumeInXXX::setVolume(unsigned int value) {
    if (!valid_ || !mixer_ || value < minimum_ || value > maximum_) return;
    mixer_->setDetails(volumeControl_, channels_, 0, std::vector<uint32_t>(channels_, value));
}

void CVolumeInXXX::setChangeCallback(void (*callback)(int, int), int userData) {
    callback_ = callback;
    userData_ = userData;
}

int CVolumeInXXX::selectAsRecordingSource() {
    if (!lineSelected_ || !mixer_) return 0;
    MixerLineInfo line, destination;
    if (!mixer_->lineById(lineId_, &line) || !mixer_->destination(line.destination, &destination)) return 0;
    if (selectByMultiplexer(destination)) return 1;
    return selectByMute(destination);
}

bool CVolumeInXXX::selectByMultiplexer(const MixerLineInfo& destination) {
    MixerControlInfo mux;
    if (!mixer_->controlByType(destination.lineId, kControlMux, &mux) || mux.multipleItems == 0) return false;
    uint32_t n = mux.multipleItems;
    // The item list runs in the reverse order of the source indices.
    std::vector<uint32_t> items(n, 0);
    for (uint32_t i = 0; i < n; ++i) {
        MixerLineInfo src;
        items[n - 1 - i] = mixer_->source(destination.destination, i, &src) && src.lineId == lineId_ ? 1 : 0;
    }
    return mixer_->setDetails(mux.controlId, 1, n, items);
}

int CVolumeInXXX::selectByMute(const MixerLineInfo& destination) {
    for (uint32_t i = 0; i < destination.connections; ++i) {
        MixerLineInfo src;
        if (!mixer_->source(destination.destination, i, &src)) continue;
        MixerControlInfo mute;
        if (!mixer_->controlByType(src.lineId, kControlMute, &mute)) return 0;
        mixer_->setDetails(mute.controlId, 1, 0, {src.lineId != lineId_ ? 1u : 0u});
    }
    return 1;
}

}  // namespace torvane
