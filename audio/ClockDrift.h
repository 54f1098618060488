#pragma once
// How fast a sound device's clock really runs against the recording clock, and by how much to
// stretch its sound so that it stays where the time line puts it. Pure arithmetic on arrival
// times and frame counts, so that it can be checked without a device.

#include <cstdint>

namespace torvane {

// Fits the frames a device has delivered against the time they arrived. Arrival is never early
// but late by a varying amount (latency, the reader's scheduling, a busy machine), so of each
// quarter second only the least late arrival counts, and a least-squares line through those over
// the whole stretch gives the rate; only its slope is used. A sudden lasting step (a stall, a
// server that restarted, data the server dropped) starts a new stretch instead of bending the line.
class ClockDriftEstimator {
public:
    explicit ClockDriftEstimator(double nominalRate) : nominal_(nominalRate) {}
    // `frames` delivered in total when `seconds` had passed since the first frame was captured.
    // Returns true when this observation began a new stretch.
    bool observe(double seconds, int64_t frames);
    // Starts a new stretch (the last drift stays in use until the new one is known).
    void restart();
    // Whether the slope is known well enough to act on.
    bool reliable() const { return reliable_; }
    // The device's rate relative to nominal, minus one (0.005: 0.5 % fast). 0 until reliable.
    double drift() const { return drift_; }
    // The same in parts per million.
    double ppm() const { return drift_ * 1e6; }
    // The slope's standard error (same unit as drift()) for the current stretch.
    double uncertainty() const { return stderr_; }
    // How far `frames` at `seconds` are from the current stretch's line, in seconds of sound
    // (negative: short of it); false while the stretch has no line yet.
    bool deviation(double seconds, int64_t frames, double* off) const;

    // Enough time and observations before the slope counts.
    static constexpr double kMinSpanSeconds = 4.0;
    static constexpr int kMinPoints = 12;
    static constexpr double kBinSeconds = 0.25;
    // An arrival this far off the line is a step, not jitter, once it has lasted kStepSeconds.
    static constexpr double kStepSeconds = 0.12;
    static constexpr double kStepLastsSeconds = 1.0;

private:
    void add(double t, double x);
    bool hasLine() const { return n_ >= 4 && lastT_ - firstT_ >= 1.0 && sxx_ > 0; }

    double nominal_;
    // Running sums over the stretch, centred as they come in (Welford) so that hours stay exact.
    int64_t n_ = 0;
    double meanT_ = 0, meanX_ = 0, sxx_ = 0, sxy_ = 0, syy_ = 0;
    double firstT_ = 0, lastT_ = 0;
    bool reliable_ = false;
    double drift_ = 0, stderr_ = 0;
    // A step seen since this time (negative: none).
    double stepSince_ = -1;
    // The current quarter second: when it began, and its least late arrival.
    bool binOpen_ = false;
    double binStart_ = 0, binT_ = 0, binX_ = 0;
};

// Decides the resampling ratio. The sound is right when output frame j holds what the device
// captured at j / nominal seconds; with a device running (1 + d) times too fast, that is output
// = input / (1 + d). The controller follows that ratio and closes the remaining offset between
// the frames written and where they should be over a few seconds, never faster than kMaxStretch,
// so the change is inaudible. It stays out of the way (no resampling) until a drift is known.
class ClockDriftController {
public:
    explicit ClockDriftController(double nominalRate) : estimator_(nominalRate), nominal_(nominalRate) {}
    // After each read: `seconds` since the first frame's capture, `inputFrames` delivered by the
    // device so far, `outputFrames` produced so far (what the resampler holds included).
    void observe(double seconds, int64_t inputFrames, int64_t outputFrames);
    // The device moved its time line on its own (silence put in, sound left out): the fit starts
    // over from here, and the step is not made up for.
    void restart(int64_t inputFrames, int64_t outputFrames);
    // Whether the sound is being resampled (once started, it stays on).
    bool engaged() const { return engaged_; }
    // Output frames per input frame, minus one, to use from now on.
    double stretch() const { return stretch_; }
    // Output frames ahead (positive) of where they should be.
    double offsetFrames() const { return offset_; }
    const ClockDriftEstimator& estimator() const { return estimator_; }

    static constexpr double kMaxStretch = 0.02;
    // How fast the stretch may change: a 0.5 % step takes a second, heard as no jump in pitch.
    static constexpr double kMaxSlewPerSecond = 0.005;
    static constexpr double kSettleSeconds = 4.0;
    // A drift smaller than this is not worth resampling for (0.18 s in 100 minutes).
    static constexpr double kMinDrift = 30e-6;

private:
    ClockDriftEstimator estimator_;
    double nominal_;
    bool engaged_ = false;
    double stretch_ = 0;
    double offset_ = 0;
    double lastSeconds_ = 0;
    // Where the current stretch began: input and output frame counts.
    int64_t anchorIn_ = 0, anchorOut_ = 0;
};

}  // namespace torvane
