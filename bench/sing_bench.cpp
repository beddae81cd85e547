// Cost of scoring a whole performance: a 4-minute song sung into a WAV file and scored by
// `quorvel-score sing` (reading, pitch tracking, comparison, alignment and the display's
// bookkeeping), and the cost of one capture buffer on the line path.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "audio/buffer.h"
#include "audio/soundfile.h"
#include "engine/singingengine.h"
#include "platform/messages.h"
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

void BM_SingFourMinuteSong(benchmark::State& state) {
    static const FourMinuteSong song;
    const std::vector<std::string> args = {
        "--library", song.library.Path().string(), "--json", "--wav", song.wav, "song"};
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
BENCHMARK(BM_SingFourMinuteSong)->Unit(benchmark::kMillisecond);

// One voiced capture buffer in the middle of a long line: first channel, filter, tracker,
// comparison.
void BM_OnWaveInDataLinePath(benchmark::State& state) {
    platform::MessageCapture quiet;
    TemporaryFolder library;
    std::string record = "4000";
    for (int i = 0; i < 4000; ++i) record += i % 100 < 80 ? " 690" : " 0";
    WriteSong(library.Path(), "song", SongFiles{"2", "1 200", "100 201", {{1, record}}});
    engine::CNullEngineView view;
    engine::CSingingEngine engine(view);
    engine.SetLibraryFolder(library.Path().string());
    if (!engine.LoadReference("song")) {
        state.SkipWithError("the song did not load");
        return;
    }
    engine.BeginSession();
    engine.m_fTime = 50.0f;
    std::vector<int16_t> samples(engine::kCaptureSamples);
    for (int f = 0; f < engine::kCaptureSamples / 2; ++f)
        samples[2 * f] = samples[2 * f + 1] =
            static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440.0 * f / kRate));
    platform::WaveHeader header;
    header.lpData = reinterpret_cast<char*>(samples.data());
    header.dwBufferLength = header.dwBytesRecorded = engine::kCaptureBufferBytes;
    for (auto _ : state) {
        engine.m_nSung = 0;
        engine.m_nBuffersUsed = 0;
        engine.OnWaveInData(&header);
    }
    if (engine.m_nFrames == 0) state.SkipWithError("nothing was tracked");
    engine.ReleaseWork();
}
BENCHMARK(BM_OnWaveInDataLinePath)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
