#include "audio/soundbase.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

TEST(SoundBaseTest, DefaultsArePcmMono8000Hz16BitIn2000ByteBuffers) {
    const CSoundBase base;
    const platform::WaveFormat* pFormat = base.GetFormat();
    EXPECT_EQ(pFormat->nFormatTag, 1);
    EXPECT_EQ(pFormat->nChannels, 1);
    EXPECT_EQ(pFormat->nSamplesPerSec, 8000u);
    EXPECT_EQ(pFormat->nAvgBytesPerSec, 16000u);
    EXPECT_EQ(pFormat->nBlockAlign, 2);
    EXPECT_EQ(pFormat->nBitsPerSample, 16);
    EXPECT_EQ(pFormat->nExtraSize, 0);
    EXPECT_EQ(pFormat->nBlockAlign * base.GetBufferSize(), 2000);
}

struct FormatCase {
    uint16_t nChannels, nBits;
    uint32_t nRate;
    uint16_t nBlockAlign;
    uint32_t nBytesPerSecond;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.nChannels << " channels, " << c.nBits << " bits, " << c.nRate << " Hz";
}

class SoundBaseFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SoundBaseFormatTest, SettersDeriveAlignmentAndRate) {
    const FormatCase& c = GetParam();
    CSoundBase base;
    base.SetSamplesPerSecond(c.nRate);
    base.SetNumberOfChannels(c.nChannels);
    base.SetBitsPerSample(c.nBits);
    EXPECT_EQ(base.GetNumberOfChannels(), c.nChannels);
    EXPECT_EQ(base.GetBitsPerSample(), c.nBits);
    EXPECT_EQ(base.GetSamplesPerSecond(), c.nRate);
    EXPECT_EQ(base.GetFormat()->nBlockAlign, c.nBlockAlign);
    EXPECT_EQ(base.GetFormat()->nAvgBytesPerSec, c.nBytesPerSecond);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SoundBaseFormatTest,
    ::testing::Values(FormatCase{2, 16, 44100, 4, 176400}, FormatCase{1, 8, 8000, 1, 8000},
                      FormatCase{2, 24, 48000, 6, 288000},
                      FormatCase{1, 12, 8000, 1, 8000},  // 12 / 8 is 1 in integer division
                      FormatCase{2, 4, 8000, 0, 0}, FormatCase{6, 32, 96000, 24, 2304000}));

}  // namespace
