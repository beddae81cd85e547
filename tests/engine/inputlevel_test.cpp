#include "engine/inputlevel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace engine {
namespace {

std::vector<int16_t> Sine(double hz, int count, double amplitude, int rate = 8000) {
    std::vector<int16_t> block(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        block[std::size_t(i)] =
            int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
    return block;
}

TEST(LevelDbfs, AgainstTheRmsOfKnownSignals) {
    std::vector<int16_t> square(960);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = i % 2 ? -32767 : 32767;
    EXPECT_NEAR(LevelDbfs(square.data(), 960), 0.0f, 0.01f);
    for (double amplitude : {16000.0, 1000.0, 30.0}) {
        const auto sine = Sine(250, 961, amplitude);  // a whole number of periods is not needed
        const double expected = 20 * std::log10(amplitude / std::sqrt(2.0) / 32768.0);
        EXPECT_NEAR(LevelDbfs(sine.data(), 961), expected, 0.1) << amplitude;
    }
    const std::vector<int16_t> silence(960, 0);
    EXPECT_EQ(LevelDbfs(silence.data(), 960), kSilenceDbfs);
    EXPECT_EQ(LevelDbfs(nullptr, 960), kSilenceDbfs);
    EXPECT_EQ(LevelDbfs(square.data(), 0), kSilenceDbfs);
    const std::vector<int16_t> one(1, 1);  // −90.3 dBFS
    EXPECT_NEAR(LevelDbfs(one.data(), 1), -90.3f, 0.1f);
}

TEST(MeterPercent, LinearInDecibelsBetweenTheFloorAndFullScale) {
    EXPECT_EQ(MeterPercent(kSilenceDbfs), 0);
    EXPECT_EQ(MeterPercent(-60.0f), 0);
    EXPECT_EQ(MeterPercent(-59.0f), 1);
    EXPECT_EQ(MeterPercent(-30.0f), 50);
    EXPECT_EQ(MeterPercent(-0.5f), 99);
    EXPECT_EQ(MeterPercent(0.0f), 100);
    EXPECT_EQ(MeterPercent(std::nanf("")), 0);
}

TEST(NoteName, NearestSemitoneWithItsOctave) {
    EXPECT_EQ(NoteName(690), "A4");
    EXPECT_EQ(NoteName(570), "A3");
    EXPECT_EQ(NoteName(600), "C4");
    EXPECT_EQ(NoteName(610), "C#4");
    EXPECT_EQ(NoteName(594), "B3");  // 59.4 is nearer B3
    EXPECT_EQ(NoteName(595), "C4");  // half-way goes up
    EXPECT_EQ(NoteName(400), "E2");
    EXPECT_EQ(NoteName(4), "C-1");
    EXPECT_EQ(NoteName(5), "C#-1");
    EXPECT_EQ(NoteName(1270), "G9");
    EXPECT_EQ(NoteName(0), "");
    EXPECT_EQ(NoteName(-10), "");
    EXPECT_EQ(NoteName(1280), "");
}

TEST(BlockPitch, TheNoteOfASungToneAndNoneOfSilence) {
    const auto a3 = Sine(220, 960, 8000);
    EXPECT_NEAR(BlockPitch(a3.data(), 960, 8000), 570, 3);
    EXPECT_EQ(NoteName(BlockPitch(a3.data(), 960, 8000)), "A3");
    const auto e4 = Sine(329.63, 1921, 4000);
    EXPECT_EQ(NoteName(BlockPitch(e4.data(), 1921, 8000)), "E4");
    const std::vector<int16_t> silence(960, 0);
    EXPECT_EQ(BlockPitch(silence.data(), 960, 8000), 0);
    EXPECT_EQ(BlockPitch(a3.data(), 0, 8000), 0);
}

}  // namespace
}  // namespace engine
