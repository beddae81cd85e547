// Turning what was gathered during a lyric line into its score from 0 to 100 and a grade word.
#pragma once

#include <cstdint>
#include <vector>

namespace engine {

inline constexpr int kSungCapacity = 2000;  // values the sung sequence of a line holds (30 s)

// Cleans the sung sequence in place over its first M positions, M being element 0 of the line's
// reference record (at most `capacity`): pairs of neighbours within one semitone become their
// mean, going forward; then, for lines of more than 20 values, a voiced blip at the very start
// (up to the last silence among the first 10 values) is cleared, and voiced islands of one to four
// values between silences are removed. Returns the number of leading positions cleared.
int CleanSungSequence(const int32_t* record, int32_t* sung, int capacity = kSungCapacity);

// The alignment score of a line of q sung values whose alignment cost is `cost`: a whole number
// from 100 (average cost below 0.2 semitone per value) down to 10 (3 semitones and more), and 0
// for a failed alignment or q below 1.
float MapAlignCost(float cost, int q);

// The score of a line: half from the buffers sung on pitch (a near miss counts half; each buffer
// stands for 8 of the q sung values), half from the alignment score, at most 100. 0 when q < 1.
float LineScore(int hits, int nears, int q, float alignScore);

// What the judging of a finished line found.
struct LineJudgement {
    int nCut = 0;           // leading values the cleaning cleared
    bool bAligned = false;  // whether the alignment ran
    float fCost = 0.0f;     // its cost, when it ran
    float fAlign = 0.0f;    // the alignment score (0 when it did not run)
    float fScore = 0.0f;    // the line score
};

// Judges a finished line from what was gathered: `record` is its reference record (M, then M
// values), sung[0..sungCount) its sung sequence (cleaned in place), hits and nears its marker
// counts. Nothing sung scores 0. The sung values left after the cleaning are aligned with the
// record; the alignment centres a copy of the record made in scratch, never the record itself.
LineJudgement JudgeLine(const int32_t* record, int32_t* sung, int sungCount, int hits, int nears,
                        std::vector<int32_t>& scratch);

// "Perfect" from 85, "Great" from 70, "Good" from 60, "Poor" from 20, else "Miss".
const char* GradeWord(float score);

}  // namespace engine
