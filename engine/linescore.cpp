#include "engine/linescore.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/alignment.h"

namespace engine {

LineJudgement JudgeLine(const int32_t* record, int32_t* sung, int sungCount, int hits, int nears,
                        std::vector<int32_t>& scratch) {
    LineJudgement judgement;
    if (sungCount == 0) return judgement;
    const int count = record[0];
    const int cut = CleanSungSequence(record, sung);
    const int q = sungCount - cut;
    judgement.nCut = cut;
    if (q >= 1) {
        scratch.assign(record + 1, record + 1 + std::max(count, 0));
        const float cost = AlignPitch(sung + cut, q, scratch.data(), count, kAlignFailed);
        judgement.fAlign = MapAlignCost(cost, q);
        judgement.fScore = LineScore(hits, nears, q, judgement.fAlign);
        judgement.bAligned = true;
        judgement.fCost = cost;
    }
    return judgement;
}

int CleanSungSequence(const int32_t* record, int32_t* c, int capacity) {
    const int count = std::min(record[0], capacity);
    if (count <= 0) return 0;

    for (int i = 0; i + 1 < count; ++i) {
        if (std::llabs(int64_t{c[i + 1]} - c[i]) < 10) {
            const auto mean = static_cast<int32_t>((int64_t{c[i]} + c[i + 1]) / 2);
            c[i] = c[i + 1] = mean;
        }
    }
    if (count <= 20) return 0;

    // A voiced blip at the very start: cleared up to the last silence among the first 10 values.
    int cut = 0;
    if (c[0] != 0) {
        for (int z = 9; z > 0; --z) {
            if (c[z] == 0) {
                cut = z;
                break;
            }
        }
        std::fill(c, c + cut, 0);
    }

    // Voiced islands of one to four values between silences.
    auto voiced = [&](int from, int to) {  // c[from..to] all voiced
        for (int k = from; k <= to; ++k)
            if (c[k] == 0) return false;
        return true;
    };
    for (int i = 0; i + 5 < count; ++i) {
        if (c[i] != 0) continue;
        if (voiced(i + 1, i + 2) && c[i + 3] == 0)
            std::fill(c + i + 1, c + i + 3, 0);
        else if (voiced(i + 1, i + 1) && c[i + 2] == 0)
            c[i + 1] = 0;
        else if (voiced(i + 1, i + 4) && c[i + 5] == 0)
            std::fill(c + i + 1, c + i + 5, 0);
        else if (voiced(i + 1, i + 3) && c[i + 4] == 0)
            std::fill(c + i + 1, c + i + 4, 0);
    }
    return cut;
}

float MapAlignCost(float cost, int q) {
    if (cost >= kAlignFailed || q < 1) return 0.0f;
    const double e = cost / 10.0 / q;  // average cost per sung value, in semitones
    double score;
    if (e < 0.2)
        score = 100.0;
    else if (e < 0.5)
        score = std::trunc((-0.67 * e + 1.14) * 100);
    else if (e < 1.0)
        score = std::trunc((-0.2 * e + 0.9) * 100);
    else if (e < 2.0)
        score = std::trunc((-0.1 * e + 0.8) * 100);
    else if (e < 3.0)
        score = std::trunc((-0.3 * e + 1.2) * 100);
    else
        score = 10.0;
    return static_cast<float>(score);
}

float LineScore(int hits, int nears, int q, float alignScore) {
    if (q < 1) return 0.0f;
    const int h = nears / 2 + hits;
    const double hitTerm = h * 8.0 / q * 100.0 * 0.5;
    const double score = hitTerm + alignScore * 0.5;
    return score > 100.0 ? 100.0f : static_cast<float>(score);
}

const char* GradeWord(float score) {
    if (score >= 85.0f) return "Perfect";
    if (score >= 70.0f) return "Great";
    if (score >= 60.0f) return "Good";
    if (score >= 20.0f) return "Poor";
    return "Miss";
}

}  // namespace engine
