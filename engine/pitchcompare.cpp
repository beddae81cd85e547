#include "engine/pitchcompare.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace engine {
namespace {

int MappedY(int32_t value, int height, double divisor) {
    const int a = height / 3;
    const int64_t product = int64_t{a} * value;  // exact for any value
    const double y = std::trunc((a - static_cast<double>(product) / divisor) * 5.0);
    // Only absurd values leave the int range; they stay far off the display.
    return static_cast<int>(
        std::clamp(y, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

}  // namespace

int FirstVoicedFrame(const int32_t* values, int count) {
    for (int i = 0; i < count; ++i)
        if (values[i] != 0) return i;
    return 0;
}

int32_t MeanVoicedPitch(const int32_t* values, int count) {
    int64_t sum = 0;
    int voiced = 0;
    for (int i = 0; i < count; ++i) {
        if (values[i] == 0) continue;
        sum += values[i];
        ++voiced;
    }
    return voiced == 0 ? 0 : static_cast<int32_t>(sum / voiced);
}

int32_t EstimateKeyOffset(int32_t d, int p, const int32_t* ref, int /*count*/) {
    const int32_t e = d != 0 && ref[p] != 0 ? d - ref[p] : 0;
    return std::abs(e) > 100 ? 0 : e;
}

int DisplayY(int32_t value, int height) { return MappedY(value, height, 1000.0); }

int IdleDisplayY(int32_t value, int height) { return MappedY(value, height, 800.0); }

int64_t LineStartMs(float seconds) {
    double start = static_cast<double>(seconds);
    if (!std::isfinite(start)) start = 0.0;
    return std::llround(std::clamp(start, -1e7, 1e7) * 1000.0);
}

}  // namespace engine
