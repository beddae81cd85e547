// Cost of scoring a whole performance: a 4-minute song sung into a WAV file and scored by
// `quorvel-score sing` (reading, pitch tracking, comparison, alignment and the display's
// bookkeeping) at each judging level, and the cost of one capture buffer on the line path.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "audio/buffer.h"
#include "audio/soundfile.h"
#include "engine/singingengine.h"
#include "platform/messages.h"
#include "platform/virtualplayer.h"
#include "tests/support/performance.h"
#include "tools/quorvel-score/singcommand.h"

namespace {

using namespace testing_support;

constexpr double kSongSeconds = 240.0;

// A 4-minute song in a temporary library, and a faithful performance of it in "sung.wav".
struct FourMinuteSong {
    FourMinuteSong() {
        // Lines of 5 notes last about 2.9 s; the song starts at 5 s.
        std::vector<Line> melody = MakeMelody(80, 5, 42);
        while (melody.back().End() > kSongSeconds - 3.0) melody.pop_back();
        WriteSong(library.Path(), "song", SongFilesOf(melody));
        std::vector<int16_t> samples = Sing(melody, kSongSeconds, Singer{});
        platform::WaveFormat format{platform::kWaveFormatPcm, 1, kRate, kRate * 2, 2, 16, 0};
        wav = (library.Path() / "sung.wav").string();
        CSoundFile file(wav, &format);
        CBuffer buffer(reinterpret_cast<uint8_t*>(samples.data()),
                       static_cast<int>(samples.size() * 2));
        file.Write(&buffer);
        file.Close();
        lines = static_cast<int>(melody.size());
    }

    TemporaryFolder library;
    std::string wav;
    int lines = 0;
};

void BM_SingFourMinuteSong(benchmark::State& state, const char* level) {
    static const FourMinuteSong song;
    const std::vector<std::string> args = {
        "--library", song.library.Path().string(), "--level", level, "--json", "--wav", song.wav,
        "song"};
    std::string json;
    for (auto _ : state) {
        std::ostringstream out, err;
        if (tools::RunSingCommand(args, out, err) != 0) {
            state.SkipWithError(err.str().c_str());
            return;
        }
        json = out.str();
    }
    // Seconds of singing scored per second of work: the real-time factor.
    state.counters["realtime"] =
        benchmark::Counter(kSongSeconds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["lines"] = song.lines;
    state.SetLabel(json.substr(json.rfind("\"final\":")));
}
BENCHMARK_CAPTURE(BM_SingFourMinuteSong, easy, "easy")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SingFourMinuteSong, standard, "standard")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SingFourMinuteSong, strict, "strict")->Unit(benchmark::kMillisecond);

// One voiced capture buffer in the middle of a long line: first channel, filter, tracker,
// comparison. The line lasts hours, so that every iteration stays inside it.
void BM_HandleBufferLinePath(benchmark::State& state) {
    platform::MessageCapture quiet;
    std::vector<int32_t> record;
    for (int i = 0; i < 4000; ++i) record.push_back(i % 100 < 80 ? 690 : 0);
    engine::CNullEngineView view;
    engine::CSingingEngine engine(view);
    engine.StartRun(false);
    engine.BeginSong(std::make_shared<const engine::CSong>(
        std::vector<float>{1.0f, 20000.0f}, std::vector<float>{20000.0f, 20001.0f},
        std::vector<std::vector<int32_t>>{record}));
    platform::CVirtualPlayer player;
    player.Open("music.mp3");
    player.Play();
    player.SetClock(50000);
    engine.PollPlaybackTime(player);
    std::vector<int16_t> samples(engine::kCaptureSamples);
    for (int f = 0; f < engine::kCaptureSamples / 2; ++f)
        samples[2 * f] = samples[2 * f + 1] =
            static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440.0 * f / kRate));
    for (auto _ : state)
        engine.HandleBuffer(samples.data(), engine::kCaptureBufferBytes, platform::kNoClockStamp);
    if (engine.Hits() + engine.Nears() == 0 && engine.Sung().empty())
        state.SkipWithError("nothing was judged");
}
BENCHMARK(BM_HandleBufferLinePath)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
