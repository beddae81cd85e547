// Cost of the pitch display: one 15 ms tick at 800 × 110 (scroll, dot, lyric unit, marker,
// strip), a tick after a stall of 4 s (the whole picture drawn anew), and, with --cpu-share, the
// share of one core the display takes while it runs on its own timer for 10 s.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/qtbenchmain.h"
#include "display/histogramctrl.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace {

// A display over one long line whose notes of 20 values alternate with short rests, so that
// every 15 ms of its clock draws a dot and every 24th a lyric unit, as while singing.
struct SingingDisplay {
    SingingDisplay() {
        std::string lyric;
        for (int i = 0; i < 4000; ++i) lyric += "\xB8\xE8\xC7\xFA";  // 歌曲
        testing_support::WriteFile(library.Path() / "歌曲/单曲/song/Lyric", lyric);
        std::vector<int32_t> values;
        for (int i = 0; i < kValues; ++i)
            values.push_back(i % 24 < 20 ? 600 + (i / 24) % 20 * 10 : 0);
        parent.resize(800, 600);
        display.SetSongSource([this] {
            return engine::SongRef{"song", (library.Path() / "歌曲/单曲/song").string()};
        });
        display.Create(&parent, QRect(0, 444, 800, 110), 1000);
        display.SetSong(std::make_shared<const engine::CSong>(
            std::vector<float>{5.0f, 100000.0f}, std::vector<float>{90000.0f, 100001.0f},
            std::vector<std::vector<int32_t>>{values}));
        display.SetClock([this] { return clock; });
        display.SetPitchMarker(60, 0, 1, 0);
    }

    // The clock moves on by `ms`; near the end of the values the song starts over.
    void Tick(int ms) {
        clock += ms;
        if (clock > 5000 + 15 * (kValues - 1000)) {
            display.Restart();
            clock = 10000;
        }
        display.DrawTick();
    }

    static constexpr int kValues = 1000000;
    testing_support::TemporaryFolder library;
    int clock = 10000;  // ms
    QWidget parent;
    CHistogramCtrl display;
};

// Ticks stepMs apart, with the share of a 15 ms tick each took.
void RunTicks(benchmark::State& state, int stepMs) {
    platform::MessageCapture quiet;
    SingingDisplay singing;
    for (auto _ : state) singing.Tick(stepMs);
    state.counters["share of 15 ms"] = benchmark::Counter(
        15e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_DisplayTick(benchmark::State& state) { RunTicks(state, 15); }
BENCHMARK(BM_DisplayTick)->Unit(benchmark::kMicrosecond);

// A tick 4 s after the last one: longer than the picture is wide, so all of it is drawn anew.
void BM_DisplayTickAfterStall(benchmark::State& state) { RunTicks(state, 4000); }
BENCHMARK(BM_DisplayTickAfterStall)->Unit(benchmark::kMicrosecond);

// The display on its own 15 ms timer for 10 s, as while singing; prints the CPU time taken.
int MeasureCpuShare() {
    platform::MessageCapture quiet;
    SingingDisplay singing;
    QElapsedTimer wall;
    singing.display.SetClock([&wall] { return 10000 + static_cast<int>(wall.elapsed()); });
    singing.parent.show();
    const double cpuBefore = CpuSeconds();
    wall.start();
    QTimer::singleShot(10000, qApp, &QApplication::quit);
    QApplication::exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf("display running %.1f s: %.3f s of CPU, %.2f%% of one core\n", seconds, cpu,
                100.0 * cpu / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return QtBenchmarkMain(argc, argv, MeasureCpuShare); }
