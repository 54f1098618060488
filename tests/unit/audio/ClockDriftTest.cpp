// Following a sound device's clock: the drift estimate through arrival jitter, the controller
// keeping the stretched sound on the time line, a stall left as a step, and a steady tone that
// stays continuous through the resampler's start and its changes of stretch.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "audio/ClockDrift.h"
#include "audio/SoundResampler.h"

using namespace torvane;

namespace {

constexpr double kRate = 44100;

// A device whose clock runs `ppm` from nominal, read every 10 ms by a reader that comes late by
// up to `jitterMs` (more now and then, as a busy machine does), and the sound stretched as the
// controller says, for `seconds`. worstStep: the fastest change of stretch (per second) once
// engaged; offsetMs: where the sound ended against where it belongs.
struct Run {
    double ppm = 0;
    double seconds = 40;
    double jitterMs = 20;
    double stallAt = -1, stallSeconds = 0;   // the device delivers nothing for a while
    unsigned seed = 1;
    double after = 1e9;
};

struct Outcome {
    bool engaged = false;
    double ppm = 0;
    double offsetMs = 0;
    double worstStep = 0;
    double worstStretch = 0;
    double worstBeyondRatioAfter = 0;   // |stretch - plain ratio| after the `after` moment
};

Outcome simulate(const Run& r) {
    ClockDriftController c(kRate);
    std::mt19937 rng(r.seed);
    std::uniform_real_distribution<double> late(0, r.jitterMs / 1000);
    std::uniform_int_distribution<int> rare(0, 99);
    const double realRate = kRate * (1 + r.ppm / 1e6);
    int64_t in = 0;
    double out = 0;
    double lost = 0;   // device time that a stall took
    double prev = 0, prevArrival = 0;
    Outcome o;
    for (double t = 0.01; t < r.seconds; t += 0.01) {
        double arrival = t + late(rng) + (rare(rng) == 0 ? 0.08 : 0);
        if (r.stallAt >= 0 && t >= r.stallAt && t < r.stallAt + r.stallSeconds) continue;
        if (r.stallAt >= 0 && t >= r.stallAt + r.stallSeconds) lost = r.stallSeconds;
        const int64_t captured = int64_t((t - lost) * realRate);
        const int64_t chunk = captured - in;
        if (chunk <= 0) continue;
        out += double(chunk) * (1 + c.stretch());
        in = captured;
        c.observe(arrival, in, int64_t(out));
        if (c.engaged()) {
            o.worstStep = std::max(o.worstStep, std::abs(c.stretch() - prev) / std::max(arrival - prevArrival, 1e-3));
            o.worstStretch = std::max(o.worstStretch, std::abs(c.stretch()));
            if (t > r.after)
                o.worstBeyondRatioAfter =
                    std::max(o.worstBeyondRatioAfter, std::abs(c.stretch() - (1 / (1 + r.ppm / 1e6) - 1)));
        }
        prev = c.stretch();
        prevArrival = arrival;
    }
    o.engaged = c.engaged();
    o.ppm = c.estimator().ppm();
    // Where the last frame belongs: its capture time at the nominal rate, after the stall's step.
    const double belongs = double(in) / (1 + r.ppm / 1e6);
    o.offsetMs = (out - belongs) / kRate * 1000;
    return o;
}

}  // namespace

TEST(ClockDrift, EstimatesTheDeviceRateThroughReaderJitterAndKeepsTheSoundOnTheTimeLine) {
    for (double ppm : {-5000.0, -200.0, 200.0, 5000.0}) {
        SCOPED_TRACE(ppm);
        const Outcome o = simulate({ppm, 40, 20});
        EXPECT_TRUE(o.engaged);
        EXPECT_NEAR(o.ppm, ppm, 50);   // some 15 ppm is the fit's own spread here
        // The mark is a video frame (33 ms); the controller does far better.
        EXPECT_LT(std::abs(o.offsetMs), 3);
        // Gentle: never more than the limit, and no sudden turns of the ratio.
        EXPECT_LE(o.worstStretch, ClockDriftController::kMaxStretch);
        EXPECT_LE(o.worstStep, ClockDriftController::kMaxSlewPerSecond * 1.001);
    }
}

TEST(ClockDrift, AClockOnTimeIsLeftAloneDespiteJitter) {
    for (unsigned seed : {1u, 2u, 3u}) {
        const Outcome o = simulate({0, 60, 40, -1, 0, seed});
        EXPECT_FALSE(o.engaged) << "seed " << seed << " estimated " << o.ppm << " ppm";
        EXPECT_NEAR(o.ppm, 0, 60);
    }
}

TEST(ClockDrift, AStallIsAStepNotSomethingToCatchUp) {
    // Two seconds without data halfway: the sound after it is not squeezed to make up for the
    // time, and the estimate carries on from the new stretch.
    const Outcome o = simulate({5000, 40, 20, 15, 2, 1, 15});
    EXPECT_TRUE(o.engaged);
    EXPECT_NEAR(o.ppm, 5000, 80);
    // Making up for 2 s would take the stretch to its limit for long.
    EXPECT_LT(o.worstBeyondRatioAfter, 0.001);
    EXPECT_LE(o.worstStep, ClockDriftController::kMaxSlewPerSecond * 1.001);
    EXPECT_LT(std::abs(o.offsetMs), 5);
}

TEST(ClockDrift, EstimatorNeedsItsSpanAndSeesAStepOnlyWhenItLasts) {
    ClockDriftEstimator e(kRate);
    // Fast by 1 %: not reliable before its span, however many points.
    double t = 0;
    for (; t < ClockDriftEstimator::kMinSpanSeconds - 0.5; t += 0.01) e.observe(t, int64_t(t * kRate * 1.01));
    EXPECT_FALSE(e.reliable());
    EXPECT_EQ(e.ppm(), 0);
    for (; t < 8; t += 0.01) EXPECT_FALSE(e.observe(t, int64_t(t * kRate * 1.01)));
    ASSERT_TRUE(e.reliable());
    EXPECT_NEAR(e.ppm(), 10000, 1);
    // One very late read is left out, not taken as a step.
    EXPECT_FALSE(e.observe(t + 0.3, int64_t(t * kRate * 1.01)));
    EXPECT_NEAR(e.ppm(), 10000, 1);
    // Half a second of sound gone for good: a new stretch once it has lasted.
    bool stepped = false;
    for (t += 0.01; t < 12; t += 0.01) stepped |= e.observe(t, int64_t((t - 0.5) * kRate * 1.01));
    EXPECT_TRUE(stepped);
    EXPECT_NEAR(e.ppm(), 10000, 5);
}

namespace {

// Largest deviation of a sampled sine from its own recurrence x[n+1] + x[n-1] = 2 cos(w) x[n]:
// tiny for a tone whose phase runs on smoothly, large where a frame is dropped, repeated or
// jumps in phase, whatever the level.
double worstRecurrence(const std::vector<int16_t>& stereo, double w, size_t from, size_t to) {
    double worst = 0;
    const size_t n = std::min(stereo.size() / 2, to);
    for (size_t i = std::max<size_t>(from, 1); i + 1 < n; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const double r = stereo[2 * (i + 1) + ch] + stereo[2 * (i - 1) + ch] - 2 * std::cos(w) * stereo[2 * i + ch];
            worst = std::max(worst, std::abs(r));
        }
    }
    return worst;
}

}  // namespace

TEST(SoundResampler, SteadyToneStaysContinuousThroughStartAndChangesOfStretch) {
    const WaveFormat f{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
    SoundResampler s;
    ASSERT_TRUE(s.open(f, nullptr));
    const double w = 2 * M_PI * 1000 / 44100, amp = 12000;
    std::vector<int16_t> block(441 * 2);
    std::vector<uint8_t> out;
    int64_t in = 0;
    auto feed = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < 441; ++i, ++in) {
                const auto v = int16_t(std::lround(amp * std::sin(w * double(in))));
                block[2 * i] = v;
                block[2 * i + 1] = int16_t(-v);
            }
            ASSERT_TRUE(s.process(reinterpret_cast<const uint8_t*>(block.data()), 441, &out, nullptr));
        }
    };
    feed(100);
    EXPECT_FALSE(s.active());
    ASSERT_EQ(out.size(), size_t(in) * 4);   // untouched until a stretch is asked for
    // Starts with 0.5 % more, turns to 0.5 % less and a little more again, 10 ms at a time.
    for (double stretch : {0.005, 0.0049, 0.003, -0.005, -0.0048, 0.0002}) {
        ASSERT_TRUE(s.setStretch(stretch, nullptr));
        feed(50);
    }
    ASSERT_TRUE(s.active());
    ASSERT_TRUE(s.flush(&out, nullptr));
    std::vector<int16_t> pcm(out.size() / 2);
    std::memcpy(pcm.data(), out.data(), out.size());
    // The first second is the input itself.
    for (int64_t i = 0; i < 44100; ++i)
        ASSERT_EQ(pcm[size_t(2 * i)], int16_t(std::lround(amp * std::sin(w * double(i))))) << i;
    // Continuous all through (up to the end of the input, where the resampler's tail fades);
    // a frame dropped or repeated anywhere would leave about amp * w, a phase jump of a tenth of
    // a frame a tenth of that.
    const double worst = worstRecurrence(pcm, w, 0, pcm.size() / 2 - 32);
    EXPECT_LT(worst, 0.004 * amp) << "worst " << worst;
    // The stretch took effect: 3 s in, 0.5 % * 0.5 s + ... more or less out than in.
    const double expected = 441 * 50 * (0.005 + 0.0049 + 0.003 - 0.005 - 0.0048 + 0.0002);
    EXPECT_NEAR(double(pcm.size() / 2) - double(in), expected, 20);
    // The level is kept: no dip where the resampler took over.
    for (size_t b = 0; b + 441 <= pcm.size() / 2; b += 441) {
        int peak = 0;
        for (size_t i = b; i < b + 441; ++i) peak = std::max(peak, std::abs(int(pcm[2 * i])));
        EXPECT_NEAR(peak, amp, 0.02 * amp) << "block at " << b;
    }
}

TEST(SoundResampler, RefusesFormatsItCannotStretch) {
    SoundResampler s;
    std::string error;
    EXPECT_FALSE(s.open(WaveFormat{kWaveFormatPcm, 2, 44100, 0, 6, 24, 0}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(s.open(WaveFormat{kWaveFormatPcm, 0, 44100, 0, 0, 16, 0}, &error));
    EXPECT_TRUE(s.open(WaveFormat{kWaveFormatPcm, 1, 22050, 22050, 1, 8, 0}, &error));
}
