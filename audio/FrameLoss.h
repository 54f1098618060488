#pragma once
// Tells frames a device lost (a starved feeder, a buffer that overflowed) from frames that are
// merely late. Both leave the arrivals behind the device's fitted clock line; late frames catch
// up within moments, lost ones never do. Pure arithmetic, so that it can be checked without a
// device.

#include <cstdint>

namespace torvane {

struct FrameLoss {
    int64_t at = 0;        // the mark of the last arrival that was on the line: the loss follows it
    double seconds = 0;    // how much sound is missing, in seconds of the device's frames
};

class FrameLossDetector {
public:
    // `deviation`: seconds of sound the device has delivered beyond (+) or short of (-) its line
    // at time `t`; `mark`: the caller's position for this arrival. True when a loss is certain,
    // described in `loss`; the caller then counts the missing frames as delivered, which puts
    // the following arrivals back on the line.
    bool observe(double t, double deviation, int64_t mark, FrameLoss* loss);
    // Arrivals are behind and not yet explained: what came after holdMark() must wait, so that
    // silence can still go in at the right place.
    bool suspecting() const { return since_ >= 0; }
    int64_t holdMark() const { return mark_; }
    // No line to judge by (a new stretch): forget the episode.
    void reset() { since_ = -1; }

    // Reads are late by a fragment and the reader's scheduling, tens of ms; the least late of
    // kConfirmSeconds of reads this far behind is not jitter. A reader that fell behind catches
    // up in a few reads, as the server holds what it could not take.
    static constexpr double kThresholdSeconds = 0.06;
    static constexpr double kConfirmSeconds = 0.5;

private:
    double since_ = -1;     // the first arrival behind the line (negative: none)
    double best_ = 0;       // the least late deviation since then
    int64_t mark_ = 0;
};

}  // namespace torvane
