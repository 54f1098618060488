#pragma once
// The recorder's title and tray tip for a state and a recorded time.

#include <QString>
#include <cstdint>

namespace torvane {

// "HH:MM:SS:m": hours wrap at 24, the milliseconds are not padded (83456 -> "00:01:23:456",
// 5 -> "00:00:00:5").
QString formatRecordedTime(uint32_t milliseconds);

// The status text of a recorder state (Idle, Ready, Recording, Paused); the time matters only
// while recording or paused.
QString statusText(int state, uint32_t milliseconds);

}  // namespace torvane
