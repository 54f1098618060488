#include "audio/SoundPlatform.h"

#include <mutex>

#include "platform/pulse/PulseStream.h"

namespace torvane {

bool g_bVistaOrLater = false;

void detectSoundPlatform() {
    static std::once_flag once;
    std::call_once(once, [] { g_bVistaOrLater = pulse::serverReachable(); });
}

}  // namespace torvane
