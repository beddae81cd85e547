// The reference data of an UltraStar song: each phrase of a part becomes one reference line of
// pitch values every 15 ms, as a native song folder has them, so the engine scores an UltraStar
// song by the same rules as a native one, and a song gives the same scores on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ultrastarfile.h"

namespace engine {

inline constexpr double kUltraStarValueSeconds = 0.015;  // time between two reference values

struct UltraStarLyric {
    int nIndex = 0;       // value index in its line where its note starts
    std::string strText;  // the note's syllable, exactly as in the file
    UltraStarNoteType type = UltraStarNoteType::Normal;
};

struct UltraStarLine {
    double dStart = 0;  // seconds from the start of the audio file: the first note's start
    double dEnd = 0;    // seconds: the last note's end
    // M ≥ 2 values; value i is for dStart + 0.015 × i: 10 × m + 120 where a normal or golden
    // note of MIDI number m (after the part's octave shift) sounds, 0 elsewhere.
    std::vector<int32_t> values;
    std::vector<UltraStarLyric> lyrics;  // one per note, in order
    int64_t nFirstBeat = 0;              // start beat of the first note
    int64_t nLastBeatEnd = 0;            // end beat (start + length) of the last note
};

// The reference lines of file.parts[part], one per phrase; empty when there is no such part.
// Every note moves by the same whole number of octaves (UltraStarOctaveShift), and a MIDI number
// that the shift takes outside 0…127 is held at the nearest end. Cost: O(notes + values).
std::vector<UltraStarLine> UltraStarReference(const UltraStarFile& file, std::size_t part);

// The octave shift k applied to file.parts[part]: the lower median med of the MIDI numbers
// (60 + pitch) of its normal and golden notes satisfies 48 ≤ med + 12k ≤ 59. 0 when the part
// has no such note.
int UltraStarOctaveShift(const UltraStarFile& file, std::size_t part);

}  // namespace engine
