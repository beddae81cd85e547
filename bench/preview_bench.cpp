// How soon a song's preview is heard: the time from CPreviewPlayer::Play (what the song list calls
// once the highlight has stayed on a song for half a second) to the first block of the preview's
// samples taken by the output device, for each song of the demo library. Each repetition is one
// preview from a stopped player; the median of the repetitions is the figure.
//
// It plays on the default output device (PulseAudio's null sink in the test setup: source the
// env file that tests/support/pulse-null-sink writes). Without one it reports an error.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/songmusic.h"
#include "platform/previewplayer.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void BM_PreviewHeard(benchmark::State& state, const std::string& song) {
    platform::CPreviewPlayer preview(&engine::SongPreviewMusic);
    for (auto _ : state) {
        const auto start = Clock::now();
        preview.Play(song);
        if (!WaitFor([&] { return preview.Heard(); }, std::chrono::seconds(20))) {
            state.SkipWithError("the preview was not heard: no output device took it");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        preview.Stop();
        WaitFor([&] { return preview.Playing().empty(); }, std::chrono::seconds(20));
        // The stopped stream's fade and close are over before the next preview.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::filesystem::path songs = std::filesystem::path(QUORVEL_DEMO) / "歌曲" / "单曲";
    for (const auto& entry : std::filesystem::directory_iterator(songs)) {
        if (!entry.is_directory()) continue;
        benchmark::RegisterBenchmark(
            ("BM_PreviewHeard/" + entry.path().filename().string()).c_str(), BM_PreviewHeard,
            entry.path().string())
            ->Iterations(1)
            ->Repetitions(15)
            ->ReportAggregatesOnly(true)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
