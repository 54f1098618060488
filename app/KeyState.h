#pragma once
// Whether Ctrl and Alt were down for a shortcut message: taken from the message when the sender
// recorded the state of its key event, otherwise asked of the X server.

#include <cstdint>

namespace torvane {

struct ModifierState {
    bool control = false;
    bool alt = false;
};

// `lParam` of WM_RECORDER_HOTKEY.
ModifierState shortcutModifiers(intptr_t lParam);
// The live state from the X server; all up when the display is not X11.
ModifierState queryServerModifiers();

}  // namespace torvane
