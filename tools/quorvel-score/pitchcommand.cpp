#include "tools/quorvel-score/pitchcommand.h"

#include <cstdint>
#include <optional>

#include "engine/bandpass.h"
#include "engine/pitchtracker.h"
#include "tools/quorvel-score/recording.h"

namespace tools {
namespace {

constexpr int kRate = 8000;

struct Options {
    bool raw = false;
    std::string file;
};

std::optional<Options> ParseArgs(const std::vector<std::string>& args) {
    Options options;
    for (const std::string& arg : args) {
        if (arg == "--raw" && !options.raw)
            options.raw = true;
        else if (!arg.empty() && arg[0] != '-' && options.file.empty())
            options.file = arg;
        else
            return std::nullopt;
    }
    if (options.file.empty()) return std::nullopt;
    return options;
}

void PrintBlock(std::ostream& out, long index, std::vector<int16_t>& block, bool raw) {
    if (!raw)
        engine::BandPassFilter(block.data(), kBlockFrames, engine::kBandPass, 2, 70.0, 1000.0,
                               8000.0, engine::kHammingWindow);
    int32_t pitch[3840];
    const int frames = engine::TrackPitch(block.data(), kBlockFrames, kRate, 256, 128, pitch);
    out << index;
    for (int k = 0; k < frames; ++k) out << ' ' << pitch[k];
    out << '\n';
}

}  // namespace

int RunPitchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto options = ParseArgs(args);
    if (!options) {
        err << "usage: quorvel-score pitch [--raw] FILE.wav\n";
        return 2;
    }
    const std::string& name = options->file;
    auto fail = [&](const std::string& problem) {
        err << "quorvel-score: " << name << ": " << problem << '\n';
        return 2;
    };

    Recording recording;
    std::string problem;
    if (!ReadRecording(name, recording, problem)) return fail(problem);

    const std::size_t frames = recording.samples.size() / recording.nChannels;
    std::vector<int16_t> block(kBlockFrames);
    long index = 0;
    for (std::size_t first = 0; first + kBlockFrames <= frames; first += kBlockFrames) {
        for (int f = 0; f < kBlockFrames; ++f)
            block[f] = recording.samples[(first + f) * recording.nChannels];
        PrintBlock(out, index++, block, options->raw);
    }
    out.flush();
    if (!out) return fail("cannot write the output");
    return 0;
}

}  // namespace tools
