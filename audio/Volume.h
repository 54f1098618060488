#pragma once

#include <cstdint>

namespace torvane {

// The volume of one input line of the sound card.
class IVolume {
public:
    virtual ~IVolume() = default;
    virtual int isValid() = 0;                    // 1 when the line and its volume control exist
    virtual int selectAsRecordingSource() = 0;    // 1 when the line became the recording source
    virtual void reserved() = 0;                  // does nothing
    virtual int volumeSteps() = 0;                // -1 when not valid
    virtual int minimumVolume() = 0;              // -1 when not valid
    virtual int maximumVolume() = 0;              // -1 when not valid
    virtual int volume() = 0;                     // first channel; -1 when not valid or on failure
    virtual void setVolume(unsigned int value) = 0;   // ignored outside [minimum, maximum]
    virtual void setChangeCallback(void (*callback)(int value, int userData), int userData) = 0;
};

}  // namespace torvane
