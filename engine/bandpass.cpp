#include "engine/bandpass.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace engine {
namespace {

// A filter sum truncated toward zero into a 16-bit sample, clamped to the 16-bit range. The sums
// are finite: BandPassFilter refuses taps that are not.
int16_t ToSample(double sum) {
    return static_cast<int16_t>(static_cast<int>(std::clamp(sum, -32768.0, 32767.0)));
}

// A function with clones is chosen by a resolver that runs while the program is loaded, before
// ThreadSanitizer's runtime is ready (it crashes there); that build takes the plain version.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORVEL_NO_CLONES
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(QUORVEL_NO_CLONES)
#define QUORVEL_CLONES
#else
#define QUORVEL_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// The interior of the voice filter (three taps), written so that the compiler can vectorise it.
QUORVEL_CLONES void FilterThreeTaps(const int16_t* __restrict in, int16_t* __restrict out,
                                    int begin, int end, const double* taps) {
    const double t0 = taps[0], t1 = taps[1], t2 = taps[2];
    for (int i = begin; i < end; ++i)
        out[i] = ToSample(t0 * in[i - 1] + t1 * in[i] + t2 * in[i + 1]);
}

}  // namespace

double WindowValue(int windowType, int length, int index) {
    if (windowType != kHammingWindow || length < 2) return 1.0;
    const double pi = 4.0 * std::atan(1.0);
    return 0.54 - 0.46 * std::cos(2.0 * index * pi / (length - 1));
}

void DesignFir(int order, int bandType, double lowNorm, double highNorm, int windowType,
               double* taps) {
    if (bandType != kBandPass || order < 0 || order > kMaxFilterOrder) return;
    const int n = order;
    const double pi = 4.0 * std::atan(1.0);
    // With an even order the middle tap is the limit at s = 0 and is set on its own.
    const int last = (n % 2 == 0) ? n / 2 - 1 : (n - 1) / 2;
    const double delay = n / 2.0;
    const double wc1 = 2.0 * pi * lowNorm;
    const double wc2 = 2.0 * pi * highNorm;
    for (int i = 0; i <= last; ++i) {
        const double s = i - delay;
        taps[i] =
            (std::sin(wc2 * s) - std::sin(wc1 * s)) / (pi * s) * WindowValue(windowType, n + 1, i);
        taps[n - i] = taps[i];
    }
    if (n % 2 == 0) taps[n / 2] = (wc2 - wc1) / pi;
}

void BandPassFilter(int16_t* samples, int count, int bandType, int order, double lowHz,
                    double highHz, double sampleRate, int windowType) {
    if (!samples || count <= 0 || bandType != kBandPass || order < 0 || order > kMaxFilterOrder ||
        !(sampleRate > 0.0))
        return;
    double taps[kMaxFilterOrder + 1];
    DesignFir(order, bandType, lowHz / sampleRate, highHz / sampleRate, windowType, taps);
    for (int j = 0; j <= order; ++j)
        if (!std::isfinite(taps[j])) return;

    const std::vector<int16_t> input(samples, samples + count);
    const int half = order / 2;
    // Output i reads inputs i − half … i − half + order; away from the edges all of them exist.
    const int interiorBegin = std::min(half, count);
    const int interiorEnd = std::max(interiorBegin, count - (order - half));
    auto sumAt = [&](int i, int jBegin, int jEnd) {
        double sum = 0.0;
        for (int j = jBegin; j < jEnd; ++j) sum += taps[j] * input[i - half + j];
        return sum;
    };
    auto edge = [&](int i) {
        samples[i] =
            ToSample(sumAt(i, std::max(0, half - i), std::min(order + 1, count - i + half)));
    };
    for (int i = 0; i < interiorBegin; ++i) edge(i);
    if (order == 2) {
        FilterThreeTaps(input.data(), samples, interiorBegin, interiorEnd, taps);
    } else {
        for (int i = interiorBegin; i < interiorEnd; ++i)
            samples[i] = ToSample(sumAt(i, 0, order + 1));
    }
    for (int i = interiorEnd; i < count; ++i) edge(i);
}

}  // namespace engine
