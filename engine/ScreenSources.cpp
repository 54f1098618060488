#include "engine/ScreenSources.h"

#include "platform/x11/X11ScreenSource.h"

namespace torvane {

std::unique_ptr<IScreenSource> openScreenSource(const ScreenSettings& screen, std::string* error) {
    return x11::X11ScreenSource::open(screen.rect.width(), screen.rect.height(), error);
}

}  // namespace torvane
