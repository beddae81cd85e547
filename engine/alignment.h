// Dynamic time warping of a sung pitch sequence against a line's reference values, after both are
// centred on their own mean, so that timing differences and the singer's key cost nothing.
// Pitch values are tenths of a semitone; 0 is no pitch and stays 0 through every shift.
#pragma once

#include <cstdint>

namespace engine {

// The cost of a failed alignment, and the value of an unreachable cell.
inline constexpr float kAlignFailed = 9999999.0f;

// Adds trunc(−s / k) to every non-zero value, where s is the sum of the k non-zero values
// (accumulated in single precision). Nothing changes when there are none.
void CentrePitch(int32_t* values, int count);

// Adds delta to every non-zero value.
void ShiftVoiced(int32_t* values, int count, int32_t delta);

// Aligns the sung values a[0..m) with the reference values b[0..n) and returns the accumulated
// cost, raised by a penalty when the voiced counts differ (× 0.8 + × r × 0.2, or / r below 1).
// Returns kAlignFailed, with a and b untouched, when either has no more than half the other's
// voiced values (or m or n is below 1). Otherwise both are centred in place (CentrePitch) first;
// then a cost matrix with local slopes from 1/2 to 2 is filled row by row over the sung values,
// with an open start and an open end on the reference side, keeping two rows of n + 2 cells.
// When the smaller of the last two rows' minima exceeds bound the search is abandoned and the
// result is kAlignFailed. Any result of kAlignFailed or more means the alignment failed.
// Cost: at most m × n cells.
float AlignPitch(int32_t* a, int m, int32_t* b, int n, float bound);

}  // namespace engine
