#include "engine/alignment.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace engine {
namespace {

int CountVoiced(const int32_t* values, int count) {
    int voiced = 0;
    for (int i = 0; i < count; ++i) voiced += values[i] != 0;
    return voiced;
}

}  // namespace

void CentrePitch(int32_t* values, int count) {
    float sum = 0.0f;
    int voiced = 0;
    for (int i = 0; i < count; ++i) {
        if (values[i] == 0) continue;
        sum += static_cast<float>(values[i]);
        ++voiced;
    }
    if (voiced == 0) return;
    ShiftVoiced(values, count, static_cast<int32_t>(std::trunc(-sum / static_cast<float>(voiced))));
}

void ShiftVoiced(int32_t* values, int count, int32_t delta) {
    for (int i = 0; i < count; ++i)
        if (values[i] != 0) values[i] += delta;
}

float AlignPitch(int32_t* a, int m, int32_t* b, int n, float bound) {
    if (m < 1 || n < 1) return kAlignFailed;
    const int voicedA = CountVoiced(a, m);
    const int voicedB = CountVoiced(b, n);
    if (voicedA <= voicedB / 2 || voicedB <= voicedA / 2) return kAlignFailed;
    const float r = static_cast<float>(voicedA) / static_cast<float>(voicedB);

    CentrePitch(a, m);
    CentrePitch(b, n);

    // Column j of the reference lives in cell j + 2; cells 0 and 1 are an unreachable margin.
    std::vector<float> rows[2] = {std::vector<float>(n + 2, kAlignFailed),
                                  std::vector<float>(n + 2, kAlignFailed)};
    float rowMinimum[2] = {kAlignFailed, kAlignFailed};
    auto cost = [&](int i, int j) { return static_cast<double>(std::llabs(int64_t{a[i]} - b[j])); };

    // The first sung value may match any reference value that leaves room for the rest.
    for (int j = n - 1 - m / 2; j >= 0; --j) {
        rows[0][j + 2] = static_cast<float>(cost(0, j));
        if (rows[0][j + 2] < rowMinimum[0]) rowMinimum[0] = rows[0][j + 2];
    }

    int lo = 1;  // row i covers columns from ceil(i / 2) on
    for (int i = 1; i < m; ++i) {
        float* row = rows[i % 2].data();  // still holds row i − 2 until overwritten
        const float* previous = rows[(i - 1) % 2].data();
        const int hi = n - 1 - (m - i) / 2;  // room for the rest at the steepest slope
        float minimum = kAlignFailed;
        for (int j = hi; j >= lo; --j) {
            float choice = previous[j + 1];                  // (i − 1, j − 1)
            if (row[j + 1] < choice) choice = row[j + 1];    // (i − 2, j − 1)
            if (previous[j] < choice) choice = previous[j];  // (i − 1, j − 2)
            const float next =
                choice < kAlignFailed ? static_cast<float>(choice + cost(i, j)) : kAlignFailed;
            row[j + 2] = next;
            if (next < minimum) minimum = next;
        }
        // Columns lo − 2 and lo − 1; past the row's end when the sung line is over twice as long.
        if (lo <= n + 1) row[lo] = kAlignFailed;
        if (lo + 1 <= n + 1) row[lo + 1] = kAlignFailed;
        if (i % 2 == 0) ++lo;

        rowMinimum[i % 2] = minimum;
        if (std::fmin(rowMinimum[0], rowMinimum[1]) > bound) return kAlignFailed;
    }

    // Open end: the sung line may finish anywhere in the last part of the reference.
    const float* last = rows[(m - 1) % 2].data();
    float best = kAlignFailed;
    for (int j = n - 1; j >= m / 2; --j)
        if (last[j + 2] < best) best = last[j + 2];

    const double final = best;
    if (r < 1.0f) return static_cast<float>(final * 0.8 + (final / r) * 0.2);
    return static_cast<float>(final * 0.8 + final * r * 0.2);
}

}  // namespace engine
