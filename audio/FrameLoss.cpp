#include "audio/FrameLoss.h"

#include <algorithm>

namespace torvane {

bool FrameLossDetector::observe(double t, double deviation, int64_t mark, FrameLoss* loss) {
    if (deviation >= -kThresholdSeconds) {
        since_ = -1;
        mark_ = mark;
        return false;
    }
    if (since_ < 0) {
        since_ = t;
        best_ = deviation;
    } else {
        best_ = std::max(best_, deviation);
    }
    if (t - since_ < kConfirmSeconds) return false;
    // The least late arrival bounds what is missing; lateness only adds to the others.
    if (loss) *loss = {mark_, -best_};
    since_ = -1;
    return true;
}

}  // namespace torvane
