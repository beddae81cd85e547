#include "engine/precisepitchtracker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/pitchtracker.h"
#include "engine/scratcharray.h"

namespace engine {
namespace {

constexpr double kQuietRms = 32768.0 * 0.0031622777;  // −50 dBFS
constexpr double kDipThreshold = 0.15;  // the first dip of the normalised difference below this
constexpr double kAperiodic = 0.35;     // no dip below this: no clear period
constexpr int kMinRate = 4000, kMaxRate = 48000;

double NoteHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }

// The lags a window is searched over at rate Hz: a little beyond the lowest and highest note.
int LongestLag(int rate) { return static_cast<int>(std::ceil(rate / NoteHz(kLowestNote - 0.5))); }
int ShortestLag(int rate) {
    return std::max(2, static_cast<int>(std::floor(rate / NoteHz(kHighestNote + 0.5))));
}
int IntegrationLength(int rate) { return rate / 50; }  // 20 ms

}  // namespace

double PrecisePitch(const int16_t* x, int length, int rate) {
    const int maxLag = LongestLag(rate), minLag = ShortestLag(rate);
    const int window = std::min(IntegrationLength(rate), length - maxLag - 1);
    if (window < minLag * 2) return 0.0;
    const int used = window + maxLag + 1;

    int64_t energy = 0;
    int peak = 0;
    for (int j = 0; j < used; ++j) {
        energy += int64_t{x[j]} * x[j];
        peak = std::max(peak, std::abs(int{x[j]}));
    }
    if (std::sqrt(static_cast<double>(energy) / used) < kQuietRms) return 0.0;

    // The window brought within 12 bits, so that a lag's products add up in 32 bits, and the
    // running sums of its squares.
    int shift = 0;
    while ((peak >> shift) > 2047) ++shift;
    ScratchArray<int16_t, 512> w(static_cast<std::size_t>(used));
    ScratchArray<int64_t, 512> squares(static_cast<std::size_t>(used) + 1);
    squares[0] = 0;
    for (int j = 0; j < used; ++j) {
        w[j] = static_cast<int16_t>(x[j] >> shift);
        squares[j + 1] = squares[j] + int64_t{w[j]} * w[j];
    }
    const int16_t* wave = w.data();
    auto difference = [&](int lag) {  // d(τ) = Σ_j (w[j] − w[j + τ])²
        int32_t product = 0;
        for (int j = 0; j < window; ++j) product += int32_t{wave[j]} * wave[j + lag];
        return static_cast<double>(squares[window] + squares[window + lag] - squares[lag] -
                                   2 * int64_t{product});
    };

    // d'(τ) = d(τ) · τ / Σ_{k ≤ τ} d(k), up to the bottom of the first dip below the threshold
    // (and one lag beyond, for the parabola); the deepest dip when none goes below it.
    ScratchArray<float, 512> normalised(static_cast<std::size_t>(maxLag) + 2);
    normalised[0] = 1.0f;
    double running = 0.0;
    int best = -1;
    for (int lag = 1; lag <= maxLag + 1; ++lag) {
        const double diff = difference(lag);
        running += diff;
        normalised[lag] = running > 0.0 ? static_cast<float>(diff * lag / running) : 1.0f;
        if (lag <= minLag || lag > maxLag) continue;
        if (best < 0 && normalised[lag - 1] < kDipThreshold && lag - 1 >= minLag &&
            normalised[lag] >= normalised[lag - 1]) {
            best = lag - 1;
            break;
        }
    }
    if (best < 0) {
        best = minLag;
        for (int lag = minLag + 1; lag <= maxLag; ++lag)
            if (normalised[lag] < normalised[best]) best = lag;
        if (normalised[best] > kAperiodic) return 0.0;
    }

    // A parabola through the dip and its neighbours.
    double lag = best;
    const double a = normalised[best - 1], b = normalised[best], c = normalised[best + 1];
    const double curve = a - 2.0 * b + c;
    if (curve > 0.0) lag += std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
    return rate / lag;
}

int TrackPitchPrecise(const int16_t* samples, int count, int sampleRate, int frameLength, int hop,
                      int32_t* out) {
    if (!samples || !out || sampleRate < kMinRate || sampleRate > kMaxRate) return 0;
    const int frames = PitchFrameCount(count, sampleRate, frameLength, hop);
    if (frames == 0) return 0;

    const int span = LongestLag(sampleRate) + IntegrationLength(sampleRate) + 2;
    const int length = std::min(span, count);
    for (int k = 0; k < frames; ++k) {
        // The frame's centre on the grid at 11025 Hz, at the samples' own rate.
        const double centre = (static_cast<double>(k) * hop + frameLength / 2.0) * sampleRate /
                              static_cast<double>(kTrackerRate);
        const int first =
            std::clamp(static_cast<int>(std::lround(centre - length / 2.0)), 0, count - length);
        const double hz = PrecisePitch(samples + first, length, sampleRate);
        const double note = hz > 0.0 ? 69.0 + 12.0 * std::log2(hz / 440.0) : 0.0;
        out[k] = note >= kLowestNote && note <= kHighestNote
                     ? static_cast<int32_t>(std::lround(note * 10.0))
                     : 0;
    }
    return frames;
}

}  // namespace engine
