#include "audio/MixerLines.h"

#include "audio/SoundPlatform.h"
#include "audio/VolumeInXXX.h"
#include "platform/pulse/PulseStream.h"

namespace torvane {
namespace {

bool hasDefaultMonitor() {
    pulse::SinkMonitor mon;
    return pulse::defaultSinkMonitor(&mon, nullptr);
}

template <class Match>
bool findRecordingLine(IMixerSystem& system, uint32_t* lineId, bool stopAtFirst, Match match) {
    *lineId = kNoLine;
    auto mixer = system.openInputMixer();
    if (!mixer) return false;
    uint32_t n = mixer->destinationCount();
    for (uint32_t d = 0; d < n; ++d) {
        MixerLineInfo dst;
        if (!mixer->destination(d, &dst) || dst.componentType != kComponentDstWaveIn) continue;
        for (uint32_t s = 0; s < dst.connections; ++s) {
            MixerLineInfo src;
            if (mixer->source(d, s, &src) && match(src.name)) {
                *lineId = src.lineId;
                if (stopAtFirst) return true;
                break;
            }
        }
    }
    return true;
}

void selectLine(IMixerSystem& system, uint32_t lineId) {
    if (lineId == kNoLine) return;
    CVolumeInXXX v(lineId, system);
    v.selectAsRecordingSource();
}

}  // namespace

bool findStereoMixLine(IMixerSystem& system, uint32_t* lineId) {
    return findRecordingLine(system, lineId, false, [](const std::string& name) {
        return name == "Stereo Mix" || name == "Wave Out Mix";
    });
}

bool findMicrophoneLine(IMixerSystem& system, uint32_t* lineId) {
    return findRecordingLine(system, lineId, true,
                             [](const std::string& name) { return name.find("Mic") != std::string::npos; });
}

bool muteInPlaybackMix(IMixerSystem& system, const std::vector<std::string>& names, bool mute) {
    if (!system.outputPresent()) return false;
    auto mixer = system.openOutputMixer();
    if (!mixer) return false;
    uint32_t n = mixer->destinationCount();
    for (uint32_t d = 0; d < n; ++d) {
        MixerLineInfo dst;
        if (!mixer->destination(d, &dst) || dst.componentType != kComponentDstSpeakers) continue;
        for (uint32_t s = 0; s < dst.connections; ++s) {
            MixerLineInfo src;
            if (!mixer->source(d, s, &src)) continue;
            for (const std::string& name : names) {
                if (src.name.find(name) == std::string::npos) continue;
                MixerControlInfo control;
                if (!mixer->controlByType(src.lineId, kControlMute, &control)) break;   // next source
                mixer->setDetails(control.controlId, 1, 0, {mute ? 1u : 0u});
            }
        }
    }
    return true;
}

int systemSoundAvailable() { return systemSoundAvailable(defaultMixerSystem()); }

int systemSoundAvailable(IMixerSystem& system) {
    detectSoundPlatform();
    if (g_bVistaOrLater) return hasDefaultMonitor() ? 1 : 0;
    uint32_t line = kNoLine;
    if (!findStereoMixLine(system, &line) || line == kNoLine) return 0;
    CVolumeInXXX v(line, system);
    if (v.isValid() && v.selectAsRecordingSource()) {
        v.setVolume(unsigned(v.maximumVolume()));
        return 1;
    }
    return 0;
}

int chooseRecordingLine(int soundOption) { return chooseRecordingLine(soundOption, defaultMixerSystem()); }

int chooseRecordingLine(int soundOption, IMixerSystem& system) {
    detectSoundPlatform();
    // With a server the system sound is the default output's monitor: the same lookup as the
    // recording makes, so that a choice offered here can be recorded.
    if (g_bVistaOrLater) return soundOption == 0 || hasDefaultMonitor() ? 1 : 0;
    uint32_t stereo = kNoLine, mic = kNoLine;
    findStereoMixLine(system, &stereo);
    findMicrophoneLine(system, &mic);
    if (soundOption == 0) {
        selectLine(system, mic);
    } else if (soundOption == 1 || soundOption == 2) {
        selectLine(system, stereo);
        // Option 1 keeps the microphone and line input out of what the stereo mix carries;
        // option 2 lets them reach the recording through it.
        muteInPlaybackMix(system, {"Mic", "Line In"}, soundOption == 1);
    }
    return 1;
}

}  // namespace torvane
