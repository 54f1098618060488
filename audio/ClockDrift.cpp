#include "audio/ClockDrift.h"

#include <algorithm>
#include <cmath>

namespace torvane {

void ClockDriftEstimator::restart() {
    n_ = 0;
    meanT_ = meanX_ = sxx_ = sxy_ = syy_ = 0;
    stepSince_ = -1;
    binOpen_ = false;
}

void ClockDriftEstimator::add(double t, double x) {
    if (n_ == 0) firstT_ = t;
    lastT_ = t;
    ++n_;
    const double dt = t - meanT_, dx = x - meanX_;
    meanT_ += dt / double(n_);
    meanX_ += dx / double(n_);
    sxx_ += dt * (t - meanT_);
    sxy_ += dt * (x - meanX_);
    syy_ += dx * (x - meanX_);
}

// x is how far the device is ahead of the nominal rate, in seconds of sound; its slope over
// time is the drift. The previous stretch's drift stays in use until a new one has its span.
bool ClockDriftEstimator::observe(double seconds, int64_t frames) {
    const double t = seconds, x = double(frames) / nominal_ - seconds;
    bool stepped = false;
    if (hasLine()) {
        const double predicted = meanX_ + sxy_ / sxx_ * (t - meanT_);
        if (std::abs(x - predicted) > kStepSeconds) {
            if (stepSince_ < 0) stepSince_ = t;
            if (t - stepSince_ < kStepLastsSeconds) return false;   // left out of the line
            restart();
            stepped = true;
        } else {
            stepSince_ = -1;
        }
    }
    if (binOpen_ && t - binStart_ >= kBinSeconds) {
        add(binT_, binX_);
        binOpen_ = false;
    }
    if (!binOpen_) {
        binOpen_ = true;
        binStart_ = binT_ = t;
        binX_ = x;
    } else if (x > binX_) {
        binT_ = t;
        binX_ = x;
    }
    if (n_ >= kMinPoints && lastT_ - firstT_ >= kMinSpanSeconds && sxx_ > 0) {
        drift_ = sxy_ / sxx_;
        const double rss = std::max(syy_ - sxy_ * sxy_ / sxx_, 0.0);
        stderr_ = std::sqrt(rss / double(n_ - 2) / sxx_);
        reliable_ = true;
    }
    return stepped;
}

bool ClockDriftEstimator::deviation(double seconds, int64_t frames, double* off) const {
    if (!hasLine()) return false;
    const double x = double(frames) / nominal_ - seconds;
    *off = x - (meanX_ + sxy_ / sxx_ * (seconds - meanT_));
    return true;
}

void ClockDriftController::restart(int64_t inputFrames, int64_t outputFrames) {
    estimator_.restart();
    anchorIn_ = inputFrames;
    anchorOut_ = outputFrames;
}

void ClockDriftController::observe(double seconds, int64_t inputFrames, int64_t outputFrames) {
    if (estimator_.observe(seconds, inputFrames)) {
        // Whatever the step was, the sound after it is not stretched to make up for it.
        anchorIn_ = inputFrames;
        anchorOut_ = outputFrames;
    }
    const double d = estimator_.drift();
    if (!engaged_ && estimator_.reliable() && std::abs(d) > std::max(kMinDrift, 4 * estimator_.uncertainty()))
        engaged_ = true;
    offset_ = double(outputFrames) - (double(anchorOut_) + double(inputFrames - anchorIn_) / (1 + d));
    const double dt = std::max(seconds - lastSeconds_, 0.0);
    lastSeconds_ = seconds;
    if (!engaged_) {
        stretch_ = 0;
        return;
    }
    double target = 1 / (1 + d) - 1 - offset_ / (kSettleSeconds * nominal_);
    target = std::clamp(target, -kMaxStretch, kMaxStretch);
    stretch_ += std::clamp(target - stretch_, -kMaxSlewPerSecond * dt, kMaxSlewPerSecond * dt);
}

}  // namespace torvane
