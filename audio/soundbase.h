// The PCM sample format and the buffer length that every audio class of the library shares.
#pragma once

#include <cstdint>

#include "platform/waveformat.h"

class CSoundBase {
public:
    // PCM, 1 channel, 8000 Hz, 16 bits, 1000 frames per buffer (2000 bytes, 125 ms).
    CSoundBase();
    virtual ~CSoundBase();

    // Each stores its field and then calls Update.
    void SetBitsPerSample(uint16_t nBits);
    void SetSamplesPerSecond(uint32_t nRate);  // Hz
    void SetNumberOfChannels(uint16_t nChannels);
    uint16_t GetBitsPerSample() const;
    uint32_t GetSamplesPerSecond() const;  // Hz
    uint16_t GetNumberOfChannels() const;

    // Frames per buffer; a buffer holds block alignment × this many bytes. No Update.
    void SetBufferSize(int32_t nFrames);
    int32_t GetBufferSize() const;

    // The format record, 18 bytes, which callers may read and change in place.
    platform::WaveFormat* GetFormat();
    const platform::WaveFormat* GetFormat() const;

    // Derives the block alignment (channels × (bits / 8), integer division) and the average bytes
    // per second (samples per second × block alignment) from the other fields. The results are
    // stored at the record's widths (16 and 32 bits).
    void Update();

protected:
    platform::WaveFormat m_Format;
    int32_t m_nBufferSize;  // frames per buffer
};
