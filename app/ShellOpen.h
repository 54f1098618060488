#pragma once
// Opens a file or a web page in the user's default program. Tests install a hook so that no
// program is started.

#include <QUrl>
#include <functional>

namespace torvane {

using ShellOpenHook = std::function<bool(const QUrl&)>;

bool shellOpen(const QUrl& url);
// An empty hook restores the desktop's opener. Returns the previous hook.
ShellOpenHook setShellOpenHook(ShellOpenHook hook);

}  // namespace torvane
