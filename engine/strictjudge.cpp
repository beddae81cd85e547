#include "engine/strictjudge.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/alignment.h"
#include "engine/pitchcompare.h"
#include "engine/pitchtracker.h"
#include "engine/precisepitchtracker.h"
#include "engine/scratcharray.h"

namespace engine {
namespace {

constexpr int kOctave = 120;           // tenths of a semitone
constexpr int kMinVoiced = 3;          // voiced frames that make a buffer sung
constexpr float kPrior = 4.0f;         // votes the song starts with for no key and no delay
constexpr double kFlatFloor = 0.35;    // semitones
constexpr float kSwitchRatio = 1.2f;   // a better key and delay must have this many times the votes
constexpr float kSwitchMargin = 8.0f;  // and this many more

// x folded into [−60, 60): the same pitch class, in the octave nearest 0.
int32_t FoldOctave(int64_t x) {
    const int64_t r = ((x + kOctave / 2) % kOctave + kOctave) % kOctave;
    return static_cast<int32_t>(r - kOctave / 2);
}

// Reference values from a buffer's centre to frame k's centre (frames of 256, hop 128 at 11025 Hz;
// the buffer is 0.12 s long).
int FrameShift(int k) {
    const double centre = (128.0 * k + 128.0) / kTrackerRate;
    return static_cast<int>(std::lround((centre - 0.06) / 0.015));
}

}  // namespace

CStrictJudge::CStrictJudge(const StrictLimits& limits) : m_limits(limits) { BeginSong(); }

int CStrictJudge::TrackLine(const int16_t* samples, int count, int32_t* pitch) const {
    return TrackPitchPrecise(samples, count, 8000, 256, 128, pitch);
}

void CStrictJudge::SmoothVibrato(int32_t* values, int count) {
    // Each voiced value becomes the mean of the voiced values of its run within half a vibrato
    // cycle either side (±kVibratoHalf frames of 11.6 ms): the note's centre, not its wobble.
    m_smooth.assign(values, values + count);
    for (int i = 0; i < count; ++i) {
        if (m_smooth[static_cast<std::size_t>(i)] == 0) continue;
        int64_t sum = 0;
        int n = 0;
        for (int j = i;
             j >= 0 && j >= i - kVibratoHalf && m_smooth[static_cast<std::size_t>(j)] != 0;
             --j, ++n)
            sum += m_smooth[static_cast<std::size_t>(j)];
        for (int j = i + 1;
             j < count && j <= i + kVibratoHalf && m_smooth[static_cast<std::size_t>(j)] != 0;
             ++j, ++n)
            sum += m_smooth[static_cast<std::size_t>(j)];
        values[i] = static_cast<int32_t>(sum / n);
    }
}

std::unique_ptr<CJudge> CStrictJudge::Clone() const {
    auto copy = std::make_unique<CStrictJudge>(*this);
    copy->m_pMeanOf = nullptr;  // the copy may judge another copy of the song
    return copy;
}

void CStrictJudge::BeginSong() {
    for (auto& row : m_votes) row.fill(0.0f);
    Votes(0, 0) = kPrior;
    m_nDelay = 0;
    m_nKey = 0;
}

float& CStrictJudge::Votes(int delay, int key) {
    const int row = delay + kMaxDelay, column = (key % 12 + 12) % 12;
    return m_votes[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void CStrictJudge::Vote(const BufferInput& in) {
    for (int k = 0; k < in.frames; ++k) {
        if (in.pitch[k] == 0) continue;
        const int at = in.refIndex + FrameShift(k);
        for (int delay = -kMaxDelay; delay <= kMaxDelay; ++delay) {
            const int j = at - delay;
            if (j < 0 || j >= in.count || in.ref[j] == 0) continue;
            const int64_t semitones = FloorDiv(int64_t{in.pitch[k]} - in.ref[j] + 5, 10);
            Votes(delay, static_cast<int>(semitones % 12)) += 1.0f;
        }
    }
}

void CStrictJudge::Decide() {
    // The most voted pair; among equals, the smaller delay and key (0, 1, −1, 2, −2, …). The pair
    // in use gives way only to a clearly better one, so the key does not wander with each note.
    auto nth = [](int n) { return n % 2 == 1 ? (n + 1) / 2 : -(n / 2); };
    float best = -1.0f;
    int bestDelay = 0, bestKey = 0;
    for (int d = 0; d <= 2 * kMaxDelay; ++d) {
        for (int c = 0; c < 12; ++c) {
            const float v = Votes(nth(d), nth(c));
            if (v > best) {
                best = v;
                bestDelay = nth(d);
                bestKey = nth(c);  // −5..6
            }
        }
    }
    if (best > Votes(m_nDelay, m_nKey) * kSwitchRatio + kSwitchMargin) {
        m_nDelay = bestDelay;
        m_nKey = bestKey;
    }
}

int32_t CStrictJudge::LineMean(const int32_t* ref, int count) {
    if (ref != m_pMeanOf) {
        m_pMeanOf = ref;
        m_nMean = MeanVoicedPitch(ref, count);
    }
    return m_nMean;
}

BufferVerdict CStrictJudge::Compare(const BufferInput& in, LineTally& tally) {
    BufferVerdict verdict;
    verdict.y = in.height / 2;
    verdict.bFar = true;
    // Far outside the line (no delay or slack reaches it): a neutral point, nothing gathered.
    constexpr int kReach = kMaxDelay + kTolerance + 8;
    if (in.refIndex < -kReach || in.refIndex > in.count + kReach) return verdict;

    int voiced = 0;
    int32_t sorted[64];
    const int frames = std::min(in.frames, 64);
    for (int k = 0; k < frames; ++k)
        if (in.pitch[k] != 0) sorted[voiced++] = in.pitch[k];

    const int centre = in.refIndex - m_nDelay;
    const bool asked = centre >= 0 && centre < in.count && in.ref[centre] != 0;
    if (voiced < kMinVoiced) {
        // Silence where the music asks for a voice is a miss.
        if (asked) {
            ++tally.nExpected;
            verdict.y = DisplayY(in.ref[centre], in.height);
        }
        tally.bPrevVoiced = false;
        return verdict;
    }

    Vote(in);
    Decide();
    tally.nKeyOffset = 10 * m_nKey;
    std::nth_element(sorted, sorted + voiced / 2, sorted + voiced);
    const int64_t sung = int64_t{sorted[voiced / 2]} - tally.nKeyOffset;

    // The reference value near the music's moment that the buffer comes closest to.
    int match = -1;
    int32_t distance = 0;
    for (int j = std::max(centre - kTolerance, 0); j <= centre + kTolerance && j < in.count; ++j) {
        if (in.ref[j] == 0) continue;
        const int32_t d = FoldOctave(sung - in.ref[j]);
        if (match < 0 || std::abs(d) < std::abs(distance)) {
            match = j;
            distance = d;
        }
    }
    const int32_t home = match >= 0 ? in.ref[match] : LineMean(in.ref, in.count);
    if (match >= 0) {
        ++tally.nExpected;
        const int32_t off = std::abs(distance);
        if (off < m_limits.nHitBelow) {
            ++tally.nHits;
            verdict.bHit = true;
            verdict.bFar = false;
        } else if (off <= m_limits.nNearUpTo) {
            ++tally.nNears;
            verdict.bNear = true;
            verdict.bFar = false;
        }
    }
    verdict.y = DisplayY(home + FoldOctave(sung - home), in.height);

    // What was sung, after the key, in the octave of the reference it is compared with.
    for (int k = 0; k < in.frames; ++k) {
        const int64_t value = int64_t{in.pitch[k]} - tally.nKeyOffset;
        tally.Append(in.pitch[k] == 0 ? 0 : home + FoldOctave(value - home), 1);
    }
    tally.bPrevVoiced = true;
    verdict.bMoveLineBar = true;
    return verdict;
}

LineJudgement CStrictJudge::ScoreLine(const int32_t* record, LineTally& tally, bool /*lastLine*/,
                                      std::vector<int32_t>& scratch) {
    LineJudgement judgement;
    if (tally.nSung == 0) return judgement;
    const int count = std::max(record[0], 0);
    // The cleaning looks at the first M positions: nothing of an earlier line may lie there.
    std::fill(tally.sung.begin() + tally.nSung,
              tally.sung.begin() + std::max(tally.nSung, std::min(count, kSungCapacity)), 0);
    SmoothVibrato(tally.sung.data(), tally.nSung);
    const int cut = CleanSungSequence(record, tally.sung.data());
    const int q = tally.nSung - cut;
    judgement.nCut = cut;
    if (q < 1) return judgement;

    // How much of the melody's movement the singing follows: its alignment cost against that
    // of one note held wherever it sang (which follows none of it), both from copies.
    std::vector<int32_t>& flat = m_flat;
    flat.assign(tally.sung.begin() + cut, tally.sung.begin() + cut + q);
    for (int32_t& value : flat)
        if (value != 0) value = 1;
    scratch.assign(record + 1, record + 1 + count);
    const float flatCost = AlignPitch(flat.data(), q, scratch.data(), count, kAlignFailed);
    scratch.assign(record + 1, record + 1 + count);
    const float cost = AlignPitch(tally.sung.data() + cut, q, scratch.data(), count, kAlignFailed);
    judgement.bAligned = true;
    judgement.fCost = cost;
    if (cost < kAlignFailed && flatCost < kAlignFailed && flatCost > 0.0f) {
        // A line whose melody hardly moves is not held against a singer who follows it closely:
        // the held note's cost counts as at least kFlatFloor semitones per sung value.
        const double follows = 1.0 - cost / std::max<double>(flatCost, kFlatFloor * 10.0 * q);
        const double share =
            (follows - m_limits.fFollowsNone) / (m_limits.fFollowsFull - m_limits.fFollowsNone);
        judgement.fAlign = static_cast<float>(std::trunc(100.0 * std::clamp(share, 0.0, 1.0)));
    }
    const double hits = tally.nHits + 0.5 * tally.nNears;
    const double onPitch = tally.nExpected > 0 ? std::min(1.0, hits / tally.nExpected) : 0.0;
    judgement.fScore = static_cast<float>(std::min(100.0, 50.0 * onPitch + 0.5 * judgement.fAlign));
    return judgement;
}

}  // namespace engine
