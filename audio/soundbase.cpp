#include "audio/soundbase.h"

CSoundBase::CSoundBase() : m_Format{}, m_nBufferSize(1000) {
    m_Format.nFormatTag = platform::kWaveFormatPcm;
    m_Format.nChannels = 1;
    m_Format.nSamplesPerSec = 8000;
    m_Format.nBitsPerSample = 16;
    m_Format.nExtraSize = 0;
    Update();
}

CSoundBase::~CSoundBase() = default;

void CSoundBase::SetBitsPerSample(uint16_t nBits) {
    m_Format.nBitsPerSample = nBits;
    Update();
}

void CSoundBase::SetSamplesPerSecond(uint32_t nRate) {
    m_Format.nSamplesPerSec = nRate;
    Update();
}

void CSoundBase::SetNumberOfChannels(uint16_t nChannels) {
    m_Format.nChannels = nChannels;
    Update();
}

uint16_t CSoundBase::GetBitsPerSample() const { return m_Format.nBitsPerSample; }
uint32_t CSoundBase::GetSamplesPerSecond() const { return m_Format.nSamplesPerSec; }
uint16_t CSoundBase::GetNumberOfChannels() const { return m_Format.nChannels; }

void CSoundBase::SetBufferSize(int32_t nFrames) { m_nBufferSize = nFrames; }
int32_t CSoundBase::GetBufferSize() const { return m_nBufferSize; }

platform::WaveFormat* CSoundBase::GetFormat() { return &m_Format; }
const platform::WaveFormat* CSoundBase::GetFormat() const { return &m_Format; }

void CSoundBase::Update() {
    const uint32_t nBlockAlign = uint32_t(m_Format.nChannels) * (m_Format.nBitsPerSample / 8u);
    m_Format.nBlockAlign = uint16_t(nBlockAlign);
    m_Format.nAvgBytesPerSec = m_Format.nSamplesPerSec * m_Format.nBlockAlign;
}
