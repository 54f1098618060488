// Frames a device lost against frames that came late: jitter and a reader that fell behind and
// caught up are never taken for a loss; a stretch of lost frames is found once, where it began,
// about as long as it was.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "audio/ClockDrift.h"
#include "audio/FrameLoss.h"

using namespace torvane;

namespace {

constexpr double kRate = 44100;

struct Sim {
    double ppm = 0;
    double seconds = 30;
    double jitterMs = 30;              // each read late by up to this, now and then by 100 ms more
    double behindAt = -1;              // the reader gets no turn for `behindSeconds`, then catches up
    double behindSeconds = 0;
    double lossAt = -1;                // the device loses `lossSeconds` of frames at this moment
    double lossSeconds = 0;
    unsigned seed = 1;
};

struct Found {
    std::vector<FrameLoss> losses;
    std::vector<int64_t> framesAtLoss;   // frames delivered before the real loss
    bool stepped = false;                // the estimator saw a step anyway
};

// As the capture thread does: arrivals held out of the fit while suspect, lost frames counted
// as delivered once found.
Found run(const Sim& s) {
    ClockDriftEstimator e(kRate);
    FrameLossDetector d;
    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> late(0, s.jitterMs / 1000);
    std::uniform_int_distribution<int> rare(0, 49);
    const double realRate = kRate * (1 + s.ppm / 1e6);
    int64_t delivered = 0, counted = 0;
    Found f;
    for (double t = 0.01; t < s.seconds; t += 0.01) {
        // What the device has captured by t, less what it lost.
        const bool afterLoss = s.lossAt >= 0 && t >= s.lossAt + s.lossSeconds;
        if (s.lossAt >= 0 && t >= s.lossAt && t < s.lossAt + s.lossSeconds) continue;   // nothing comes
        if (afterLoss && f.framesAtLoss.empty()) f.framesAtLoss.push_back(delivered);
        const int64_t captured = int64_t((t - (afterLoss ? s.lossSeconds : 0)) * realRate);
        double arrival = t + late(rng) + (rare(rng) == 0 ? 0.1 : 0);
        if (s.behindAt >= 0 && t >= s.behindAt && t < s.behindAt + s.behindSeconds)
            arrival = s.behindAt + s.behindSeconds + late(rng);   // all that comes at once after
        if (captured <= delivered) continue;
        counted += captured - delivered;
        delivered = captured;
        double off = 0;
        FrameLoss loss;
        if (!e.deviation(arrival, counted, &off)) d.reset();
        else if (d.observe(arrival, off, delivered, &loss)) {
            f.losses.push_back(loss);
            counted += int64_t(loss.seconds * kRate);
        }
        if (!d.suspecting()) f.stepped |= e.observe(arrival, counted);
    }
    return f;
}

}  // namespace

TEST(FrameLoss, LateReadsAndAReaderThatCatchesUpAreNoLoss) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        EXPECT_TRUE(run({0, 60, 40, -1, 0, -1, 0, seed}).losses.empty());
        EXPECT_TRUE(run({-5000, 60, 40, -1, 0, -1, 0, seed}).losses.empty());
        // Half a second without a turn (a busy machine), the data waiting in the server.
        const Found behind = run({5000, 30, 40, 12, 0.5, -1, 0, seed});
        EXPECT_TRUE(behind.losses.empty());
        EXPECT_FALSE(behind.stepped);
    }
}

TEST(FrameLoss, LostFramesAreFoundOnceWhereTheyBegan) {
    for (double ppm : {-5000.0, 0.0, 200.0}) {
        for (double lost : {0.1, 0.3, 2.0}) {
            SCOPED_TRACE(testing::Message() << ppm << " ppm, " << lost << " s lost");
            const Found f = run({ppm, 30, 30, -1, 0, 10, lost, 1});
            ASSERT_EQ(f.losses.size(), 1u);
            EXPECT_EQ(f.losses[0].at, f.framesAtLoss[0]);
            // The least late arrival bounds it: short by at most the reader's lateness.
            EXPECT_LE(f.losses[0].seconds, lost + 0.005);
            EXPECT_GE(f.losses[0].seconds, lost - 0.03);
            // Counted as delivered, the frames after it are back on the line.
            EXPECT_FALSE(f.stepped);
        }
    }
}
