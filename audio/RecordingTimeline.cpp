#include "audio/RecordingTimeline.h"

#include <algorithm>

namespace torvane {

void RecordingTimeline::begin(Clock::time_point origin) {
    std::lock_guard<std::mutex> g(m_);
    origin_ = origin;
    pauses_.clear();
    paused_ = false;
}

void RecordingTimeline::pause(Clock::time_point now) {
    std::lock_guard<std::mutex> g(m_);
    if (paused_) return;
    paused_ = true;
    pausedSince_ = now;
}

void RecordingTimeline::resume(Clock::time_point now) {
    std::lock_guard<std::mutex> g(m_);
    if (!paused_) return;
    paused_ = false;
    pauses_.emplace_back(pausedSince_, std::max(now, pausedSince_));
}

bool RecordingTimeline::paused() const {
    std::lock_guard<std::mutex> g(m_);
    return paused_;
}

bool RecordingTimeline::pausedAt(Clock::time_point t) const {
    std::lock_guard<std::mutex> g(m_);
    if (paused_ && t >= pausedSince_) return true;
    for (const auto& p : pauses_)
        if (t >= p.first && t < p.second) return true;
    return false;
}

RecordingTimeline::Clock::time_point RecordingTimeline::origin() const {
    std::lock_guard<std::mutex> g(m_);
    return origin_;
}

RecordingTimeline::Clock::duration RecordingTimeline::at(Clock::time_point t) const {
    std::lock_guard<std::mutex> g(m_);
    if (t <= origin_) return Clock::duration::zero();
    Clock::duration d = t - origin_;
    auto cut = [&](Clock::time_point a, Clock::time_point b) {
        if (t > a) d -= std::min(t, b) - a;
    };
    for (const auto& p : pauses_) cut(p.first, p.second);
    if (paused_) cut(pausedSince_, t);
    return std::max(d, Clock::duration::zero());
}

int64_t RecordingTimeline::framesAt(Clock::time_point t, uint32_t rate) const {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(at(t)).count();
    return us * int64_t(rate) / 1000000;
}

}  // namespace torvane
