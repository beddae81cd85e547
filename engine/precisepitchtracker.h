// A precise pitch tracker for the stricter judging levels: the same frames and the same kind of
// values as TrackPitch (tenths of a semitone on the MIDI note scale, 400..800, 0 for no pitch),
// found from the cumulative mean normalised difference function of the samples at their own rate,
// with a parabola through its dip. It holds no state between blocks, does not flatten glides or
// vibrato, and calls a frame unvoiced when its sound is quiet (below −50 dBFS) or not periodic.
#pragma once

#include <cstdint>

namespace engine {

// Tracks the pitch of samples[0..count) taken at sampleRate Hz. Writes PitchFrameCount(count,
// sampleRate, frameLength, hop) values, one per frame of TrackPitch's frame grid (frameLength
// samples advanced by hop at 11025 Hz), each analysed over a window centred on its frame, and
// returns that count. Returns 0 and writes nothing for the arguments TrackPitch refuses, and for
// a sampleRate outside 4000..48000. samples and out must not overlap.
int TrackPitchPrecise(const int16_t* samples, int count, int sampleRate, int frameLength, int hop,
                      int32_t* out);

// The pitch of one window: the frequency in Hz of x[0..length) at rate Hz between the lowest and
// the highest note the trackers hear, or 0 when it is quiet or has no clear period. length must
// cover the longest period and an integration window (rate / 80 + rate / 50 samples suffice).
double PrecisePitch(const int16_t* x, int length, int rate);

}  // namespace engine
