// Small pure helpers of the per-buffer comparison. Pitch values are tenths of a semitone with the
// singer offset; 0 is no pitch.
#pragma once

#include <cstdint>

namespace engine {

// Index of the first non-zero value, or 0 when there is none.
int FirstVoicedFrame(const int32_t* values, int count);

// Sum of the non-zero values divided by their number (integer division), or 0 when there is none.
int32_t MeanVoicedPitch(const int32_t* values, int count);

// The singer's key offset from one comparison: d − ref[p] when both are non-zero, else 0; an
// estimate beyond ±100 (ten semitones) is 0. count is not used.
int32_t EstimateKeyOffset(int32_t d, int p, const int32_t* ref, int count);

// Screen y of a pitch value in a display of the given height: trunc((A − A·v / 1000) × 5) with
// A = height / 3. Larger values are higher; 800 gives A and 1000 gives 0.
int DisplayY(int32_t value, int height);

// The same with the divisor 800 that the marker uses between lines.
int IdleDisplayY(int32_t value, int height);

// The song's clock, shared by the comparison and the display: one reference value every 15 ms
// from a line's start, which counts in whole milliseconds.
inline constexpr int kReferenceStepMs = 15;

// a / b rounded towards minus infinity (b > 0): −1 for −14 / 15.
inline int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// A line's start time (seconds, as the loader stored it) in whole milliseconds, rounded to the
// nearest; a time that is not finite counts as 0 and any other is held inside ±10^7 s.
int64_t LineStartMs(float seconds);

}  // namespace engine
