// A precise pitch tracker for the stricter judging levels: the same frames and the same kind of
// values as TrackPitch (tenths of a semitone on the MIDI note scale, 400..840, 0 for no pitch),
// found from the cumulative mean normalised difference function of the samples at their own rate
// over a 40 ms window, with a parabola through its dip. It holds no state between blocks, does not
// flatten glides or vibrato, and calls a frame unvoiced when the 20 ms around its centre are quiet
// (below −50 dBFS) or its sound is not periodic. Within a block, a frame an octave or two below
// its neighbours takes their period when its own difference dips there nearly as low. Its
// difference functions are exact integer sums.
#pragma once

#include <cstdint>

namespace engine {

// The highest note the precise tracker hears: C6, the top of a soprano's range (the classic
// tracker stops at kHighestNote).
inline constexpr float kPreciseHighestNote = 84.0f;

// Tracks the pitch of samples[0..count) taken at sampleRate Hz. Writes PitchFrameCount(count,
// sampleRate, frameLength, hop) values, one per frame of TrackPitch's frame grid (frameLength
// samples advanced by hop at 11025 Hz), each analysed over a window centred on its frame where the
// block allows (moved inside it at its ends), and returns that count. Returns 0 and writes nothing
// for the arguments TrackPitch refuses, and for a sampleRate outside 4000..48000. samples and out
// must not overlap.
int TrackPitchPrecise(const int16_t* samples, int count, int sampleRate, int frameLength, int hop,
                      int32_t* out);

// The pitch of one window: the frequency in Hz of x[0..length) at rate Hz between the lowest and
// the highest note the trackers hear, or 0 when its middle 20 ms are quiet or it has no clear
// period. length must cover the longest period and an integration window: rate / 80 + rate / 25
// samples give it the whole 40 ms, fewer a shorter one.
double PrecisePitch(const int16_t* x, int length, int rate);

}  // namespace engine
