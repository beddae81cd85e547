#include "tools/quorvel-score/pitchcommand.h"

#include <cstdint>
#include <filesystem>
#include <optional>

#include "audio/buffer.h"
#include "audio/soundfile.h"
#include "engine/bandpass.h"
#include "engine/pitchtracker.h"
#include "platform/messages.h"

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

// What is wrong with the recording's format for this command, or "" when it will do.
std::string FormatProblem(const platform::WaveFormat& format) {
    if (format.nFormatTag != platform::kWaveFormatPcm)
        return "not PCM (format tag " + std::to_string(format.nFormatTag) + "), need 16-bit PCM";
    if (format.nBitsPerSample != 16)
        return std::to_string(format.nBitsPerSample) + "-bit samples, need 16-bit";
    if (format.nSamplesPerSec != kRate)
        return std::to_string(format.nSamplesPerSec) + " frames/s, need 8000";
    if (format.nChannels != 1 && format.nChannels != 2)
        return std::to_string(format.nChannels) + " channels, need mono or stereo";
    if (format.nBlockAlign != format.nChannels * 2)
        return "block alignment " + std::to_string(format.nBlockAlign) + " does not match " +
               std::to_string(format.nChannels) + " channels of 16 bits";
    return "";
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

    // The reader's own messages become part of our one line.
    platform::MessageCapture messages;
    std::error_code error;
    if (!std::filesystem::exists(name, error)) return fail("no such file");
    if (std::filesystem::is_directory(name, error)) return fail("is a directory");
    CSoundFile file(name);
    if (!file.IsOK()) {
        const auto shown = messages.Messages();
        return fail(shown.empty() ? "cannot be opened for reading"
                                  : "not a readable WAVE file (" + shown.front() + ")");
    }
    const platform::WaveFormat& format = *file.GetFormat();
    if (const std::string problem = FormatProblem(format); !problem.empty()) return fail(problem);

    const int frameBytes = format.nBlockAlign;
    file.SetBufferSize(kBlockFrames);
    CBuffer buffer(kBlockFrames * frameBytes, true);
    if (!buffer.m_pData) return fail("out of memory");

    // Bytes are gathered until a whole block of frames is there; reads may come back short.
    std::vector<uint8_t> pending;
    std::vector<int16_t> block(kBlockFrames);
    long index = 0;
    for (;;) {
        buffer.m_nSize = kBlockFrames * frameBytes;
        if (!file.Read(&buffer)) break;
        pending.insert(pending.end(), buffer.m_pData, buffer.m_pData + buffer.m_nSize);
        size_t used = 0;
        while (pending.size() - used >= static_cast<size_t>(kBlockFrames) * frameBytes) {
            for (int f = 0; f < kBlockFrames; ++f) {
                const uint8_t* sample = pending.data() + used + static_cast<size_t>(f) * frameBytes;
                block[f] = static_cast<int16_t>(sample[0] | (sample[1] << 8));  // little-endian
            }
            used += static_cast<size_t>(kBlockFrames) * frameBytes;
            PrintBlock(out, index++, block, options->raw);
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
    }
    out.flush();
    if (!out) return fail("cannot write the output");
    return 0;
}

}  // namespace tools
