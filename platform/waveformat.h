// The 18-byte PCM format record: how a stream of samples is laid out. It is the body of a WAVE
// file's "fmt " chunk, byte for byte, and the format that the audio classes share.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr uint16_t kWaveFormatPcm = 1;  // format tag of plain integer PCM

// How long `frames` last at `rate` frames per second, in nanoseconds, with no overflow for any
// count a stream reaches.
inline constexpr int64_t NanosecondsOfFrames(int64_t frames, int64_t rate) {
    return frames / rate * 1'000'000'000 + frames % rate * 1'000'000'000 / rate;
}

// How long `frames` last at `rate` frames per second (a rate a decoder takes, up to 2^31), in
// milliseconds rounded to the nearest; a length beyond the int range is held at INT_MAX, and no
// frames or no rate are 0.
inline constexpr int MillisecondsOfFrames(int64_t frames, int64_t rate) {
    if (frames <= 0 || rate <= 0) return 0;
    const int64_t whole = frames / rate;
    if (whole >= INT_MAX / 1000) return INT_MAX;
    const int64_t ms = whole * 1000 + (frames % rate * 1000 + rate / 2) / rate;
    return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
}

#pragma pack(push, 1)
struct WaveFormat {
    uint16_t nFormatTag;       // kWaveFormatPcm for PCM
    uint16_t nChannels;        // interleaved channels per frame
    uint32_t nSamplesPerSec;   // frames per second (Hz)
    uint32_t nAvgBytesPerSec;  // nSamplesPerSec × nBlockAlign
    uint16_t nBlockAlign;      // bytes per frame
    uint16_t nBitsPerSample;   // bits of one sample of one channel
    uint16_t nExtraSize;       // bytes of format extension that follow the record (0 for PCM)
};
#pragma pack(pop)

static_assert(sizeof(WaveFormat) == 18, "the format record is exactly 18 bytes");
static_assert(offsetof(WaveFormat, nChannels) == 2 && offsetof(WaveFormat, nSamplesPerSec) == 4 &&
                  offsetof(WaveFormat, nAvgBytesPerSec) == 8 &&
                  offsetof(WaveFormat, nBlockAlign) == 12 &&
                  offsetof(WaveFormat, nBitsPerSample) == 14 &&
                  offsetof(WaveFormat, nExtraSize) == 16,
              "the fields lie in file order without gaps");

}  // namespace platform
