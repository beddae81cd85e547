#include "platform/wavereader.h"

#include <algorithm>
#include <limits>

#include "platform/waveformat.h"

namespace platform {
namespace {

uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool CWaveReader::Open(const std::string& path, std::string& error) {
    m_file.Close();
    m_nFormatTag = 0;
    m_nChannels = 0;
    m_nRate = 0;
    m_nBits = 0;
    m_nFrameBytes = 0;
    m_nFrames = 0;
    m_nFramesRead = 0;
    auto fail = [&](const std::string& problem) {
        m_file.Close();
        error = path + ": " + problem;
        return false;
    };
    if (!m_file.Open(path))
        return fail("cannot be opened (" +
                    InputProblemText(m_file.OpenProblem(), TextLanguage::English) + ")");
    RiffChunk riff;
    riff.nFormType = FourCC("WAVE");
    if (!m_file.Descend(riff, nullptr, RiffFind::Riff)) return fail("not a RIFF WAVE file");

    // The chunks may come in any order: each one is visited, up to the first that claims more
    // than the file holds. Only the data chunk's place is kept; its samples are read later.
    uint8_t fmt[40] = {};
    int32_t nFmtBytes = -1;  // bytes of the "fmt " chunk read, -1 while none was found
    int64_t nDataOffset = -1;
    int64_t nDataBytes = 0;
    RiffChunk chunk;
    while ((nFmtBytes < 0 || nDataOffset < 0) && m_file.Descend(chunk, &riff, RiffFind::Current)) {
        if (chunk.nId == FourCC("fmt ") && nFmtBytes < 0) {
            nFmtBytes =
                std::max(0, m_file.Read(fmt, int32_t(std::min<uint32_t>(chunk.nSize, sizeof fmt))));
        } else if (chunk.nId == FourCC("data") && nDataOffset < 0) {
            // A size of 0 or one beyond the end of the file is a writer that never finished
            // the file: the samples run to its end.
            const int64_t nLeft = m_file.GetFileSize() - int64_t(chunk.nDataOffset);
            nDataOffset = chunk.nDataOffset;
            nDataBytes = std::max<int64_t>(
                0, chunk.nSize == 0 || chunk.nSize > nLeft ? nLeft : int64_t(chunk.nSize));
        }
        if (!m_file.Ascend(chunk)) break;
    }
    // The oldest writers store a 14-byte record without the bits per sample: they follow from
    // the block alignment and the channel count.
    if (nFmtBytes < 14)
        return fail(nFmtBytes < 0 ? "no format chunk" : "the format chunk is too short");
    if (nDataOffset < 0) return fail("no data chunk");

    uint16_t nTag = GetLE16(fmt);
    const unsigned nChannels = GetLE16(fmt + 2);
    const uint32_t nRate = GetLE32(fmt + 4);
    const unsigned nAlign = GetLE16(fmt + 12);
    const unsigned nBits =
        nFmtBytes >= 16 ? GetLE16(fmt + 14) : (nChannels ? nAlign * 8 / nChannels : 0);
    // The extensible format names its real format in the first two bytes of the sub-format.
    if (nTag == kWaveFormatExtensible && nFmtBytes >= 26) nTag = GetLE16(fmt + 24);
    m_nFormatTag = nTag;
    if (nTag != kWaveFormatPcm) return fail("format " + std::to_string(nTag) + " is not PCM");
    if (nChannels == 0 || nBits == 0 || nBits % 8 != 0)
        return fail(std::to_string(nChannels) + " channels of " + std::to_string(nBits) +
                    " bits is not a sample layout");
    if (!m_file.SetPosition(nDataOffset)) return fail("cannot be read");
    m_nChannels = nChannels;
    m_nRate = nRate;
    m_nBits = nBits;
    m_nFrameBytes = std::size_t(nChannels) * (nBits / 8);
    m_nFrames = uint64_t(nDataBytes) / m_nFrameBytes;
    return true;
}

int64_t CWaveReader::ReadFrames(void* data, std::size_t maxFrames) {
    if (!m_file.IsOpen() || m_nFrameBytes == 0) return -1;
    // One RIFF read is at most 2 GiB - 1 bytes: whole frames of at most 1 MiB at a time.
    const std::size_t nPieceFrames = std::max<std::size_t>(1, (1u << 20) / m_nFrameBytes);
    const uint64_t nWanted = std::min<uint64_t>(maxFrames, FramesLeft());
    auto* out = static_cast<uint8_t*>(data);
    uint64_t nDone = 0;
    while (nDone < nWanted) {
        const std::size_t nFrames = std::size_t(std::min<uint64_t>(nWanted - nDone, nPieceFrames));
        const int32_t nBytes = int32_t(nFrames * m_nFrameBytes);
        const int32_t nGot = m_file.Read(out + nDone * m_nFrameBytes, nBytes);
        if (nGot < 0) return nDone > 0 ? int64_t(nDone) : -1;
        nDone += uint64_t(nGot) / m_nFrameBytes;
        if (nGot < nBytes) {  // the file ended early (it shrank): no more frames
            m_nFrames = m_nFramesRead + nDone;
            break;
        }
    }
    m_nFramesRead += nDone;
    return int64_t(nDone);
}

}  // namespace platform
