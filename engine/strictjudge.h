// The levels Standard and Strict: judging for singers who want to learn.
// - The precise tracker; each buffer is judged by the median of its voiced frames.
// - The singer's key (a whole number of semitones, within an octave) and a steady delay (up to
//   0.45 s either way) are learnt over the song: every voiced frame votes for the key and delay
//   under which it would be on the reference; the most voted pair is used. A song sung in
//   another key, an octave away or a little behind the music is judged as if sung as written.
// - A buffer is a hit when, after the key, folded into the reference's octave, it lies below the
//   hit limit of a reference value within 60 ms of the music's moment, a near miss up to the near
//   limit; a buffer the reference asks a voice for and that is silent counts as a miss.
// - The sung sequence holds what was sung (after the key, in the reference's octave).
// - A line's score: half from the share of the buffers the reference asked a voice for that were
//   hits (a near miss counts half), half from how much of the melody's movement the sung
//   sequence follows (vibrato smoothed out): 1 − its alignment cost / that of one held note (at
//   least 0.35 semitone per value, so a line whose melody hardly moves is not held against a
//   singer who follows it), full from one limit, nothing below another; the last line is judged
//   like every other.
#pragma once

#include <array>
#include <cstdint>

#include "engine/judge.h"

namespace engine {

struct StrictLimits {
    JudgingLevel level = JudgingLevel::Standard;
    int nHitBelow = 10;  // tenths of a semitone: a hit lies below this
    int nNearUpTo = 20;  // a near miss up to this
    // How much of the melody's movement the singing follows (1 − its alignment cost / that of
    // one held note) for a full alignment score, and for none.
    double fFollowsFull = 0.6;
    double fFollowsNone = 0.1;
};

inline constexpr StrictLimits kStandardLimits{JudgingLevel::Standard, 10, 20, 0.6, 0.1};
inline constexpr StrictLimits kStrictLimits{JudgingLevel::Strict, 5, 10, 0.7, 0.2};

class CStrictJudge : public CJudge {
public:
    explicit CStrictJudge(const StrictLimits& limits);
    JudgingLevel Level() const override { return m_limits.level; }
    int TrackLine(const int16_t* samples, int count, int32_t* pitch) const override;
    void BeginSong() override;
    BufferVerdict Compare(const BufferInput& in, LineTally& tally) override;
    LineJudgement ScoreLine(const int32_t* record, LineTally& tally, bool lastLine,
                            std::vector<int32_t>& scratch) override;
    std::unique_ptr<CJudge> Clone() const override;

    static constexpr int kMaxDelay = 30;    // reference values (15 ms each) of delay learnt
    static constexpr int kTolerance = 4;    // reference values either side a hit may match
    int Delay() const { return m_nDelay; }  // the delay in use, reference values (late > 0)

private:
    // The votes for a delay (−kMaxDelay..kMaxDelay) and a key (semitones, any, modulo 12).
    float& Votes(int delay, int key);
    void Vote(const BufferInput& in);
    void SmoothVibrato(int32_t* values, int count);
    void Decide();
    int32_t LineMean(const int32_t* ref, int count);

    StrictLimits m_limits;
    // Votes of the song's voiced frames, by delay (−kMaxDelay..kMaxDelay) and key (semitones
    // above the reference, modulo 12).
    std::array<std::array<float, 12>, 2 * kMaxDelay + 1> m_votes{};
    int m_nDelay = 0;
    int m_nKey = 0;                         // semitones, −5..6
    static constexpr int kVibratoHalf = 7;  // frames: half a cycle of a 5.5 Hz vibrato
    std::vector<int32_t> m_smooth;          // the sung sequence before it is smoothed
    std::vector<int32_t> m_flat;            // the sung sequence as one held note, for the alignment
    const int32_t* m_pMeanOf = nullptr;     // the record whose mean m_nMean is
    int32_t m_nMean = 0;
};

}  // namespace engine
