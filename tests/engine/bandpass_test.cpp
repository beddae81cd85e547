#include "engine/bandpass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace engine {
namespace {

// The voice band-pass the evaluation loop runs on every sung block.
void VoiceFilter(std::vector<int16_t>& block) {
    BandPassFilter(block.data(), static_cast<int>(block.size()), kBandPass, 2, 70.0, 1000.0, 8000.0,
                   kHammingWindow);
}

TEST(DesignFir, VoiceBandHasThreeSymmetricTaps) {
    double taps[3];
    DesignFir(2, kBandPass, 70.0 / 8000.0, 1000.0 / 8000.0, kHammingWindow, taps);
    EXPECT_NEAR(taps[0], 0.0166070, 5e-8);
    EXPECT_DOUBLE_EQ(taps[1], 2 * (0.125 - 0.00875));
    EXPECT_EQ(taps[0], taps[2]);
}

TEST(DesignFir, TapsAreSymmetricForEveryOrder) {
    for (int order = 0; order <= kMaxFilterOrder; ++order) {
        std::vector<double> taps(order + 1, NAN);
        DesignFir(order, kBandPass, 0.01, 0.2, kHammingWindow, taps.data());
        for (int i = 0; i <= order; ++i) {
            ASSERT_TRUE(std::isfinite(taps[i])) << "order " << order << " tap " << i;
            ASSERT_EQ(taps[i], taps[order - i]) << "order " << order << " tap " << i;
        }
    }
}

TEST(WindowValue, HammingEndsAtEightHundredthsAndPeaksInTheMiddle) {
    EXPECT_DOUBLE_EQ(WindowValue(kHammingWindow, 3, 0), 0.08);
    EXPECT_DOUBLE_EQ(WindowValue(kHammingWindow, 3, 1), 1.0);
    EXPECT_NEAR(WindowValue(kHammingWindow, 3, 2), 0.08, 1e-15);
}

struct ConstantBlock {
    int16_t in;
    int16_t out;  // away from the block's edges
};

class BandPassConstant : public testing::TestWithParam<ConstantBlock> {};

TEST_P(BandPassConstant, InteriorIsTruncatedTowardZero) {
    std::vector<int16_t> block(960, GetParam().in);
    VoiceFilter(block);
    for (size_t i = 1; i + 1 < block.size(); ++i) ASSERT_EQ(block[i], GetParam().out) << i;
}

INSTANTIATE_TEST_SUITE_P(WorkedNumbers, BandPassConstant,
                         testing::Values(ConstantBlock{1000, 265}, ConstantBlock{-1000, -265},
                                         ConstantBlock{32767, 8706}, ConstantBlock{-32768, -8706},
                                         ConstantBlock{0, 0}));

TEST(BandPassFilter, InputsBeyondTheEdgesCountAsZero) {
    std::vector<int16_t> block(300, 1000);
    VoiceFilter(block);
    // Only two of the three taps see samples at either end: (0.2325 + 0.016607) × 1000.
    EXPECT_EQ(block.front(), 249);
    EXPECT_EQ(block.back(), 249);
}

TEST(BandPassFilter, TapsAreCentredOnTheOutput) {
    std::vector<int16_t> block(400, 0);
    block[200] = 10000;
    VoiceFilter(block);
    EXPECT_EQ(block[199], 166);
    EXPECT_EQ(block[200], 2325);
    EXPECT_EQ(block[201], 166);
    EXPECT_EQ(std::count(block.begin(), block.end(), 0), 397);
}

TEST(BandPassFilter, UsesTheInputAsItWasBeforeTheCall) {
    // A running in-place filter would feed its own outputs back into the next sample.
    std::vector<int16_t> block = {0, 0, 10000, 10000, 0, 0};
    VoiceFilter(block);
    EXPECT_EQ(block, (std::vector<int16_t>{0, 166, 2491, 2491, 166, 0}));
}

TEST(BandPassFilter, TouchesNothingOutsideTheBlock) {
    std::vector<int16_t> memory(1000, 7777);
    BandPassFilter(memory.data() + 10, 900, kBandPass, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(memory[i], 7777);
    for (int i = 910; i < 1000; ++i) ASSERT_EQ(memory[i], 7777);
}

TEST(BandPassFilter, RefusesWhatItCannotDesign) {
    const std::vector<int16_t> original = {100, -200, 300, -400, 500};
    for (int bandType : {0, 1, 2, 4}) {
        auto block = original;
        BandPassFilter(block.data(), 5, bandType, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
        EXPECT_EQ(block, original) << "band type " << bandType;
    }
    for (int order : {-1, 100, 1000}) {
        auto block = original;
        BandPassFilter(block.data(), 5, kBandPass, order, 70.0, 1000.0, 8000.0, kHammingWindow);
        EXPECT_EQ(block, original) << "order " << order;
    }
    auto block = original;
    BandPassFilter(block.data(), 5, kBandPass, 2, 70.0, 1000.0, 0.0, kHammingWindow);
    EXPECT_EQ(block, original);
}

TEST(BandPassFilter, SumsBeyondSixteenBitsAreClamped) {
    // A wide filter whose taps add up to more than 1 in magnitude, fed the full-scale pattern that
    // matches their signs around one output: that output would exceed the 16-bit range.
    const int order = 40;
    const double lowHz = 0.1 * 8000, highHz = 0.4 * 8000;
    std::vector<double> taps(order + 1);
    DesignFir(order, kBandPass, 0.1, 0.4, kHammingWindow, taps.data());
    double magnitude = 0;
    for (double t : taps) magnitude += std::abs(t);
    ASSERT_GT(magnitude, 1.2);

    for (int sign : {1, -1}) {
        std::vector<int16_t> block(200, 0);
        for (int j = 0; j <= order; ++j)
            block[100 - order / 2 + j] = (taps[j] * sign >= 0) ? 32767 : -32768;
        BandPassFilter(block.data(), 200, kBandPass, order, lowHz, highHz, 8000.0, kHammingWindow);
        EXPECT_EQ(block[100], sign > 0 ? 32767 : -32768);
    }
}

struct Gain {
    double hz;
    double gain;
};

class BandPassGain : public testing::TestWithParam<Gain> {};

TEST_P(BandPassGain, SineComesOutScaledByTheFilterGain) {
    const double amplitude = 20000.0;
    std::vector<int16_t> block(960);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>(
            amplitude * std::cos(2 * M_PI * GetParam().hz * static_cast<double>(i) / 8000.0));
    VoiceFilter(block);
    int peak = 0;
    for (size_t i = 1; i + 1 < block.size(); ++i) peak = std::max(peak, std::abs(int{block[i]}));
    EXPECT_NEAR(peak, GetParam().gain * amplitude, 3.0);
}

INSTANTIATE_TEST_SUITE_P(VoiceBand, BandPassGain,
                         testing::Values(Gain{0.0, 0.2657}, Gain{440.0, 0.2638},
                                         Gain{1000.0, 0.2560}, Gain{2000.0, 0.2325}));

}  // namespace
}  // namespace engine
