// The reference melody of a line as sound, for the singer to hear what the line asks: a soft
// voice-like tone (a fundamental with two weaker overtones) at each note's pitch in the role's
// octave, silent on the rests, each note faded in and out over 10 ms.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/linereview.h"

namespace engine {

// Mono samples at rate Hz, as long as the line. roleOffset: the singer offset the song was sung
// with (120 or 80), so the tone lies where the singer sings.
std::vector<int16_t> ReferenceMelody(const LineReview& review, int roleOffset, int rate);

// The frequency of a reference value in the role's octave: MIDI (value − roleOffset) / 10.
double ReferenceHz(int32_t value, int roleOffset);

}  // namespace engine
