#include "tools/quorvel-score/recording.h"

#include <algorithm>

#include "audio/soundfile.h"
#include "platform/inputfile.h"
#include "platform/messages.h"
#include "platform/waveformat.h"

namespace tools {
namespace {

constexpr uint32_t kRate = 8000;
constexpr std::size_t kReadFrames = 4096;

// What is wrong with the recording's format, or "" when it will do.
std::string FormatProblem(const platform::CWaveReader& reader) {
    if (reader.Bits() != 16) return std::to_string(reader.Bits()) + "-bit samples, need 16-bit";
    if (reader.Rate() != kRate) return std::to_string(reader.Rate()) + " frames/s, need 8000";
    if (reader.Channels() != 1 && reader.Channels() != 2)
        return std::to_string(reader.Channels()) + " channels, need mono or stereo";
    return "";
}

// Why a file that is a regular file is no WAVE file we can read, in the words of the sound file
// reader's messages where it has them.
std::string StructureProblem(const std::string& path, const std::string& readerError) {
    platform::MessageCapture messages;  // the reader's message boxes become part of our line
    const CSoundFile file(path);
    const auto shown = messages.Messages();
    if (!shown.empty()) return "not a readable WAVE file (" + shown.front() + ")";
    const std::string prefix = path + ": ";
    return readerError.starts_with(prefix) ? readerError.substr(prefix.size()) : readerError;
}

int16_t Sample(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool OpenRecording(const std::string& path, platform::CWaveReader& reader, std::string& problem) {
    {
        // The file's type first, for a precise word; the reader opens it without blocking too.
        platform::CInputFile input;
        if (!input.Open(path)) {
            problem = input.ProblemText(platform::TextLanguage::English);
            return false;
        }
    }
    std::string error;
    if (!reader.Open(path, error)) {
        const uint16_t tag = reader.FormatTag();
        problem = tag != 0 && tag != platform::kWaveFormatPcm
                      ? "not PCM (format tag " + std::to_string(tag) + "), need 16-bit PCM"
                      : StructureProblem(path, error);
        return false;
    }
    problem = FormatProblem(reader);
    if (!problem.empty()) {
        reader.Close();
        return false;
    }
    return true;
}

bool OpenSungRecording(const std::string& path, platform::CWaveReader& reader,
                       std::string& problem) {
    if (!OpenRecording(path, reader, problem)) return false;
    if (reader.Frames() > kMaxRecordingSeconds * kRate) {
        problem = "lasts " + std::to_string(reader.Frames() / kRate) + " s; at most " +
                  std::to_string(kMaxRecordingSeconds) + " s can be sung";
        reader.Close();
        return false;
    }
    return true;
}

int64_t ReadStereo(platform::CWaveReader& reader, int16_t* stereo, std::size_t frames) {
    const std::size_t channels = reader.Channels();
    uint8_t block[kReadFrames * 4];
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t want = std::min(frames - done, kReadFrames * 4 / reader.FrameBytes());
        const int64_t got = reader.ReadFrames(block, want);
        if (got < 0) return -1;
        if (got == 0) break;
        for (std::size_t f = 0; f < static_cast<std::size_t>(got); ++f) {
            const uint8_t* frame = block + f * 2 * channels;
            stereo[2 * (done + f)] = Sample(frame);
            stereo[2 * (done + f) + 1] = Sample(frame + (channels == 2 ? 2 : 0));
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<int64_t>(done);
}

}  // namespace tools
