#pragma once

namespace torvane {

// True when a PulseAudio-compatible sound server was reachable when the program started: system
// sound is then recorded from the default output's monitor ("loopback"). False means the plain
// ALSA path, where system sound can only come from a capture mixer line of the sound card.
extern bool g_bVistaOrLater;

// Sets g_bVistaOrLater once per process (later calls do nothing). Call at start-up, before any
// sound thread runs; CSoundCapture and the mixer-line operations call it too.
void detectSoundPlatform();

}  // namespace torvane
