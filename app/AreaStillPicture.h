#pragma once
// The area selection's still picture comes from the screen source recordings use.

namespace torvane {

// Installs the opener once; later calls do nothing.
void takeAreaStillPictureFromScreenSource();

}  // namespace torvane
