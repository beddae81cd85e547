// Cost of the accompaniment's decoders on a whole song: the exact length that Open finds
// (AudioLengthMs), a seek to a span's start three quarters into the song (what Play does on the
// user-interface thread), and a full decode (the decoding thread's work over the song).
//
// The song is made at start in a temporary folder: 4 minutes of stereo at 44100 Hz (chords of
// three tones that change every half second, with a little noise), written as a WAVE and encoded
// by ffmpeg into each format a song may come in. --song-seconds=N makes a shorter one (the smoke
// run under CTest).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "platform/audiodecoder.h"
#include "platform/audiospanreader.h"
#include "tests/support/songwriter.h"

namespace {

constexpr int kRate = 44100;
int g_seconds = 240;

void WriteLittleEndian(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(char((value >> (8 * i)) & 0xFF));
}

void WriteSongWave(const std::filesystem::path& path) {
    const uint32_t frames = uint32_t(g_seconds) * kRate;
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    WriteLittleEndian(out, 36 + frames * 4, 4);
    out.write("WAVEfmt ", 8);
    WriteLittleEndian(out, 16, 4);
    WriteLittleEndian(out, 1, 2);  // PCM
    WriteLittleEndian(out, 2, 2);
    WriteLittleEndian(out, kRate, 4);
    WriteLittleEndian(out, kRate * 4, 4);
    WriteLittleEndian(out, 4, 2);
    WriteLittleEndian(out, 16, 2);
    out.write("data", 4);
    WriteLittleEndian(out, frames * 4, 4);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> note(45, 80);
    std::normal_distribution<double> noise(0, 300);
    double hz[3] = {};
    for (uint32_t i = 0; i < frames; ++i) {
        if (i % (kRate / 2) == 0)
            for (double& h : hz) h = 440.0 * std::pow(2.0, (note(random) - 69) / 12.0);
        const double t = double(i) / kRate;
        double value = 0;
        for (const double h : hz) value += 6000 * std::sin(2 * std::numbers::pi * h * t);
        const auto left = int16_t(std::lround(value + noise(random)));
        const auto right = int16_t(std::lround(0.8 * value + noise(random)));
        WriteLittleEndian(out, uint16_t(left), 2);
        WriteLittleEndian(out, uint16_t(right), 2);
    }
}

struct Encoding {
    const char* name;
    const char* options;
};

const Encoding kEncodings[] = {
    {"song.ogg", "-c:a libvorbis -q:a 5"},   {"song.flac", "-c:a flac"},
    {"song.mp3", "-c:a libmp3lame -q:a 2"},  {"song.m4a", "-c:a aac -b:a 192k"},
    {"song.webm", "-c:a libopus -b:a 128k"}, {"song.wav", "-c:a copy"},
};

std::string Decode(const std::string& path, const platform::AudioSpan& span, int64_t& frames) {
    std::string error;
    auto decoder = platform::OpenAudioDecoder(path, 0, 0, error);
    if (!decoder) return error;
    const long rate = decoder->Rate();
    const int64_t length = decoder->Length(error);
    if (length < 0) return error;
    platform::CAudioSpanReader reader;
    if (!reader.Start(std::move(decoder), platform::SpanFrames(span, rate, length), error))
        return error;
    std::vector<int16_t> chunk(4096);
    frames = 0;
    for (int got; (got = reader.Read(chunk.data(), 2048)) > 0;) frames += got;
    return reader.Problem();
}

void BM_AudioLengthMs(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        std::string error;
        const int ms = platform::AudioLengthMs(path, error);
        if (ms < 0) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(ms);
    }
}

// Open, length and the seek to the span's start: what Play waits for before the sound starts.
void BM_SeekToTheSpan(benchmark::State& state, const std::string& path) {
    const platform::AudioSpan span{g_seconds * 750, -1, 0};
    for (auto _ : state) {
        std::string error;
        auto decoder = platform::OpenAudioDecoder(path, 0, 0, error);
        const int64_t length = decoder ? decoder->Length(error) : -1;
        const long rate = decoder ? decoder->Rate() : 0;
        platform::CAudioSpanReader reader;
        if (length < 0 ||
            !reader.Start(std::move(decoder), platform::SpanFrames(span, rate, length), error))
            state.SkipWithError(error.c_str());
        int16_t first[2];
        benchmark::DoNotOptimize(reader.Read(first, 1));
    }
}

void BM_DecodeWhole(benchmark::State& state, const std::string& path) {
    int64_t frames = 0;
    for (auto _ : state) {
        const std::string problem = Decode(path, platform::AudioSpan{}, frames);
        if (!problem.empty()) state.SkipWithError(problem.c_str());
    }
    state.counters["x real time"] =
        benchmark::Counter(double(frames) / kRate, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--song-seconds=", 15) == 0) g_seconds = std::atoi(argv[i] + 15);
    benchmark::Initialize(&argc, argv);
    testing_support::TemporaryFolder folder;
    const std::filesystem::path wave = folder.Path() / "source.wav";
    WriteSongWave(wave);
    for (const Encoding& encoding : kEncodings) {
        const std::string path = (folder.Path() / encoding.name).string();
        const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -i '" +
                                    wave.string() + "' " + encoding.options + " '" + path + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "audio_bench: ffmpeg could not make %s\n", encoding.name);
            return 1;
        }
        const std::string name = encoding.name;
        benchmark::RegisterBenchmark(("AudioLengthMs/" + name).c_str(), BM_AudioLengthMs, path)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SeekToTheSpan/" + name).c_str(), BM_SeekToTheSpan, path)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DecodeWhole/" + name).c_str(), BM_DecodeWhole, path)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
