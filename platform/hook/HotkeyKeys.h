#pragma once
// The keys of the global shortcuts and how a WM_RECORDER_HOTKEY message carries the modifier state
// of the key event that produced it (the state when the key came, not when the message is read).

#include <cstdint>

namespace torvane {

constexpr uintptr_t VK_SHORTCUT_STOP = 0x53;    // S
constexpr uintptr_t VK_SHORTCUT_PAUSE = 0x50;   // P
constexpr uintptr_t VK_SHORTCUT_PIP = 0x49;     // I

constexpr intptr_t kHotkeyStateKnown = 0x100;   // lParam carries the bits below
constexpr intptr_t kHotkeyControl = 0x1;
constexpr intptr_t kHotkeyAlt = 0x2;
constexpr intptr_t kHotkeyShift = 0x4;

}  // namespace torvane
