#include "app/AreaStillPicture.h"

#include "engine/ScreenSources.h"
#include "settings/CSelectRegionDlg.h"

namespace torvane {

void takeAreaStillPictureFromScreenSource() {
    // On a Wayland desktop the window system's grab (XWayland's root) is black: the portal's
    // stream holds the picture. The grant is the one the recording uses afterwards.
    CSelectRegionDlg::setScreenOpener([](const ScreenRect& screen, std::string* error) {
        ScreenSettings s;
        s.sourceKind = kSourceFullScreen;
        s.rect = screen;
        return openScreenSource(s, error);
    });
}

}  // namespace torvane
