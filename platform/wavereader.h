// A RIFF WAVE file of integer PCM read as a stream: the header is checked when it opens, the
// samples are then read piece by piece, so that memory stays bounded whatever the file's length.
// The WAV file played as the microphone streams through it; ReadWaveData reads a small file whole
// with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/rifffile.h"

namespace platform {

inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

class CWaveReader {
public:
    // Opens the file (never blocking, a regular file only), finds the "fmt " and "data" chunks in
    // any order and stands at the first sample. The format may be plain PCM or
    // WAVE_FORMAT_EXTENSIBLE whose sub-format is PCM. A data size of 0 or beyond the end of the
    // file (a writer that never finished) runs to the end. On failure returns false and a
    // message naming the file and the problem ("<path>: <problem>").
    bool Open(const std::string& path, std::string& error);
    // Closes the file; no frames are left.
    void Close() {
        m_file.Close();
        m_nFrames = m_nFramesRead;
    }

    // The format tag the file names (the sub-format's for an extensible file), 0 before one was
    // read; set also when Open refuses a format that is not PCM.
    uint16_t FormatTag() const { return m_nFormatTag; }
    unsigned Channels() const { return m_nChannels; }
    uint32_t Rate() const { return m_nRate; }  // frames per second
    unsigned Bits() const { return m_nBits; }  // bits per sample
    std::size_t FrameBytes() const { return m_nFrameBytes; }
    uint64_t Frames() const { return m_nFrames; }  // whole frames in the data chunk
    uint64_t FramesLeft() const { return m_nFrames - m_nFramesRead; }

    // Reads up to maxFrames whole frames, as stored, into data (room for maxFrames ×
    // FrameBytes() bytes). Returns the frames read: 0 at the end of the samples, -1 on an error.
    int64_t ReadFrames(void* data, std::size_t maxFrames);

private:
    CRiffFile m_file;
    uint16_t m_nFormatTag = 0;
    unsigned m_nChannels = 0;
    uint32_t m_nRate = 0;
    unsigned m_nBits = 0;
    std::size_t m_nFrameBytes = 0;
    uint64_t m_nFrames = 0;
    uint64_t m_nFramesRead = 0;
};

}  // namespace platform
