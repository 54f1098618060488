#include "engine/PaceControl.h"

#include <algorithm>

namespace torvane {

PaceControl::PaceControl(int frameRate, int fastest)
    : stretch_(std::max(std::max(1, frameRate), kShortestStretch)),
      fastest_(std::max(0, fastest)),
      stretchUs_(uint64_t(stretch_) * 1000000u / uint64_t(std::max(1, frameRate))) {}

int PaceControl::turn(int64_t position, uint64_t late, uint64_t busyUs) {
    if (position < 0) return speed_;
    const int64_t firstLate = position - int64_t(std::min<uint64_t>(late, uint64_t(position)));
    if (current_ < 0) current_ = position / stretch_;
    // Each late position counts in the stretch it belongs to; stretches the turn leaves behind are
    // judged.
    auto countLate = [&](int64_t end) {
        const int64_t from = std::max(firstLate, current_ * stretch_);
        if (end > from) late_ += uint64_t(end - from);
    };
    while (current_ < position / stretch_) {
        countLate(std::min(position, (current_ + 1) * stretch_));
        closeStretch();
        ++current_;
    }
    countLate(position);
    busyUs_ += busyUs;
    return speed_;
}

void PaceControl::closeStretch() {
    // One late position in twenty is a stretch the viewer sees; fewer may be a single hiccup.
    const bool late = late_ > 0 && late_ * 20 >= uint64_t(stretch_);
    // Room: nothing late and the loop busy less than half the time.
    const bool roomy = late_ == 0 && busyUs_ * 2 < stretchUs_;
    late_ = 0;
    busyUs_ = 0;
    lateRun_ = late ? lateRun_ + 1 : 0;
    roomRun_ = roomy ? roomRun_ + 1 : 0;
    if (lateRun_ >= kLateStretches && speed_ < fastest_) {
        if (slowerAt_ >= 0 && current_ - slowerAt_ <= kRelapseStretches)
            roomNeeded_ = std::min(roomNeeded_ * 2, kLongestRoomStretches);
        ++speed_;
        lateRun_ = 0;
        roomRun_ = 0;
    } else if (roomRun_ >= roomNeeded_ && speed_ > 0) {
        --speed_;
        slowerAt_ = current_;
        roomRun_ = 0;
        lateRun_ = 0;
    }
}

}  // namespace torvane
