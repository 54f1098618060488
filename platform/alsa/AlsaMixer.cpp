#include "platform/alsa/AlsaMixer.h"

#include <alsa/asoundlib.h>

#include "platform/alsa/AlsaPcm.h"

namespace torvane::alsa {

bool anyCard() {
    silenceLibraryMessages();
    int card = -1;
    return snd_card_next(&card) == 0 && card >= 0;
}

std::unique_ptr<SimpleMixer> SimpleMixer::open(const std::string& card, std::string* error) {
    std::unique_ptr<SimpleMixer> self(new SimpleMixer());
    int rc = snd_mixer_open(&self->mixer_, 0);
    if (rc >= 0) rc = snd_mixer_attach(self->mixer_, card.c_str());
    if (rc >= 0) rc = snd_mixer_selem_register(self->mixer_, nullptr, nullptr);
    if (rc >= 0) rc = snd_mixer_load(self->mixer_);
    if (rc < 0) {
        if (error) *error = std::string("no sound card mixer: ") + snd_strerror(rc);
        return nullptr;
    }
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(self->mixer_); e; e = snd_mixer_elem_next(e)) {
        if (!snd_mixer_selem_is_active(e)) continue;
        MixerElement m;
        m.name = snd_mixer_selem_get_name(e);
        m.captureVolume = snd_mixer_selem_has_capture_volume(e);
        m.captureSwitch = snd_mixer_selem_has_capture_switch(e);
        m.playbackVolume = snd_mixer_selem_has_playback_volume(e);
        m.playbackSwitch = snd_mixer_selem_has_playback_switch(e);
        if (m.captureVolume) snd_mixer_selem_get_capture_volume_range(e, &m.captureMin, &m.captureMax);
        if (m.playbackVolume) snd_mixer_selem_get_playback_volume_range(e, &m.playbackMin, &m.playbackMax);
        m.channels = 1;
        for (int ch = 1; ch <= SND_MIXER_SCHN_LAST; ++ch)
            if (snd_mixer_selem_has_capture_channel(e, snd_mixer_selem_channel_id_t(ch)) ||
                snd_mixer_selem_has_playback_channel(e, snd_mixer_selem_channel_id_t(ch)))
                m.channels = ch + 1;
        if (snd_mixer_selem_is_enumerated(e) && snd_mixer_selem_is_enum_capture(e)) {
            m.captureSource = true;
            int n = snd_mixer_selem_get_enum_items(e);
            for (int i = 0; i < n; ++i) {
                char name[128] = {};
                if (snd_mixer_selem_get_enum_item_name(e, unsigned(i), sizeof name - 1, name) == 0)
                    m.items.emplace_back(name);
                else
                    m.items.emplace_back();
            }
        }
        self->handles_.push_back(e);
        self->elements_.push_back(std::move(m));
    }
    return self;
}

SimpleMixer::~SimpleMixer() {
    if (mixer_) snd_mixer_close(mixer_);
}

bool SimpleMixer::captureVolume(size_t i, long* value) {
    return i < handles_.size() &&
           snd_mixer_selem_get_capture_volume(handles_[i], SND_MIXER_SCHN_FRONT_LEFT, value) == 0;
}

bool SimpleMixer::setCaptureVolume(size_t i, long value) {
    return i < handles_.size() && snd_mixer_selem_set_capture_volume_all(handles_[i], value) == 0;
}

bool SimpleMixer::playbackVolume(size_t i, long* value) {
    return i < handles_.size() &&
           snd_mixer_selem_get_playback_volume(handles_[i], SND_MIXER_SCHN_FRONT_LEFT, value) == 0;
}

bool SimpleMixer::setPlaybackVolume(size_t i, long value) {
    return i < handles_.size() && snd_mixer_selem_set_playback_volume_all(handles_[i], value) == 0;
}

bool SimpleMixer::switchOn(size_t i, bool capture, bool* on) {
    if (i >= handles_.size()) return false;
    int v = 0;
    int rc = capture ? snd_mixer_selem_get_capture_switch(handles_[i], SND_MIXER_SCHN_FRONT_LEFT, &v)
                     : snd_mixer_selem_get_playback_switch(handles_[i], SND_MIXER_SCHN_FRONT_LEFT, &v);
    *on = v != 0;
    return rc == 0;
}

bool SimpleMixer::setSwitch(size_t i, bool capture, bool on) {
    if (i >= handles_.size()) return false;
    return (capture ? snd_mixer_selem_set_capture_switch_all(handles_[i], on)
                    : snd_mixer_selem_set_playback_switch_all(handles_[i], on)) == 0;
}

bool SimpleMixer::enumItem(size_t i, unsigned* item) {
    return i < handles_.size() && snd_mixer_selem_get_enum_item(handles_[i], SND_MIXER_SCHN_FRONT_LEFT, item) == 0;
}

bool SimpleMixer::setEnumItem(size_t i, unsigned item) {
    if (i >= handles_.size()) return false;
    bool ok = true;
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        auto c = snd_mixer_selem_channel_id_t(ch);
        if (ch == 0 || snd_mixer_selem_has_capture_channel(handles_[i], c))
            ok = snd_mixer_selem_set_enum_item(handles_[i], c, item) == 0 && ok;
        if (ch > 0 && !snd_mixer_selem_has_capture_channel(handles_[i], c)) break;
    }
    return ok;
}

}  // namespace torvane::alsa
