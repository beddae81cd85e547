// The level Easy, the default: the judging the program has always had. The AMDF pitch tracker
// (TrackPitch); a buffer is a hit within 2.5 semitones of the reference (after the line's key
// offset), a near miss within 5; the key offset comes from the line's first voiced buffer, then
// from its second and third estimates; a hit puts the reference's value into the sung sequence;
// every line, the last one too, aligns all it has sung.
#pragma once

#include "engine/judge.h"

namespace engine {

class CEasyJudge : public CJudge {
public:
    JudgingLevel Level() const override { return JudgingLevel::Easy; }
    int TrackLine(const int16_t* samples, int count, int32_t* pitch) const override;
    BufferVerdict Compare(const BufferInput& in, LineTally& tally) override;
    LineJudgement ScoreLine(const LineToScore& line, LineTally& tally,
                            std::vector<int32_t>& scratch) override;
    std::unique_ptr<CJudge> Clone() const override { return std::make_unique<CEasyJudge>(); }
};

}  // namespace engine
