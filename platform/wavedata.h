// The samples of a RIFF WAVE file of integer PCM, read whole: for short sounds such as the button
// sounds. Long recordings are read as a stream with CWaveReader instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct WaveData {
    unsigned nChannels = 0;
    uint32_t nRate = 0;         // frames per second
    unsigned nBits = 0;         // bits per sample
    std::vector<uint8_t> data;  // the samples as stored, whole frames only
};

// The most sample bytes ReadWaveData takes in.
inline constexpr uint64_t kWaveDataLimit = 64 << 20;

// Reads the "fmt " and "data" chunks, in any order, through CWaveReader (never blocking, regular
// files only). The format may be plain or extensible PCM. A data size of 0 or beyond the end of
// the file (a writer that never finished) runs to the end. Samples of more than limit bytes are
// refused. On failure returns false and a message naming the file and the problem.
bool ReadWaveData(const std::string& path, WaveData& wave, std::string& error,
                  uint64_t limit = kWaveDataLimit);

}  // namespace platform
