// Cost of loading the reference data of a song: 60 lines of 4 s, one pitch value per 15 ms, the
// files written once as a recording leaves them and then loaded and released over and over (the
// files stay in the page cache, as they do when a song is chosen again).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "engine/song.h"
#include "tests/support/songwriter.h"

namespace {

constexpr int kLines = 60;
constexpr double kLineSeconds = 4.0;
constexpr int kValuesPerLine = 267;  // 4 s at one value per 15 ms

// One line record: held notes between 550 and 850 with a little wobble, and rests of zeros,
// written ten values to a row after the count.
std::string LineRecord(std::mt19937& random) {
    std::uniform_int_distribution<int> note(550, 850), wobble(-3, 3), length(6, 30), dice(0, 4);
    std::string text = std::to_string(kValuesPerLine) + "\n";
    int written = 0;
    while (written < kValuesPerLine) {
        const bool rest = dice(random) == 0;
        const int pitch = note(random);
        for (int n = length(random); n > 0 && written < kValuesPerLine; --n) {
            text += std::to_string(rest ? 0 : pitch + wobble(random));
            text += ++written % 10 == 0 || written == kValuesPerLine ? '\n' : ' ';
        }
    }
    return text;
}

struct Song {
    Song() {
        std::mt19937 random(7);
        testing_support::SongFiles files;
        files.points = std::to_string(kLines + 1) + "\n";
        char text[32];
        for (int i = 0; i <= kLines; ++i) {
            const double start = 12.48 + i * kLineSeconds;
            std::snprintf(text, sizeof text, "%.3f\n", start);
            files.starts += text;
            std::snprintf(text, sizeof text, "%.3f\n", start + kLineSeconds - 0.015);
            files.ends += text;
        }
        for (int line = 1; line <= kLines; ++line) files.lines[line] = LineRecord(random);
        testing_support::WriteSong(library.Path(), "song", files);
        bytes = files.points.size() + files.starts.size() + files.ends.size();
        for (const auto& [number, contents] : files.lines) bytes += contents.size();
    }

    testing_support::TemporaryFolder library;
    std::size_t bytes = 0;  // of all the song's files
};

void BM_LoadSong(benchmark::State& state) {
    static const Song song;
    const std::string folder = (song.library.Path() / "歌曲/单曲/song").string();
    const auto loaded = engine::CSong::Load(folder, nullptr);
    if (!loaded || loaded->Points() != kLines + 1 || loaded->Count(kLines - 1) != kValuesPerLine) {
        state.SkipWithError("the song did not load as written");
        return;
    }
    for (auto _ : state) {
        auto again = engine::CSong::Load(folder, nullptr);
        benchmark::DoNotOptimize(again);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * song.bytes));
}
BENCHMARK(BM_LoadSong)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
