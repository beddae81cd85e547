#include "platform/wavedata.h"

#include "platform/wavereader.h"

namespace platform {

bool ReadWaveData(const std::string& path, WaveData& wave, std::string& error, uint64_t limit) {
    wave = WaveData{};
    CWaveReader reader;
    if (!reader.Open(path, error)) return false;
    const uint64_t nBytes = reader.Frames() * reader.FrameBytes();
    if (nBytes > limit) {
        error = path + ": " + std::to_string(nBytes) + " bytes of samples; at most " +
                std::to_string(limit) + " can be read whole";
        return false;
    }
    std::vector<uint8_t> data(static_cast<std::size_t>(nBytes));
    const int64_t nFrames =
        reader.ReadFrames(data.data(), static_cast<std::size_t>(reader.Frames()));
    if (nFrames < 0) {
        error = path + ": the samples cannot be read";
        return false;
    }
    data.resize(static_cast<std::size_t>(nFrames) * reader.FrameBytes());
    wave.nChannels = reader.Channels();
    wave.nRate = reader.Rate();
    wave.nBits = reader.Bits();
    wave.data = std::move(data);
    return true;
}

}  // namespace platform
