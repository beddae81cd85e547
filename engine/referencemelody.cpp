#include "engine/referencemelody.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace engine {

double ReferenceHz(int32_t value, int roleOffset) {
    const double midi = (value - roleOffset) / 10.0;
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

std::vector<int16_t> ReferenceMelody(const LineReview& review, int roleOffset, int rate) {
    const auto length = static_cast<std::size_t>(std::max(0.0, review.duration) * rate);
    std::vector<int16_t> samples(length, 0);
    const double fade = 0.010 * rate;
    for (const ReviewNote& note : review.notes) {
        const auto first = static_cast<std::size_t>(std::max(0.0, note.start) * rate);
        const auto last = std::min(length, static_cast<std::size_t>(note.end * rate));
        const double step = 2 * std::numbers::pi * ReferenceHz(note.value, roleOffset) / rate;
        const double count = static_cast<double>(last > first ? last - first : 0);
        for (std::size_t i = first; i < last; ++i) {
            const double k = static_cast<double>(i - first);
            const double phase = step * k;
            const double gain = std::min({1.0, k / fade, (count - k) / fade});
            const double voice =
                std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.1 * std::sin(3 * phase);
            samples[i] = static_cast<int16_t>(std::lround(7000.0 * gain * voice));
        }
    }
    return samples;
}

}  // namespace engine
