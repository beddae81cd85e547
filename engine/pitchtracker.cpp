#include "engine/pitchtracker.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "engine/amdf.h"
#include "engine/scratcharray.h"

namespace engine {
namespace {

constexpr int kInterpolationSteps = 10;     // resampling weights are tenths
constexpr int kHighestPitchDivisor = 1047;  // smallest lag = rate / 1047 (10 at 11025 Hz)
constexpr int kDipThresholdDivisor = 4;
constexpr float kLn2 = 0.6931472f;  // single precision, bits 0x3F317218
constexpr int kHoldStep = 10;       // steps below one semitone are flattened
constexpr int kJumpLimit = 50;      // five semitones

bool Accepts(int count, int sampleRate, int frameLength, int hop) {
    return count > 0 && sampleRate > 0 && sampleRate != kTrackerRate && hop > 0 &&
           frameLength >= 1 && frameLength <= kMaxAmdfLength &&
           ResampledLength(count, sampleRate) <= kMaxResampledLength;
}

bool Voiced(int32_t v) { return v != 0; }

// |a − b| and (a + b) / 2 without overflow for any pair of values a caller may hand in.
int64_t Distance(int32_t a, int32_t b) { return std::abs(int64_t{a} - b); }
int32_t Mean(int32_t a, int32_t b) { return static_cast<int32_t>((int64_t{a} + b) / 2); }

}  // namespace

void HoldSmallSteps(int32_t* values, int frames) {
    for (int i = 0; i + 1 < frames; ++i)
        if (Distance(values[i + 1], values[i]) < kHoldStep) values[i + 1] = values[i];
}

void RepairContour(int32_t* values, int frames) {
    for (int i = 1; i + 1 < frames; ++i) {
        const int32_t prev = values[i - 1], cur = values[i], next = values[i + 1];
        if (Voiced(prev) && Voiced(cur) && Voiced(next)) {
            if (Distance(cur, prev) > kJumpLimit && Distance(cur, next) > kJumpLimit)
                values[i] = Mean(prev, next);
        } else if (!Voiced(cur) && Voiced(prev) && Voiced(next)) {
            values[i] = Mean(prev, next);  // a one-frame gap
        } else if (Voiced(cur) && !Voiced(next) &&
                   (!Voiced(prev) || Distance(prev, cur) > kJumpLimit)) {
            values[i] = 0;  // a lone voiced frame, or the last of a run that jumps away
        }
    }
}

void ClearEndFrames(int32_t* values, int frames) {
    if (frames < 2) return;
    if (Distance(values[0], values[1]) > kJumpLimit) values[0] = 0;
    if (values[frames - 1] != values[frames - 2]) values[frames - 1] = 0;
}

int64_t ResampledLength(int count, int sampleRate) {
    if (count < 1 || sampleRate < 1) return 0;
    const int64_t q = (count - 1) / sampleRate;
    const int64_t r = (count - 1) % sampleRate;
    return q * kTrackerRate + (r * kTrackerRate) / sampleRate;
}

void Resample(const int16_t* samples, int count, int sampleRate, int16_t* resampled) {
    const int64_t m = ResampledLength(count, sampleRate);
    // Output i sits at i × rate / R input samples: j is its whole part and rem × 10 / R its
    // tenths, with rem = i × rate − j × R, both stepped along instead of divided out each time.
    // The tenths equal trunc(i × 10 × rate / R − 10 × j) taken in double precision: that
    // quotient's rounding error is far below the 1/R that separates it from a whole number.
    int64_t i = 0, j = 0, rem = 0;
    auto interpolate = [&](int next) {
        const int frac = static_cast<int>(rem * kInterpolationSteps / kTrackerRate);
        resampled[i] = static_cast<int16_t>(
            (samples[j] * (kInterpolationSteps - frac) + next * frac) / kInterpolationSteps);
    };
    if (sampleRate < kTrackerRate) {
        // Downward from 11025 Hz j grows by at most one a step: no division, no branch. While
        // j + 1 is inside the block the loop needs no check; only the last outputs do.
        for (; i < m && j + 1 < count; ++i) {
            interpolate(samples[j + 1]);
            rem += sampleRate;
            const bool carry = rem >= kTrackerRate;
            j += carry;
            rem -= carry ? kTrackerRate : 0;
        }
    }
    // With a weight of 0 the next sample does not count; at the block's end it is not read.
    for (; i < m; ++i) {
        interpolate(j + 1 < count ? samples[j + 1] : samples[j]);
        rem += sampleRate;
        j += rem / kTrackerRate;
        rem %= kTrackerRate;
    }
}

float HzToNote(float f) {
    if (f <= 0.0f) return 0.0f;
    return static_cast<float>(69.0 + 12.0 * std::log(f / 440.0) / kLn2);
}

void ClearOutOfRange(float* notes, int frames, float low, float high) {
    for (int k = 0; k < frames; ++k)
        if (notes[k] != 0.0f && (notes[k] < low || notes[k] > high)) notes[k] = 0.0f;
}

double AmdfPitch(const int16_t* frame, int frameLength, int rate) {
    const int minLag = rate / kHighestPitchDivisor;
    const int firstLag = minLag - 1 > 0 ? minLag - 1 : 0;
    if (frameLength < 1 || frameLength > kMaxAmdfLength || minLag < 1 || firstLag >= frameLength)
        return 0.0;

    ScratchArray<int32_t, 1024> d(frameLength);
    AmdfTable(frame, frameLength, firstLag, d.data());
    int32_t largest = -1;
    for (int k = firstLag; k < frameLength; ++k)
        if (d[k] > largest) largest = d[k];
    const int32_t threshold = largest / kDipThresholdDivisor;

    int dips[2];
    int found = 0;
    for (int k = minLag; k <= frameLength - 2 && found < 2; ++k)
        if (d[k - 1] >= d[k] && d[k] < d[k + 1] && d[k] <= threshold) dips[found++] = k;

    if (found == 0) return 0.0;
    if (found == 2) {
        const int r = ((dips[1] - dips[0]) * 10) / dips[0] - 10;
        if (std::abs(r) > 1) return 0.0;  // the second dip is not near twice the first
    }
    return static_cast<double>(rate) / dips[0];
}

int FramePitches(const int16_t* resampled, int m, int rate, int frameLength, int hop,
                 float* notes) {
    if (hop <= 0) return 0;
    const int frames = (m - frameLength) / hop;
    if (frames <= 0) return 0;
    for (int k = 0; k < frames; ++k) {
        const float f =
            static_cast<float>(AmdfPitch(resampled + std::ptrdiff_t{k} * hop, frameLength, rate));
        notes[k] = HzToNote(f);
    }
    return frames;
}

int PitchFrameCount(int count, int sampleRate, int frameLength, int hop) {
    if (!Accepts(count, sampleRate, frameLength, hop)) return 0;
    const int64_t frames = (ResampledLength(count, sampleRate) - frameLength) / hop;
    return frames > 0 ? static_cast<int>(frames) : 0;
}

int TrackPitch(const int16_t* samples, int count, int sampleRate, int frameLength, int hop,
               int32_t* out) {
    if (!samples || !out || !Accepts(count, sampleRate, frameLength, hop)) return 0;

    const int m = static_cast<int>(ResampledLength(count, sampleRate));
    ScratchArray<int16_t, 4096> resampled(m);
    Resample(samples, count, sampleRate, resampled.data());

    ScratchArray<float, 64> notes(m / hop + 1);
    const int frames =
        FramePitches(resampled.data(), m, kTrackerRate, frameLength, hop, notes.data());
    ClearOutOfRange(notes.data(), frames, kLowestNote, kHighestNote);
    for (int k = 0; k < frames; ++k)
        out[k] = static_cast<int32_t>(std::trunc(static_cast<double>(notes[k]) * 10.0));

    HoldSmallSteps(out, frames);
    RepairContour(out, frames);
    ClearEndFrames(out, frames);
    return frames;
}

}  // namespace engine
