#include "engine/amdf.h"

#include <cstdlib>

#include "engine/scratcharray.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUORVEL_HAVE_X86 1
#endif

namespace engine {
namespace {

void AmdfTablePlain(const int16_t* x, int length, int firstLag, int32_t* table) {
    for (int k = firstLag; k < length; ++k) {
        int32_t sum = 0;
        for (int t = 0; t + k < length; ++t) sum += std::abs(x[t] - x[t + k]);
        table[k] = sum;
    }
}

#ifdef QUORVEL_HAVE_X86

// Samples are moved to offset binary (x + 32768 as unsigned 16-bit), which keeps every difference.
// Narrow frames (largest minus smallest sample at most 32767) take the 16-bit difference and its
// magnitude directly and sum the magnitudes in pairs into 32-bit lanes with a multiply-add. Wide
// frames, up to full scale, get |a − b| as one saturating subtraction each way, ORed, and sum the
// unsigned magnitudes in pairs with a mask and a shift. Both are exact.
#define QUORVEL_AVX2 __attribute__((target("avx2"), always_inline)) inline

constexpr int kLanes = 16;
constexpr int kPadding = 2 * kLanes;  // the tails of a group of four lags load this far past

template <bool Narrow>
QUORVEL_AVX2 __m256i AbsDiff(__m256i a, __m256i b) {
    if constexpr (Narrow)
        return _mm256_abs_epi16(_mm256_sub_epi16(a, b));
    else
        return _mm256_or_si256(_mm256_subs_epu16(a, b), _mm256_subs_epu16(b, a));
}

template <bool Narrow>
QUORVEL_AVX2 __m256i PairSum(__m256i d) {
    if constexpr (Narrow)
        return _mm256_madd_epi16(d, _mm256_set1_epi16(1));
    else
        return _mm256_add_epi32(_mm256_and_si256(d, _mm256_set1_epi32(0xFFFF)),
                                _mm256_srli_epi32(d, 16));
}

QUORVEL_AVX2 __m256i Load(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Loading 16 lanes from kTailMask + 16 − n keeps the first n lanes and clears the rest.
alignas(32) const uint16_t kTailMask[2 * kLanes] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                                    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                                    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

// The pair sums of the first `left` terms of a lane group (none when left ≤ 0, all from 16 on).
template <bool Narrow>
QUORVEL_AVX2 __m256i MaskedTerm(__m256i a, __m256i b, int left) {
    const int keep = left < 0 ? 0 : (left < kLanes ? left : kLanes);
    const __m256i mask = Load(kTailMask + kLanes - keep);
    return PairSum<Narrow>(_mm256_and_si256(AbsDiff<Narrow>(a, b), mask));
}

// The sums of the eight lanes of each of four accumulators, in order.
QUORVEL_AVX2 __m128i Sum4(__m256i a0, __m256i a1, __m256i a2, __m256i a3) {
    const __m256i h = _mm256_hadd_epi32(_mm256_hadd_epi32(a0, a1), _mm256_hadd_epi32(a2, a3));
    return _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

// u holds the biased frame followed by kPadding values. Lags go four at a time, sharing the loads
// of the frame's start and one final reduction; the last few lags go one at a time.
template <bool Narrow>
__attribute__((target("avx2"))) void AmdfLagsAvx2(const uint16_t* u, int length, int firstLag,
                                                  int32_t* table) {
    int k = firstLag;
    for (; k + 3 < length; k += 4) {
        __m256i acc0 = _mm256_setzero_si256(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
        const uint16_t* b = u + k;
        const int common = length - k - 3;  // terms that all four lags have
        int t = 0;
        for (; t + kLanes <= common; t += kLanes) {
            const __m256i a = Load(u + t);
            acc0 = _mm256_add_epi32(acc0, PairSum<Narrow>(AbsDiff<Narrow>(a, Load(b + t))));
            acc1 = _mm256_add_epi32(acc1, PairSum<Narrow>(AbsDiff<Narrow>(a, Load(b + t + 1))));
            acc2 = _mm256_add_epi32(acc2, PairSum<Narrow>(AbsDiff<Narrow>(a, Load(b + t + 2))));
            acc3 = _mm256_add_epi32(acc3, PairSum<Narrow>(AbsDiff<Narrow>(a, Load(b + t + 3))));
        }
        // Lag k + i has length − k − i terms; what is left of each is under two lanes' worth.
        for (; t < length - k; t += kLanes) {
            const __m256i a = Load(u + t);
            const int left = length - k - t;
            acc0 = _mm256_add_epi32(acc0, MaskedTerm<Narrow>(a, Load(b + t), left));
            acc1 = _mm256_add_epi32(acc1, MaskedTerm<Narrow>(a, Load(b + t + 1), left - 1));
            acc2 = _mm256_add_epi32(acc2, MaskedTerm<Narrow>(a, Load(b + t + 2), left - 2));
            acc3 = _mm256_add_epi32(acc3, MaskedTerm<Narrow>(a, Load(b + t + 3), left - 3));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(table + k), Sum4(acc0, acc1, acc2, acc3));
    }
    for (; k < length; ++k) {
        __m256i acc = _mm256_setzero_si256();
        for (int t = 0; t < length - k; t += kLanes) {
            const int left = length - k - t;
            acc = _mm256_add_epi32(acc, MaskedTerm<Narrow>(Load(u + t), Load(u + t + k), left));
        }
        table[k] = _mm_cvtsi128_si32(Sum4(acc, acc, acc, acc));
    }
}

void AmdfTableAvx2(const int16_t* x, int length, int firstLag, int32_t* table) {
    ScratchArray<uint16_t, 1024 + kPadding> biased(static_cast<size_t>(length) + kPadding);
    for (int t = length; t < length + kPadding; ++t) biased[t] = 0;
    int lowest = x[0], highest = x[0];
    for (int t = 0; t < length; ++t) {
        biased[t] = static_cast<uint16_t>(x[t] ^ 0x8000);
        if (x[t] < lowest) lowest = x[t];
        if (x[t] > highest) highest = x[t];
    }
    if (highest - lowest <= 32767)
        AmdfLagsAvx2<true>(biased.data(), length, firstLag, table);
    else
        AmdfLagsAvx2<false>(biased.data(), length, firstLag, table);
}

bool CpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif

}  // namespace

bool IsAmdfKernelAvailable(AmdfKernel kernel) {
    switch (kernel) {
        case AmdfKernel::Plain:
            return true;
#ifdef QUORVEL_HAVE_X86
        case AmdfKernel::Avx2:
            return CpuHasAvx2();
#else
        case AmdfKernel::Avx2:
            return false;
#endif
    }
    return false;
}

AmdfKernel BestAmdfKernel() {
    static const AmdfKernel best =
        IsAmdfKernelAvailable(AmdfKernel::Avx2) ? AmdfKernel::Avx2 : AmdfKernel::Plain;
    return best;
}

void AmdfTable(const int16_t* x, int length, int firstLag, int32_t* table, AmdfKernel kernel) {
    if (length < 1 || length > kMaxAmdfLength || firstLag < 0) return;
#ifdef QUORVEL_HAVE_X86
    if (kernel == AmdfKernel::Avx2 && CpuHasAvx2()) {
        AmdfTableAvx2(x, length, firstLag, table);
        return;
    }
#endif
    (void)kernel;
    AmdfTablePlain(x, length, firstLag, table);
}

void AmdfTable(const int16_t* x, int length, int firstLag, int32_t* table) {
    AmdfTable(x, length, firstLag, table, BestAmdfKernel());
}

}  // namespace engine
