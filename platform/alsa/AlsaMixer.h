#pragma once
// ALSA's simple mixer of one card: its elements and their capture/playback volumes, switches and
// the enumerated capture-source choice.

#include <memory>
#include <string>
#include <vector>

struct _snd_mixer;
struct _snd_mixer_elem;

namespace torvane::alsa {

bool anyCard();

struct MixerElement {
    std::string name;
    bool captureVolume = false, captureSwitch = false;
    bool playbackVolume = false, playbackSwitch = false;
    bool captureSource = false;   // an enumerated element choosing the recording input
    long captureMin = 0, captureMax = 0, playbackMin = 0, playbackMax = 0;
    int channels = 1;
    std::vector<std::string> items;   // of an enumerated element
};

class SimpleMixer {
public:
    static std::unique_ptr<SimpleMixer> open(const std::string& card, std::string* error);
    ~SimpleMixer();
    SimpleMixer(const SimpleMixer&) = delete;
    SimpleMixer& operator=(const SimpleMixer&) = delete;

    const std::vector<MixerElement>& elements() const { return elements_; }
    bool captureVolume(size_t element, long* value);
    bool setCaptureVolume(size_t element, long value);
    bool playbackVolume(size_t element, long* value);
    bool setPlaybackVolume(size_t element, long value);
    bool switchOn(size_t element, bool capture, bool* on);
    bool setSwitch(size_t element, bool capture, bool on);
    bool enumItem(size_t element, unsigned* item);
    bool setEnumItem(size_t element, unsigned item);

private:
    SimpleMixer() = default;
    ::_snd_mixer* mixer_ = nullptr;
    std::vector<::_snd_mixer_elem*> handles_;
    std::vector<MixerElement> elements_;
};

}  // namespace torvane::alsa
