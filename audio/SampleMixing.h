#pragma once
// Mixing of two 16-bit sample streams without clipping: sums beyond ±16384 are compressed by a
// factor of three, so any two samples fit and quiet passages stay the exact sum.

#include <cstddef>
#include <cstdint>

namespace torvane {

int16_t mixSample(int16_t a, int16_t b);
// target[i] = mixSample(target[i], other[i]) for `count` samples.
void mixSamples(int16_t* target, const int16_t* other, size_t count);

}  // namespace torvane
