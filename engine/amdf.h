// The average magnitude difference table of one analysis frame, the inner loop of the pitch
// tracker. Two kernels give bit-identical tables for every input: the plain loop, which is the
// reference, and an AVX2 loop chosen at run time on CPUs that have it.
#pragma once

#include <cstdint>

namespace engine {

enum class AmdfKernel { Plain, Avx2 };

// Longest frame whose sums cannot overflow 32 bits (each term is at most 65535).
inline constexpr int kMaxAmdfLength = 32768;

bool IsAmdfKernelAvailable(AmdfKernel kernel);
AmdfKernel BestAmdfKernel();  // Avx2 where the CPU has it, Plain otherwise

// table[k] = Σ |x[t] − x[t + k]| over t = 0 .. length − k − 1, for every k from firstLag to
// length − 1, as exact 32-bit integer sums. Entries below firstLag are not written; table must
// hold length values. Requires 1 ≤ length ≤ kMaxAmdfLength and 0 ≤ firstLag; x and table must not
// overlap. Cost: about (length − firstLag)² / 2 differences.
void AmdfTable(const int16_t* x, int length, int firstLag, int32_t* table, AmdfKernel kernel);

// The same with the best kernel of this CPU.
void AmdfTable(const int16_t* x, int length, int firstLag, int32_t* table);

}  // namespace engine
