#include "tools/quorvel-score/pitchcommand.h"

#include <cstdint>
#include <optional>

#include "engine/bandpass.h"
#include "engine/pitchtracker.h"
#include "engine/precisepitchtracker.h"
#include "tools/quorvel-score/printable.h"
#include "tools/quorvel-score/recording.h"

namespace tools {
namespace {

constexpr int kRate = 8000;

constexpr const char* kUsage =
    "usage: quorvel-score pitch [--raw] [--tracker amdf|precise] FILE.wav\n";

using Tracker = int (*)(const int16_t*, int, int, int, int, int32_t*);

struct Options {
    bool raw = false;
    Tracker track = engine::TrackPitch;  // "amdf", the level Easy's; or "precise"
    bool trackerChosen = false;
    std::string file;
};

// The options, or nullopt with the reason in problem (empty: print the usage).
std::optional<Options> ParseArgs(const std::vector<std::string>& args, std::string& problem) {
    Options options;
    bool optionsEnded = false;  // after "--" every word is the file, even one starting with "-"
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--raw" && !options.raw) {
            options.raw = true;
        } else if (!optionsEnded && arg == "--tracker" && i + 1 < args.size() &&
                   !options.trackerChosen) {
            const std::string& name = args[++i];
            options.trackerChosen = true;
            if (name == "precise") {
                options.track = engine::TrackPitchPrecise;
            } else if (name != "amdf") {
                problem = "--tracker: \"" + name + "\" is not a pitch tracker (amdf or precise)";
                return std::nullopt;
            }
        } else if (!arg.empty() && (optionsEnded || arg[0] != '-') && options.file.empty()) {
            options.file = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.file.empty()) return std::nullopt;
    return options;
}

void PrintBlock(std::ostream& out, long index, std::vector<int16_t>& block,
                const Options& options) {
    if (!options.raw)
        engine::BandPassFilter(block.data(), kBlockFrames, engine::kBandPass, 2, 70.0, 1000.0,
                               8000.0, engine::kHammingWindow);
    int32_t pitch[3840];
    const int frames = options.track(block.data(), kBlockFrames, kRate, 256, 128, pitch);
    out << index;
    for (int k = 0; k < frames; ++k) out << ' ' << pitch[k];
    out << '\n';
}

}  // namespace

int RunPitchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string problem;
    const auto options = ParseArgs(args, problem);
    if (!options) {
        if (!problem.empty()) err << "quorvel-score: " << problem << '\n';
        err << kUsage;
        return 2;
    }
    const std::string& name = options->file;
    auto fail = [&](const std::string& what) {
        err << "quorvel-score: " << name << ": " << what << '\n';
        return 2;
    };

    platform::CWaveReader reader;
    if (!OpenRecording(name, reader, problem)) return fail(problem);

    // Block by block from the file: memory stays one block, however long the recording.
    const std::size_t channels = reader.Channels();
    std::vector<uint8_t> frames(kBlockFrames * reader.FrameBytes());
    std::vector<int16_t> block(kBlockFrames);
    long index = 0;
    for (;;) {
        const int64_t got = reader.ReadFrames(frames.data(), kBlockFrames);
        if (got < 0) return fail("the samples cannot be read");
        if (got < kBlockFrames) break;  // a trailing partial block is ignored
        for (int f = 0; f < kBlockFrames; ++f) {
            const uint8_t* p = frames.data() + std::size_t(f) * 2 * channels;
            block[f] = static_cast<int16_t>(p[0] | (p[1] << 8));
        }
        PrintBlock(out, index++, block, *options);
        if (!out) break;  // the output is gone: no use going on
    }
    return OutputStatus(out, err, 0);
}

}  // namespace tools
