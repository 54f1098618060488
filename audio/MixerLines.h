#pragma once
// Finding and choosing the sound card's input lines when no sound server gives us loopback:
// system sound is then recorded from the card's own playback-mix line.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/MixerDevice.h"

namespace torvane {

// ok false only when the input device's mixer cannot be opened; lineId is kNoLine when absent.
// Stereo mix: a recording source named exactly "Stereo Mix" or "Wave Out Mix" (the last recording
// destination that has one decides). Microphone: the first recording source whose name contains "Mic".
bool findStereoMixLine(IMixerSystem& system, uint32_t* lineId);
bool findMicrophoneLine(IMixerSystem& system, uint32_t* lineId);

// Sets the mute of every speaker-mix source whose name contains one of `names`.
bool muteInPlaybackMix(IMixerSystem& system, const std::vector<std::string>& names, bool mute);

// Whether system sound can be recorded; without a sound server this makes the stereo-mix line the
// recording source at full volume.
int systemSoundAvailable();
int systemSoundAvailable(IMixerSystem& system);

// Selects the line the recording will use for sound option 0, 1 or 2. Always 1.
int chooseRecordingLine(int soundOption);
int chooseRecordingLine(int soundOption, IMixerSystem& system);

}  // namespace torvane
