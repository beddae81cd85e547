#include "tools/quorvel-score/recording.h"

#include <filesystem>
#include <system_error>

#include "audio/buffer.h"
#include "audio/soundfile.h"
#include "platform/messages.h"

namespace tools {
namespace {

constexpr uint32_t kRate = 8000;
constexpr int kReadFrames = 4096;

// What is wrong with the recording's format, or "" when it will do.
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

}  // namespace

bool ReadRecording(const std::string& path, Recording& recording, std::string& problem) {
    recording = Recording{};
    // The reader's own messages become part of our one line.
    platform::MessageCapture messages;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        problem = "no such file";
        return false;
    }
    if (std::filesystem::is_directory(path, error)) {
        problem = "is a directory";
        return false;
    }
    CSoundFile file(path);
    if (!file.IsOK()) {
        const auto shown = messages.Messages();
        problem = shown.empty() ? "cannot be opened for reading"
                                : "not a readable WAVE file (" + shown.front() + ")";
        return false;
    }
    const platform::WaveFormat& format = *file.GetFormat();
    problem = FormatProblem(format);
    if (!problem.empty()) return false;

    const int frameBytes = format.nBlockAlign;
    file.SetBufferSize(kReadFrames);
    CBuffer buffer(kReadFrames * frameBytes, true);
    if (!buffer.m_pData) {
        problem = "out of memory";
        return false;
    }
    // Reads may come back short or end inside a frame; only whole frames are kept.
    std::vector<uint8_t> bytes;
    for (;;) {
        buffer.m_nSize = kReadFrames * frameBytes;
        if (!file.Read(&buffer)) break;
        bytes.insert(bytes.end(), buffer.m_pData, buffer.m_pData + buffer.m_nSize);
    }
    const std::size_t frames = bytes.size() / static_cast<std::size_t>(frameBytes);
    recording.nChannels = format.nChannels;
    recording.samples.resize(frames * format.nChannels);
    for (std::size_t i = 0; i < recording.samples.size(); ++i)  // little-endian
        recording.samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
}

std::vector<int16_t> ToStereo(const Recording& recording) {
    if (recording.nChannels == 2) return recording.samples;
    std::vector<int16_t> stereo(recording.samples.size() * 2);
    for (std::size_t i = 0; i < recording.samples.size(); ++i)
        stereo[2 * i] = stereo[2 * i + 1] = recording.samples[i];
    return stereo;
}

}  // namespace tools
