#include "audio/SampleMixing.h"

namespace torvane {

int16_t mixSample(int16_t a, int16_t b) {
    int32_t s = int32_t(a) + int32_t(b);
    if (s > 16384) s = (s - 16384) / 3 + 16384;
    else if (s < -16384) s = (s + 16384) / 3 - 16384;
    return int16_t(s);
}

void mixSamples(int16_t* target, const int16_t* other, size_t count) {
    for (size_t i = 0; i < count; ++i) target[i] = mixSample(target[i], other[i]);
}

}  // namespace torvane
