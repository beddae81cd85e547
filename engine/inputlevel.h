// What the settings page shows of the microphone while nobody sings: how loud it is and which
// note it hears. Pure functions over one block of 16-bit mono samples.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

inline constexpr float kSilenceDbfs = -96.0f;     // the level of digital silence and of no samples
inline constexpr float kMeterFloorDbfs = -60.0f;  // the level the meter shows as empty

// The RMS level of samples[0..count) in dB relative to a full-scale square wave (32768),
// kSilenceDbfs for all-zero samples or count < 1; never below kSilenceDbfs.
float LevelDbfs(const int16_t* samples, int count);

// The meter's reading for a level: 0 at kMeterFloorDbfs and below, 100 at 0 dBFS, linear in dB
// between (truncated).
int MeterPercent(float dbfs);

// The name of the semitone nearest to a pitch in tenths of a semitone on the MIDI scale, with its
// octave in scientific pitch notation: "A4" for 690, "A3" for 570, "C4" for 600, "C#4" for 610;
// "" for 0 (no pitch) and for values below 0 or above 1279.
std::string NoteName(int32_t tenths);

// The pitch the tracker hears in a block at rate Hz (frames of 256, hop 128, as in a session), in
// tenths of a semitone: the median of its voiced frames, or 0 when fewer than half of its frames
// are voiced.
int32_t BlockPitch(const int16_t* samples, int count, int rate);

}  // namespace engine
