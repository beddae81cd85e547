#include "platform/audiodecoder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/ffmpegdecoder.h"
#include "platform/inputfile.h"
#include "platform/mpg123decoder.h"
#include "platform/waveformat.h"

namespace platform {
namespace {

bool HasMp3Extension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == "mp3";
}

}  // namespace

int OpenAudioFile(const std::string& path, std::string& error) {
    // Opened without blocking and only as a regular file: a FIFO or a device in place of the
    // music is refused at once (see CInputFile).
    CInputFile input;
    if (!input.Open(path)) {
        switch (input.GetProblem()) {
            case CInputFile::Problem::Missing:
                error = "文件不存在";
                break;
            case CInputFile::Problem::Folder:
                error = "这是一个文件夹，不是文件";
                break;
            case CInputFile::Problem::NoPermission:
            case CInputFile::Problem::CannotOpen:
                error = std::string("无法读取（") + std::strerror(errno) + "）";
                break;
            default:
                error = input.ProblemText();
                break;
        }
        return -1;
    }
    if (input.Size() == 0) {
        error = "是空文件";
        return -1;
    }
    return input.Release();
}

std::unique_ptr<CAudioDecoder> OpenAudioDecoder(const std::string& path, long rate, int channels,
                                                std::string& error) {
    if (HasMp3Extension(path)) {
        auto mp3 = std::make_unique<CMpg123Decoder>();
        if (mp3->Open(path, rate, channels, error)) return mp3;
        // Not MPEG audio after all (an OGG or an M4A under an .mp3 name): FFmpeg may know it.
        // When it does not either, the MP3 decoder's word stands.
        if (!mp3->RefusedTheContent()) return nullptr;
        auto other = std::make_unique<CFFmpegDecoder>();
        std::string ignored;
        if (!other->Open(path, rate, channels, ignored)) return nullptr;
        error.clear();
        return other;
    }
    auto decoder = std::make_unique<CFFmpegDecoder>();
    if (!decoder->Open(path, rate, channels, error)) return nullptr;
    return decoder;
}

int AudioLengthMs(const std::string& path, std::string& error) {
    const auto decoder = OpenAudioDecoder(path, 0, 0, error);
    if (!decoder) return -1;
    const int64_t frames = decoder->Length(error);
    if (frames < 0) return -1;
    const int64_t rate = decoder->Rate();
    return MillisecondsOfFrames(frames, rate);
}

MusicProbe ProbeMusic(const std::string& path, std::chrono::milliseconds budget) {
    MusicProbe probe;
    const auto decoder = OpenAudioDecoder(path, 0, 0, probe.strProblem);
    if (!decoder) return probe;
    int64_t frames =
        decoder->LengthBefore(std::chrono::steady_clock::now() + budget, probe.strProblem);
    probe.bExact = frames >= 0;
    if (frames == CAudioDecoder::kTooLongToCount) {
        frames = decoder->EstimatedLength();
        if (frames < 0) frames = decoder->Length(probe.strProblem);
        probe.bExact = false;
    }
    if (frames < 0) {
        if (probe.strProblem.empty()) probe.strProblem = "无法读出长度";
        return probe;
    }
    probe.strProblem.clear();
    probe.nLengthMs = MillisecondsOfFrames(frames, decoder->Rate());
    return probe;
}

}  // namespace platform
