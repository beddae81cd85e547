// Cost of aligning a sung line with its reference (m = n), reported per visited cell of the band.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "engine/alignment.h"

namespace {

void BM_AlignPitch(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<int32_t> reference(n), sung(n);
    for (int j = 0; j < n; ++j) {
        reference[j] = 600 + static_cast<int32_t>(60 * std::sin(j * 0.07));
        sung[j] = 640 + static_cast<int32_t>(60 * std::sin(j * 0.068 + 0.2));
    }
    // Cells the band visits: row i spans ceil(i / 2) to n − 1 − (n − i) / 2.
    long cells = n - n / 2;
    for (int i = 1; i < n; ++i) cells += std::max(0, (n - 1 - (n - i) / 2) - (i + 1) / 2 + 1);
    std::vector<int32_t> a, b;
    for (auto _ : state) {
        a = sung;
        b = reference;
        benchmark::DoNotOptimize(
            engine::AlignPitch(a.data(), n, b.data(), n, engine::kAlignFailed));
    }
    state.counters["ns/cell"] = benchmark::Counter(
        static_cast<double>(cells) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AlignPitch)->Arg(250)->Arg(1000)->Arg(2000);

}  // namespace

BENCHMARK_MAIN();
