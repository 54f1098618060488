#include "app/ShellOpen.h"

#include <QDesktopServices>
#include <utility>

namespace torvane {

namespace {
ShellOpenHook& currentHook() {
    static ShellOpenHook hook;
    return hook;
}
}  // namespace

bool shellOpen(const QUrl& url) {
    if (const ShellOpenHook& hook = currentHook()) return hook(url);
    return QDesktopServices::openUrl(url);
}

ShellOpenHook setShellOpenHook(ShellOpenHook hook) { return std::exchange(currentHook(), std::move(hook)); }

}  // namespace torvane
