// Pitch tracking of one block of 16-bit mono samples: the block is resampled to 11025 Hz, cut into
// frames, each frame's frequency found from its average magnitude difference function, converted
// to tenths of a semitone on the MIDI note scale (690 = 440 Hz, 0 = no pitch) and smoothed.
// Every routine is a pure function over caller-owned arrays; scratch memory lives inside a call.
#pragma once

#include <cstdint>

namespace engine {

inline constexpr int kTrackerRate = 11025;    // Hz, the rate frames are analysed at
inline constexpr float kLowestNote = 40.0f;   // notes below become 0
inline constexpr float kHighestNote = 80.0f;  // notes above become 0
inline constexpr int64_t kMaxResampledLength = int64_t{1} << 26;  // longest block TrackPitch takes

// Number of values TrackPitch(samples, count, sampleRate, frameLength, hop, out) writes: the
// capacity out must have. 8 for 960 samples at 8000 Hz with frames of 256 and hop 128, 18 for 1920.
// 0 for arguments TrackPitch refuses.
int PitchFrameCount(int count, int sampleRate, int frameLength, int hop);

// Tracks the pitch of samples[0..count) taken at sampleRate Hz. Writes one value per frame of
// frameLength samples advanced by hop samples at 11025 Hz, in tenths of a semitone (400..800) or 0,
// and returns the number written (PitchFrameCount). Returns 0 and writes nothing when sampleRate
// is 11025 or count is 0, and for arguments it cannot work with: sampleRate, count or hop not
// positive, frameLength outside 1..kMaxAmdfLength, or a resampled block longer than 2^26 samples.
// The system calls it with 8000, 256 and 128. samples and out must not overlap.
int TrackPitch(const int16_t* samples, int count, int sampleRate, int frameLength, int hop,
               int32_t* out);

// Length of a block of count samples at sampleRate Hz once resampled to 11025 Hz: the position of
// its last sample at the new rate, q × 11025 + (r × 11025) / sampleRate with q and r the quotient
// and remainder of (count − 1) / sampleRate. 1321 for 960 samples at 8000 Hz, 2644 for 1920.
// 0 when count or sampleRate is below 1.
int64_t ResampledLength(int count, int sampleRate);

// Resamples samples[0..count) taken at sampleRate Hz to ResampledLength values at 11025 Hz by
// linear interpolation with tenth-sample weights: output i lies at source index
// j = i × sampleRate / 11025 (whole part), weight frac = the tenths of the fraction, and is
// (samples[j] × (10 − frac) + samples[j + 1] × frac) / 10 in integer arithmetic. resampled must
// hold ResampledLength values and not overlap samples.
void Resample(const int16_t* samples, int count, int sampleRate, int16_t* resampled);

// Cuts the resampled block (m samples at rate Hz) into frames and stores one note number per frame
// in notes. Makes (m − frameLength) / hop frames (one fewer than would fit), 0 when that is not
// positive; notes must hold that many. Returns the frame count.
int FramePitches(const int16_t* resampled, int m, int rate, int frameLength, int hop, float* notes);

// The frequency in Hz of one frame of frameLength samples at rate Hz, 0 when the frame has no
// usable pitch (no dip in the difference function, or a second dip not near twice the first).
double AmdfPitch(const int16_t* frame, int frameLength, int rate);

// 69 + 12 × log2(f / 440) as a single-precision note number; 0 for f ≤ 0.
float HzToNote(float f);

// Sets every non-zero note below low or above high to 0.
void ClearOutOfRange(float* notes, int frames, float low, float high);

// The smoothing passes TrackPitch runs, in this order, over its contour of pitch values (in place).
// Hold: going forward, a value within one semitone (10) of the one before takes that value, so a
// slow glide is flattened to its first value.
void HoldSmallSteps(int32_t* values, int frames);
// Repair: going forward, in place, each inner frame against its (already repaired) predecessor and
// its successor: a frame jumping more than five semitones from both voiced neighbours becomes their
// mean; a lone voiced frame becomes 0; a one-frame gap is filled with the neighbours' mean; the
// last frame of a voiced run becomes 0 when it jumps more than five semitones from the one before.
void RepairContour(int32_t* values, int frames);
// End frames: the first frame becomes 0 when it jumps more than five semitones from the second; the
// last becomes 0 unless it equals the one before. Contours of fewer than two frames are left alone.
void ClearEndFrames(int32_t* values, int frames);

}  // namespace engine
