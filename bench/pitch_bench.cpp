// CPU cost of the per-buffer signal path (band-pass filter and pitch tracker on a 0.12 s capture
// buffer at 8000 Hz, with the AMDF tracker and with the precise one of the stricter judging
// levels), with aubio's yin and yinfft detectors over the same audio (frames of 256, hop 128) run
// side by side. Every benchmark reports "cpu/audio": CPU seconds per second of audio. At the end
// the medians are compared: ours / aubio, and the AVX2 difference table against the plain one.
// Run with --benchmark_repetitions=9 for medians on a noisy machine.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/amdf.h"
#include "engine/bandpass.h"
#include "engine/pitchtracker.h"
#include "engine/precisepitchtracker.h"

#ifdef QUORVEL_HAVE_AUBIO
#include <aubio/aubio.h>
#endif

namespace {

constexpr int kRate = 8000;
constexpr int kBuffer = 960;  // one capture buffer, 0.12 s

// A sung-like voiced signal: 220 Hz with a few harmonics and a slow vibrato, at speaking level.
std::vector<int16_t> Voice(int count) {
    std::vector<int16_t> v(count);
    double phase = 0;
    for (int i = 0; i < count; ++i) {
        const double hz = 220.0 * (1.0 + 0.01 * std::sin(2 * M_PI * 5.0 * i / kRate));
        phase += 2 * M_PI * hz / kRate;
        v[i] = static_cast<int16_t>(6000 * std::sin(phase) + 2500 * std::sin(2 * phase) +
                                    1200 * std::sin(3 * phase) + 500 * std::sin(4 * phase));
    }
    return v;
}

void SetAudioSeconds(benchmark::State& state, double secondsPerIteration) {
    state.counters["cpu/audio"] =
        benchmark::Counter(secondsPerIteration, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

void Filter(int16_t* block) {
    engine::BandPassFilter(block, kBuffer, engine::kBandPass, 2, 70.0, 1000.0, 8000.0,
                           engine::kHammingWindow);
}

void BM_Filter(benchmark::State& state) {
    const auto voice = Voice(kBuffer);
    std::vector<int16_t> block(kBuffer);
    for (auto _ : state) {
        block = voice;
        Filter(block.data());
        benchmark::DoNotOptimize(block.data());
    }
    SetAudioSeconds(state, double(kBuffer) / kRate);
}
BENCHMARK(BM_Filter);

void BM_TrackPitch(benchmark::State& state) {
    auto block = Voice(kBuffer);
    Filter(block.data());
    int32_t out[3840];
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine::TrackPitch(block.data(), kBuffer, kRate, 256, 128, out));
    }
    SetAudioSeconds(state, double(kBuffer) / kRate);
}
BENCHMARK(BM_TrackPitch);

// A buffer filtered and tracked, as the line path does it.
template <int (*Track)(const int16_t*, int, int, int, int, int32_t*)>
void PerBuffer(benchmark::State& state) {
    const auto voice = Voice(kBuffer);
    std::vector<int16_t> block(kBuffer);
    int32_t out[3840];
    for (auto _ : state) {
        block = voice;
        Filter(block.data());
        benchmark::DoNotOptimize(Track(block.data(), kBuffer, kRate, 256, 128, out));
    }
    SetAudioSeconds(state, double(kBuffer) / kRate);
}
void BM_PerBuffer(benchmark::State& state) { PerBuffer<engine::TrackPitch>(state); }
BENCHMARK(BM_PerBuffer);
// The same through the precise tracker of the stricter judging levels.
void BM_PerBufferPrecise(benchmark::State& state) { PerBuffer<engine::TrackPitchPrecise>(state); }
BENCHMARK(BM_PerBufferPrecise);

// The difference tables of one buffer's 8 frames alone, with each kernel.
void AmdfPerBuffer(benchmark::State& state, engine::AmdfKernel kernel) {
    if (!engine::IsAmdfKernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this CPU");
        return;
    }
    auto block = Voice(2000);
    int32_t table[256];
    for (auto _ : state) {
        for (int frame = 0; frame < 8; ++frame)
            engine::AmdfTable(block.data() + frame * 128, 256, 9, table, kernel);
        benchmark::DoNotOptimize(table);
    }
    SetAudioSeconds(state, double(kBuffer) / kRate);
}
BENCHMARK_CAPTURE(AmdfPerBuffer, Plain, engine::AmdfKernel::Plain);
BENCHMARK_CAPTURE(AmdfPerBuffer, Avx2, engine::AmdfKernel::Avx2);

#ifdef QUORVEL_HAVE_AUBIO
void AubioPitch(benchmark::State& state, const char* method) {
    constexpr uint_t kFrame = 256, kHop = 128, kHops = 15;  // 15 hops = 0.24 s
    const auto voice = Voice(kHop * kHops);
    aubio_pitch_t* detector = new_aubio_pitch(method, kFrame, kHop, kRate);
    fvec_t* in = new_fvec(kHop);
    fvec_t* out = new_fvec(1);
    for (auto _ : state) {
        for (uint_t h = 0; h < kHops; ++h) {
            for (uint_t i = 0; i < kHop; ++i) in->data[i] = voice[h * kHop + i] / 32768.0f;
            aubio_pitch_do(detector, in, out);
        }
        benchmark::DoNotOptimize(out->data[0]);
    }
    SetAudioSeconds(state, double(kHop * kHops) / kRate);
    del_fvec(out);
    del_fvec(in);
    del_aubio_pitch(detector);
}
BENCHMARK_CAPTURE(AubioPitch, yin, "yin");
BENCHMARK_CAPTURE(AubioPitch, yinfft, "yinfft");
#endif

// Prints what the console reporter prints, and keeps each benchmark's cpu/audio (the median when
// repetitions are asked for) to compare them at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto counter = run.counters.find("cpu/audio");
            if (counter == run.counters.end() || run.error_occurred) continue;
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration)
                m_single[name] = counter->second.value;
            else if (run.aggregate_name == "median")
                m_median[name] = counter->second.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const bool medians = !m_median.empty();
        m_cost = medians ? m_median : m_single;
        std::printf("\nCPU seconds per second of audio (%s):\n",
                    medians ? "medians" : "single runs");
        for (const auto& [name, cost] : m_cost) std::printf("  %-28s %.3g\n", name.c_str(), cost);
        Ratio("BM_PerBuffer", "AubioPitch/yin");
        Ratio("BM_PerBuffer", "AubioPitch/yinfft");
        Ratio("BM_PerBufferPrecise", "AubioPitch/yin");
        Ratio("BM_PerBufferPrecise", "AubioPitch/yinfft");
        Ratio("AmdfPerBuffer/Plain", "AmdfPerBuffer/Avx2");
    }

private:
    void Ratio(const std::string& a, const std::string& b) {
        if (!m_cost.count(a) || !m_cost.count(b) || m_cost[b] <= 0) return;
        std::printf("  %s / %s = %.3f\n", a.c_str(), b.c_str(), m_cost[a] / m_cost[b]);
    }

    std::map<std::string, double> m_single, m_median, m_cost;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
