#pragma once
// IVolume for one source line of the default input device's mixer. Lives only for one check or
// one choice of the recording line; the settings it makes stay in the sound card.

#include <cstdint>
#include <memory>

#include "audio/MixerDevice.h"
#include "audio/Volume.h"

namespace torvane {

class CVolumeInXXX : public IVolume {
public:
    explicit CVolumeInXXX(uint32_t lineId);
    CVolumeInXXX(uint32_t lineId, IMixerSystem& system);
    ~CVolumeInXXX() override;
    CVolumeInXXX(const CVolumeInXXX&) = delete;
    CVolumeInXXX& operator=(const CVolumeInXXX&) = delete;

    int isValid() override { return valid_ ? 1 : 0; }
    int selectAsRecordingSource() override;
    void reserved() override {}
    int volumeSteps() override { return valid_ ? int(steps_) : -1; }
    int minimumVolume() override { return valid_ ? int(minimum_) : -1; }
    int maximumVolume() override { return valid_ ? int(maximum_) : -1; }
    int volume() override;
    void setVolume(unsigned int value) override;
    void setChangeCallback(void (*callback)(int, int), int userData) override;

    // The most recently constructed object that opened its mixer; null when none.
    static CVolumeInXXX* current();

private:
    void open(IMixerSystem& system);
    void setUpLine(uint32_t lineId);
    void closeMixer();
    void controlChanged(uint32_t controlId);
    bool selectByMultiplexer(const MixerLineInfo& destination);
    int selectByMute(const MixerLineInfo& destination);

    bool mixerOpen_ = false;
    bool lineSelected_ = false;
    bool valid_ = false;
    std::unique_ptr<IMixerDevice> mixer_;
    uint32_t lineId_ = kNoLine;
    uint32_t volumeControl_ = 0;
    uint32_t channels_ = 1;
    uint32_t minimum_ = uint32_t(-1), maximum_ = uint32_t(-1), steps_ = 0;
    void (*callback_)(int, int) = nullptr;
    int userData_ = 0;
};

}  // namespace torvane
