#include "platform/wavedata.h"

#include <algorithm>

#include "platform/rifffile.h"
#include "platform/waveformat.h"

namespace platform {
namespace {

constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool ReadWaveData(const std::string& path, WaveData& wave, std::string& error) {
    wave = WaveData{};
    CRiffFile file;
    if (!file.Open(path)) {
        error = path + ": cannot be opened";
        return false;
    }
    RiffChunk riff;
    riff.nFormType = FourCC("WAVE");
    if (!file.Descend(riff, nullptr, RiffFind::Riff)) {
        error = path + ": not a RIFF WAVE file";
        return false;
    }

    // The chunks may come in any order: each one is visited, up to the first that claims more
    // than the file holds.
    uint8_t fmt[40] = {};
    int32_t nFmtBytes = -1;  // bytes of the "fmt " chunk read, -1 while none was found
    std::vector<uint8_t> data;
    bool bData = false;
    RiffChunk chunk;
    while ((nFmtBytes < 0 || !bData) && file.Descend(chunk, &riff, RiffFind::Current)) {
        if (chunk.nId == FourCC("fmt ") && nFmtBytes < 0) {
            nFmtBytes =
                std::max(0, file.Read(fmt, int32_t(std::min<uint32_t>(chunk.nSize, sizeof fmt))));
        } else if (chunk.nId == FourCC("data") && !bData) {
            // A size of 0 or one beyond the end of the file is a writer that never finished
            // the file: the samples run to its end.
            const int64_t nLeft = file.GetFileSize() - int64_t(chunk.nDataOffset);
            const int64_t nBytes =
                chunk.nSize == 0 || chunk.nSize > nLeft ? nLeft : int64_t(chunk.nSize);
            data.resize(std::size_t(std::max<int64_t>(0, nBytes)));
            std::size_t nGot = 0;
            while (nGot < data.size()) {
                const int32_t nPiece = int32_t(std::min<std::size_t>(data.size() - nGot, 1 << 20));
                const int32_t n = file.Read(data.data() + nGot, nPiece);
                if (n <= 0) break;
                nGot += std::size_t(n);
            }
            data.resize(nGot);
            bData = true;
        }
        if (!file.Ascend(chunk)) break;
    }
    if (nFmtBytes < 16) {
        error = path + (nFmtBytes < 0 ? ": no format chunk" : ": the format chunk is too short");
        return false;
    }
    if (!bData) {
        error = path + ": no data chunk";
        return false;
    }

    uint16_t nTag = GetLE16(fmt);
    const unsigned nChannels = GetLE16(fmt + 2);
    const uint32_t nRate = GetLE32(fmt + 4);
    const unsigned nBits = GetLE16(fmt + 14);
    // The extensible format names its real format in the first two bytes of the sub-format.
    if (nTag == kWaveFormatExtensible && nFmtBytes >= 26) nTag = GetLE16(fmt + 24);
    if (nTag != kWaveFormatPcm) {
        error = path + ": format " + std::to_string(nTag) + " is not PCM";
        return false;
    }
    if (nChannels == 0 || nBits == 0 || nBits % 8 != 0) {
        error = path + ": " + std::to_string(nChannels) + " channels of " + std::to_string(nBits) +
                " bits is not a sample layout";
        return false;
    }
    const std::size_t frameBytes = std::size_t(nChannels) * (nBits / 8);
    data.resize(data.size() / frameBytes * frameBytes);
    wave.nChannels = nChannels;
    wave.nRate = nRate;
    wave.nBits = nBits;
    wave.data = std::move(data);
    return true;
}

}  // namespace platform
