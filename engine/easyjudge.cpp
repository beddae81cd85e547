#include "engine/easyjudge.h"

#include <cstdlib>

#include "engine/pitchcompare.h"
#include "engine/pitchtracker.h"

namespace engine {

int CEasyJudge::TrackLine(const int16_t* samples, int count, int32_t* pitch) const {
    return TrackPitch(samples, count, 8000, 256, 128, pitch);
}

BufferVerdict CEasyJudge::Compare(const BufferInput& in, LineTally& tally) {
    const int32_t* ref = in.ref;
    const int count = in.count;
    const int32_t* pitch = in.pitch;
    const int frames = in.frames;
    const int p = in.refIndex;
    BufferVerdict verdict;
    verdict.y = in.height / 2;

    if (p <= 0 || p >= count || in.voiced == 0) {
        verdict.bFar = true;  // outside the record, or nothing sung yet in this line: neutral
    } else if (in.voiced == 1) {
        tally.nFirstVoiced = FirstVoicedFrame(pitch, frames);
        const int32_t d = MeanVoicedPitch(pitch, frames);
        if (d != 0 && ref[p] != 0) tally.nKeyOffset = EstimateKeyOffset(d, p, ref, frames);
        const int64_t diff = std::llabs(int64_t{d} - ref[p]);
        if (diff < 25) {
            tally.Append(ref[p], frames - tally.nFirstVoiced);
            ++tally.nHits;
            verdict.bMoveLineBar = true;
            verdict.y = DisplayY(ref[p], in.height);
            verdict.bHit = true;
        } else {
            tally.Append(d, frames - tally.nFirstVoiced);
            if (diff <= 50) {
                ++tally.nNears;
                verdict.bNear = true;
            } else {
                verdict.bFar = true;
            }
            verdict.y = DisplayY(d, in.height);
        }
    } else if (const int32_t d = MeanVoicedPitch(pitch, frames); d != 0) {
        tally.bPrevVoiced = true;
        if (ref[p] != 0 && p > count / 12 && tally.nKeyEstimates <= 3) {
            if (tally.nKeyEstimates < 3) {
                tally.aKeyEstimates[tally.nKeyEstimates++] = EstimateKeyOffset(d, p, ref, frames);
            } else if (std::abs(tally.aKeyEstimates[1]) < 100 &&
                       std::abs(tally.aKeyEstimates[2]) < 100) {
                tally.nKeyOffset = (tally.aKeyEstimates[1] + tally.aKeyEstimates[2]) / 2;
            }
        }
        verdict.y = DisplayY(d - tally.nKeyOffset, in.height);
        if (ref[p] == 0) {
            tally.Append(pitch, frames);  // the reference rests but the singer sings
            ++tally.nHits;
            verdict.bHit = true;
        } else {
            const int64_t diff = std::llabs(int64_t{ref[p]} + tally.nKeyOffset - d);
            if (diff < 25) {
                tally.Append(ref[p], frames);
                ++tally.nHits;
                verdict.bHit = true;
            } else {
                tally.Append(pitch, frames);
                if (diff <= 50) {
                    ++tally.nNears;
                    verdict.bNear = true;
                } else {
                    verdict.bFar = true;
                }
            }
        }
        verdict.bMoveLineBar = true;
    } else {
        // A silent buffer: right after singing it is shown at the reference height.
        if (tally.bPrevVoiced) {
            if (ref[p] != 0) {
                verdict.y = DisplayY(ref[p], in.height);
                verdict.bHit = true;
            } else if (p + 2 < count && ref[p + 2] != 0) {
                verdict.y = DisplayY(ref[p + 2], in.height);
                verdict.bHit = true;
            } else {
                verdict.bFar = true;
            }
        } else {
            verdict.bFar = true;
        }
        tally.bPrevVoiced = false;
    }
    return verdict;
}

LineJudgement CEasyJudge::ScoreLine(const LineToScore& line, LineTally& tally,
                                    std::vector<int32_t>& scratch) {
    return JudgeLine(line.record, tally.sung.data(), tally.nSung, tally.nHits, tally.nNears,
                     scratch);
}

}  // namespace engine
