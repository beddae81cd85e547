// Band-pass FIR filter for sung blocks: a windowed ideal band-pass response (window method),
// designed afresh on every call and applied in place. No state survives a call.
#pragma once

#include <cstdint>

namespace engine {

inline constexpr int kBandPass = 3;         // the only band type supported
inline constexpr int kHammingWindow = 5;    // the only window with a shape; others are rectangular
inline constexpr int kMaxFilterOrder = 99;  // the taps array holds at most 100 values

// Filters samples[0..count) in place. Output i is the sum over j = 0..order of
// taps[j] × input[i − order/2 + j] (inputs centred on i), computed in double precision from the
// block as it was before the call; inputs beyond either edge of the block count as 0. Each sum is
// truncated toward zero and stored as a 16-bit sample (clamped to the 16-bit range, which the
// voice band-pass never reaches: its gain stays below 0.27). Edges are in Hz.
// A block is left untouched when count ≤ 0, samples is null, order is outside 0..99, the band
// type is not kBandPass, the sample rate is not positive or the edges give taps that are not
// finite.
void BandPassFilter(int16_t* samples, int count, int bandType, int order, double lowHz,
                    double highHz, double sampleRate, int windowType);

// Fills taps[0..order] with the windowed band-pass response between the normalised edges
// lowNorm and highNorm (edge in Hz divided by the sample rate). The taps are symmetric.
// order must be 0..99 and taps must hold order + 1 values.
void DesignFir(int order, int bandType, double lowNorm, double highNorm, int windowType,
               double* taps);

// The window's value at index (0 ≤ index < length). Hamming for kHammingWindow, 1 otherwise.
double WindowValue(int windowType, int length, int index);

}  // namespace engine
