#include "engine/precisepitchtracker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/pitchtracker.h"
#include "engine/scratcharray.h"

namespace engine {
namespace {

constexpr double kQuietRms = 32768.0 * 0.0031622777;  // −50 dBFS
// The period is the shortest lag whose dip in the normalised difference goes below kDipThreshold;
// when no dip does, the deepest dip, unless even that stays above kAperiodic (no clear period).
// Detuned voices singing together never match themselves closely, and their second harmonic often
// outweighs the fundamental: the dip at the half period of such a sound passes a higher threshold
// before the deeper one at its period is reached, and its deepest dips stay well above the values
// of a solo voice. Band-passed noise has no dip below kAperiodic over a window this long.
constexpr double kDipThreshold = 0.08;
constexpr double kAperiodic = 0.5;
constexpr int kMinRate = 4000, kMaxRate = 48000;
// A window's period an octave or two below those of its neighbours (at least kMinNeighbours
// windows with a period, within kOctaveSlack of two or four times their median) gives way to a dip
// within kDipSlack of that median no more than kNearlyAsLow above its own.
constexpr int kMinNeighbours = 3;
constexpr double kOctaveSlack = 0.06, kDipSlack = 0.04, kNearlyAsLow = 0.1;
constexpr int kGroup = 8;  // frames whose difference functions are found in one pass
constexpr int kAlign = 8;  // windows start and end on multiples of this many samples
// Samples are brought within 12 bits (magnitude at most 2048): a sum of this many of their
// products stays within 32 bits.
constexpr int kPiece = 256;
constexpr int kLagsAtOnce = 8;  // lags whose product sums one pass over the samples finds

double NoteHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }

// The lags a window is searched over at rate Hz: a little beyond the lowest and highest note.
int LongestLag(int rate) { return static_cast<int>(std::ceil(rate / NoteHz(kLowestNote - 0.5))); }
int ShortestLag(int rate) {
    return std::max(2, static_cast<int>(std::floor(rate / NoteHz(kPreciseHighestNote + 0.5))));
}
// 40 ms: several periods of the lowest note, over which the beating of detuned voices evens out.
int IntegrationLength(int rate) { return rate / 25 / kAlign * kAlign; }
// A frame is quiet when the 20 ms around its centre are.
int QuietLength(int rate) { return rate / 50; }
// The samples one frame's analysis reads: its window and the longest lag beyond it.
int SpanLength(int rate) { return LongestLag(rate) + IntegrationLength(rate) + 2; }

bool IsQuiet(const int16_t* x, int length) {
    int64_t energy = 0;
    for (int j = 0; j < length; ++j) energy += int64_t{x[j]} * x[j];
    return static_cast<double>(energy) < kQuietRms * kQuietRms * length;
}

// Σ a[j] b[j] over j < length, in pieces whose 32-bit sums cannot overflow.
int64_t ProductSum(const int16_t* a, const int16_t* b, int length) {
    int64_t total = 0;
    for (int from = 0; from < length; from += kPiece) {
        const int to = std::min(length, from + kPiece);
        int32_t piece = 0;
        for (int j = from; j < to; ++j) piece += int32_t{a[j]} * b[j];
        total += piece;
    }
    return total;
}

// sums[k] = Σ a[j] b[j + k] over j < length, for every k < kLagsAtOnce: one pass over a serves
// them all.
void ProductSums(const int16_t* a, const int16_t* b, int length, int64_t* sums) {
    for (int k = 0; k < kLagsAtOnce; ++k) sums[k] = 0;
    for (int from = 0; from < length; from += kPiece) {
        const int to = std::min(length, from + kPiece);
        int32_t piece[kLagsAtOnce] = {};
        for (int j = from; j < to; ++j)
            for (int k = 0; k < kLagsAtOnce; ++k) piece[k] += int32_t{a[j]} * b[j + k];
        for (int k = 0; k < kLagsAtOnce; ++k) sums[k] += piece[k];
    }
}

// The frequency of the dip at best in normalised[], refined by a parabola through its neighbours.
double DipHz(const float* normalised, int best, int rate) {
    double lag = best;
    const double a = normalised[best - 1], b = normalised[best], c = normalised[best + 1];
    const double curve = a - 2.0 * b + c;
    if (curve > 0.0) lag += std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
    return rate / lag;
}

// The pitch of n windows of x at rate Hz: window i is x[first[i] .. first[i] + window), compared
// with x up to LongestLag(rate) + 1 samples later (first ascending). Writes its frequency in Hz to
// hz[i], or 0 when it has no clear period or skip[i] is set.
//
// d(τ) = Σ_j (w[j] − w[j + τ])² of a window is its energy, plus that of its copy τ samples later
// (kept up to date lag by lag), less twice the products Σ w[j] w[j + τ]. Those are summed over the
// stretches between window edges, once for all the overlapping windows. The normalised difference
// d'(τ) = d(τ) · τ / Σ_{k ≤ τ} d(k) of a window is followed up to the bottom of its first dip below
// the threshold (and one lag beyond, for the parabola), or over every lag when it has none.
void FindPeriods(const int16_t* x, int rate, const int* first, const bool* skip, int n, int window,
                 double* hz) {
    const int maxLag = LongestLag(rate), minLag = ShortestLag(rate);
    const int lags = maxLag + 2;  // d'(0) .. d'(maxLag + 1)
    int open = 0;
    for (int i = 0; i < n; ++i) {
        hz[i] = 0.0;
        if (!skip[i]) ++open;
    }
    if (open == 0) return;

    // The samples the windows read, brought within 12 bits under one scale.
    const int base = first[0], used = first[n - 1] + window + maxLag + 1 - base;
    int peak = 0;
    for (int j = 0; j < used; ++j) peak = std::max(peak, std::abs(int{x[base + j]}));
    int shift = 0;
    while ((peak >> shift) > 2047) ++shift;
    // Zeros follow them: the last pass over kLagsAtOnce lags may reach past the longest lag.
    // (At 8000 Hz the scratch arrays stay on the stack for blocks of up to 1920 samples.)
    ScratchArray<int16_t, 1280> w(static_cast<std::size_t>(used) + kLagsAtOnce);
    for (int j = 0; j < used; ++j) w[j] = static_cast<int16_t>(x[base + j] >> shift);
    for (int j = used; j < used + kLagsAtOnce; ++j) w[j] = 0;

    // The window edges, in order; stretch s runs from edge[s] to edge[s + 1], and cover[s] counts
    // the open windows over it.
    int edge[2 * kGroup], edges = 0;
    for (int i = 0, j = 0; i < n || j < n;) {  // starts first[i], ends first[j] + window, merged
        const bool start = j >= n || (i < n && first[i] <= first[j] + window);
        const int next = start ? first[i++] - base : first[j++] + window - base;
        if (edges == 0 || edge[edges - 1] != next) edge[edges++] = next;
    }
    int cover[2 * kGroup] = {};
    int from[kGroup], to[kGroup];  // the stretches of window i: from[i] .. to[i] − 1
    for (int i = 0; i < n; ++i) {
        from[i] = static_cast<int>(std::find(edge, edge + edges, first[i] - base) - edge);
        to[i] = static_cast<int>(std::find(edge, edge + edges, first[i] - base + window) - edge);
        if (!skip[i])
            for (int s = from[i]; s < to[i]; ++s) ++cover[s];
    }

    struct Search {
        int64_t energy = 0;   // Σ w[j]² over the window
        int64_t shifted = 0;  // the same over the window moved by the current lag
        int64_t running = 0;  // Σ_{k ≤ τ} d(k)
        int best = -1;        // the lag of the dip found, −1 while searching
    };
    Search search[kGroup];
    ScratchArray<float, 1024> normalised(static_cast<std::size_t>(n) * lags);
    for (int i = 0; i < n; ++i) {
        if (skip[i]) continue;
        const int16_t* own = w.data() + (first[i] - base);
        search[i].energy = search[i].shifted = ProductSum(own, own, window);
        normalised[static_cast<std::size_t>(i) * lags] = 1.0f;
    }

    // The product sums of kLagsAtOnce lags, found together: upTo[k][s] adds up those of the
    // stretches before edge s at the k-th of these lags.
    int64_t stretch[2 * kGroup][kLagsAtOnce];
    int64_t upTo[kLagsAtOnce][2 * kGroup];
    for (int lag = 1; lag <= maxLag + 1 && open > 0; ++lag) {
        const int k = (lag - 1) % kLagsAtOnce;
        if (k == 0) {
            for (int s = 0; s + 1 < edges; ++s) {
                if (cover[s] > 0)
                    ProductSums(w.data() + edge[s], w.data() + edge[s] + lag, edge[s + 1] - edge[s],
                                stretch[s]);
                else
                    std::fill(stretch[s], stretch[s] + kLagsAtOnce, 0);
            }
            for (int q = 0; q < kLagsAtOnce; ++q) {
                upTo[q][0] = 0;
                for (int s = 0; s + 1 < edges; ++s) upTo[q][s + 1] = upTo[q][s] + stretch[s][q];
            }
        }
        for (int i = 0; i < n; ++i) {
            Search& at = search[i];
            if (skip[i] || at.best >= 0) continue;
            const int start = first[i] - base;
            const int16_t leaving = w[start + lag - 1], entering = w[start + window + lag - 1];
            at.shifted += int32_t{entering} * entering - int32_t{leaving} * leaving;
            const int64_t product = upTo[k][to[i]] - upTo[k][from[i]];
            const int64_t diff = at.energy + at.shifted - 2 * product;
            at.running += diff;
            float* d = normalised.data() + static_cast<std::size_t>(i) * lags;
            d[lag] = at.running > 0
                         ? static_cast<float>(static_cast<double>(diff) * lag / at.running)
                         : 1.0f;
            if (lag > minLag && lag <= maxLag && d[lag - 1] < kDipThreshold &&
                d[lag] >= d[lag - 1]) {
                at.best = lag - 1;
                --open;
                for (int s = from[i]; s < to[i]; ++s) --cover[s];
            }
        }
    }

    int period[kGroup], voiced = 0;  // the lag of each window's dip, 0 for none
    for (int i = 0; i < n; ++i) {
        period[i] = 0;
        if (skip[i]) continue;
        const float* d = normalised.data() + static_cast<std::size_t>(i) * lags;
        int best = search[i].best;
        if (best < 0) {
            best = minLag;
            for (int lag = minLag + 1; lag <= maxLag; ++lag)
                if (d[lag] < d[best]) best = lag;
            if (d[best] > kAperiodic) continue;
        }
        period[i] = best;
        ++voiced;
    }

    // A window whose period is about two or four times the median of its neighbours' takes theirs
    // when its own difference dips there nearly as low: that dip tells of the shorter period, while
    // a deep dip at the longer lag would follow from either. (The converse has no such evidence: a
    // sound with some period dips at twice it too.)
    if (voiced >= kMinNeighbours) {
        int sorted[kGroup], m = 0;  // the periods in ascending order
        for (int i = 0; i < n; ++i) {
            if (period[i] == 0) continue;
            int at = m++;
            for (; at > 0 && sorted[at - 1] > period[i]; --at) sorted[at] = sorted[at - 1];
            sorted[at] = period[i];
        }
        const int median = sorted[m / 2];
        for (int i = 0; i < n; ++i) {
            if (period[i] == 0) continue;
            const double ratio = static_cast<double>(period[i]) / median;
            if (std::abs(ratio / 2.0 - 1.0) > kOctaveSlack &&
                std::abs(ratio / 4.0 - 1.0) > kOctaveSlack)
                continue;
            const float* d = normalised.data() + static_cast<std::size_t>(i) * lags;
            int dip = -1;
            const int low =
                std::max(minLag + 1, static_cast<int>(std::floor(median * (1.0 - kDipSlack))));
            const int high =
                std::min(maxLag, static_cast<int>(std::ceil(median * (1.0 + kDipSlack))));
            for (int lag = low; lag <= high; ++lag)
                if (d[lag] <= d[lag - 1] && d[lag] <= d[lag + 1] && (dip < 0 || d[lag] < d[dip]))
                    dip = lag;
            if (dip > 0 && d[dip] <= d[period[i]] + kNearlyAsLow) period[i] = dip;
        }
    }

    for (int i = 0; i < n; ++i)
        if (period[i] > 0)
            hz[i] = DipHz(normalised.data() + static_cast<std::size_t>(i) * lags, period[i], rate);
}

int32_t PitchValue(double hz) {
    const double note = hz > 0.0 ? 69.0 + 12.0 * std::log2(hz / 440.0) : 0.0;
    return note >= kLowestNote && note <= kPreciseHighestNote
               ? static_cast<int32_t>(std::lround(note * 10.0))
               : 0;
}

}  // namespace

double PrecisePitch(const int16_t* x, int length, int rate) {
    const int maxLag = LongestLag(rate), minLag = ShortestLag(rate);
    const int window = std::min(IntegrationLength(rate), length - maxLag - 1) / kAlign * kAlign;
    if (window < minLag * 2) return 0.0;
    const int quiet = std::min(QuietLength(rate), length);
    if (IsQuiet(x + (length - quiet) / 2, quiet)) return 0.0;
    const int first = 0;
    const bool skip = false;
    double hz = 0.0;
    FindPeriods(x, rate, &first, &skip, 1, window, &hz);
    return hz;
}

int TrackPitchPrecise(const int16_t* samples, int count, int sampleRate, int frameLength, int hop,
                      int32_t* out) {
    if (!samples || !out || sampleRate < kMinRate || sampleRate > kMaxRate) return 0;
    const int frames = PitchFrameCount(count, sampleRate, frameLength, hop);
    if (frames == 0) return 0;

    const int length = std::min(SpanLength(sampleRate), count);
    const int window =
        std::min(IntegrationLength(sampleRate), length - LongestLag(sampleRate) - 1) / kAlign *
        kAlign;
    const bool tooShort = window < ShortestLag(sampleRate) * 2;
    const int quiet = std::min(QuietLength(sampleRate), count);
    for (int k0 = 0; k0 < frames; k0 += kGroup) {
        const int n = std::min(kGroup, frames - k0);
        int first[kGroup];
        bool skip[kGroup];
        double hz[kGroup];
        for (int i = 0; i < n; ++i) {
            // The frame's centre on the grid at 11025 Hz, at the samples' own rate; its span is
            // centred on it where the block allows, starting on a multiple of kAlign.
            const double centre = (static_cast<double>(k0 + i) * hop + frameLength / 2.0) *
                                  sampleRate / static_cast<double>(kTrackerRate);
            first[i] = std::clamp(static_cast<int>(std::lround(centre - length / 2.0)), 0,
                                  count - length) /
                       kAlign * kAlign;
            const int around =
                std::clamp(static_cast<int>(std::lround(centre - quiet / 2.0)), 0, count - quiet);
            skip[i] = tooShort || IsQuiet(samples + around, quiet);
        }
        FindPeriods(samples, sampleRate, first, skip, n, window, hz);
        for (int i = 0; i < n; ++i) out[k0 + i] = PitchValue(hz[i]);
    }
    return frames;
}

}  // namespace engine
