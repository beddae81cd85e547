// What the comparison gathers while a line is sung: the marker counts, the sung sequence and the
// singer's key. The judging level (CJudge) writes it buffer by buffer and scores the line from it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/linescore.h"

namespace engine {

struct LineTally {
    int nHits = 0;      // hit buffers of the line
    int nNears = 0;     // near-miss buffers of the line
    int nExpected = 0;  // buffers the reference asked for a voice (the stricter levels count them)
    std::vector<int32_t> sung = std::vector<int32_t>(kSungCapacity, 0);  // the sung sequence
    int nSung = 0;                                                       // values in sung
    int32_t nKeyOffset = 0;         // how far the singer sings above the reference
    int32_t aKeyEstimates[3] = {};  // key-offset estimates of the line
    int nKeyEstimates = 0;
    bool bPrevVoiced = false;  // the previous compared buffer had a voiced mean
    int nFirstVoiced = 0;      // first voiced frame of the line's first voiced buffer

    // Appends value `times` times, or values[0..count), up to the capacity.
    void Append(int32_t value, int times) {
        for (int i = 0; i < times && nSung < kSungCapacity; ++i)
            sung[static_cast<std::size_t>(nSung++)] = value;
    }
    void Append(const int32_t* values, int count) {
        for (int i = 0; i < count && nSung < kSungCapacity; ++i)
            sung[static_cast<std::size_t>(nSung++)] = values[i];
    }
};

}  // namespace engine
