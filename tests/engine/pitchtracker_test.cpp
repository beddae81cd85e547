#include "engine/pitchtracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/bandpass.h"

namespace engine {
namespace {

constexpr int32_t kUntouched = -12345;

std::vector<int16_t> Sine(double hz, int count, double amplitude = 8000.0, int rate = 8000) {
    std::vector<int16_t> block(count);
    for (int i = 0; i < count; ++i)
        block[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * i / rate));
    return block;
}

std::vector<int32_t> Track(const std::vector<int16_t>& block, int sampleRate = 8000) {
    std::vector<int32_t> out(block.size() + 16, kUntouched);
    const int frames =
        TrackPitch(block.data(), static_cast<int>(block.size()), sampleRate, 256, 128, out.data());
    for (size_t k = frames; k < out.size(); ++k)
        EXPECT_EQ(out[k], kUntouched) << "past frame " << k;
    out.resize(frames);
    return out;
}

TEST(TrackPitch, FrameCountIsOneShortOfWhatFits) {
    EXPECT_EQ(PitchFrameCount(960, 8000, 256, 128), 8);    // 1321 resampled samples
    EXPECT_EQ(PitchFrameCount(1920, 8000, 256, 128), 18);  // 2644 resampled samples
    EXPECT_EQ(Track(std::vector<int16_t>(960, 0)).size(), 8u);
    EXPECT_EQ(Track(std::vector<int16_t>(1920, 0)).size(), 18u);
}

class TrackPitchLength : public testing::TestWithParam<int> {};

TEST_P(TrackPitchLength, WritesExactlyTheFramesThatAreCounted) {
    const int count = GetParam();
    // The resampled length is the last sample's position at 11025 Hz, rounded down.
    const int resampled = static_cast<int>((int64_t{count} - 1) * 11025 / 8000);
    const int expected = std::max(0, (resampled - 256) / 128);
    EXPECT_EQ(PitchFrameCount(count, 8000, 256, 128), expected);
    EXPECT_EQ(static_cast<int>(Track(Sine(300.0, count)).size()), expected);
}

INSTANTIATE_TEST_SUITE_P(UnevenSizes, TrackPitchLength,
                         testing::Values(1, 2, 100, 279, 280, 371, 372, 373, 374, 1024, 1025, 1026,
                                         1027, 1028, 3840));

// Resampling written out literally: the source index in two parts and the weight as a truncated
// double-precision difference.
std::vector<int16_t> LiteralResample(const std::vector<int16_t>& s, int rate) {
    const int64_t count = static_cast<int64_t>(s.size()), R = 11025;
    const int64_t m = ((count - 1) / rate) * R + (((count - 1) % rate) * R) / rate;
    std::vector<int16_t> out(m);
    for (int64_t i = 0; i < m; ++i) {
        const int64_t j = ((i - i % R) / R) * rate + ((i % R) * rate) / R;
        const int frac = static_cast<int>(std::trunc(double(i) * 10 * rate / R - 10.0 * double(j)));
        const int next = j + 1 < count ? s[j + 1] : 0;  // weight 0 there
        out[i] = static_cast<int16_t>((s[j] * (10 - frac) + next * frac) / 10);
    }
    return out;
}

class ResampleRate : public testing::TestWithParam<int> {};

TEST_P(ResampleRate, MatchesTheLiteralFormula) {
    const int rate = GetParam();
    for (int count : {1, 2, 959, 960, 1920, rate >= 4000 ? 30011 : 61}) {
        std::vector<int16_t> s(count);
        for (int i = 0; i < count; ++i)
            s[i] = static_cast<int16_t>((i * 7919 + 13) % 65536 - 32768);
        const auto expected = LiteralResample(s, rate);
        ASSERT_EQ(ResampledLength(count, rate), static_cast<int64_t>(expected.size()));
        std::vector<int16_t> out(expected.size() + 1, 4321);
        Resample(s.data(), count, rate, out.data());
        EXPECT_EQ(out.back(), 4321) << "wrote past the resampled length";
        out.pop_back();
        ASSERT_EQ(out, expected) << count << " samples at " << rate << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ResampleRate,
                         testing::Values(1, 7, 4000, 8000, 11024, 11026, 16000, 22050, 44100, 48000,
                                         96000));

TEST(ResampledLength, WorkedNumbers) {
    EXPECT_EQ(ResampledLength(960, 8000), 1321);
    EXPECT_EQ(ResampledLength(1920, 8000), 2644);
    EXPECT_EQ(ResampledLength(1, 8000), 0);
    EXPECT_EQ(ResampledLength(0, 8000), 0);
}

struct Tone {
    double hz;
    int32_t value;
};

class TrackPitchTone : public testing::TestWithParam<Tone> {};

TEST_P(TrackPitchTone, SteadySineGivesItsNoteInEveryFrame) {
    EXPECT_EQ(Track(Sine(GetParam().hz, 960)), std::vector<int32_t>(8, GetParam().value));
}

TEST_P(TrackPitchTone, SurvivesTheVoiceFilter) {
    auto block = Sine(GetParam().hz, 960);
    BandPassFilter(block.data(), 960, kBandPass, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
    EXPECT_EQ(Track(block), std::vector<int32_t>(8, GetParam().value));
}

// 220 Hz: first dip at lag 50, 11025 / 50 = 220.5 Hz, note 57.04. 440 Hz: lag 25, 441 Hz.
// 100 Hz: lag 110. The rest are tones whose period is a whole number of samples at 11025 Hz.
INSTANTIATE_TEST_SUITE_P(WorkedNumbers, TrackPitchTone,
                         testing::Values(Tone{220.0, 570}, Tone{440.0, 690}, Tone{100.0, 433}));

class TrackPitchLag : public testing::TestWithParam<int> {};

TEST_P(TrackPitchLag, ToneOnAWholeLagReadsAsThatLag) {
    const int lag = GetParam();
    const double hz = 11025.0 / lag;
    const auto expected = static_cast<int32_t>(std::trunc(10 * (69 + 12 * std::log2(hz / 440.0))));
    EXPECT_EQ(Track(Sine(hz, 1920)), std::vector<int32_t>(18, expected)) << hz << " Hz";
}

INSTANTIATE_TEST_SUITE_P(VoiceRange, TrackPitchLag,
                         testing::Values(14, 17, 21, 26, 33, 42, 55, 70, 89, 113, 127, 128, 131));

TEST(TrackPitch, NotesOutsideFortyToEightyAreDropped) {
    EXPECT_EQ(Track(Sine(900.0, 960)), std::vector<int32_t>(8, 0));  // note 81.7
    EXPECT_EQ(Track(Sine(70.0, 960)), std::vector<int32_t>(8, 0));   // note 37.3
}

TEST(TrackPitch, SilenceAndConstantBlocksHaveNoPitch) {
    EXPECT_EQ(Track(std::vector<int16_t>(960, 0)), std::vector<int32_t>(8, 0));
    EXPECT_EQ(Track(std::vector<int16_t>(960, -32768)), std::vector<int32_t>(8, 0));
}

TEST(TrackPitch, RefusedArgumentsWriteNothing) {
    const auto block = Sine(220.0, 960);
    struct Case {
        int count, rate, frame, hop;
    };
    for (const Case& c :
         {Case{960, 11025, 256, 128}, Case{0, 8000, 256, 128}, Case{-5, 8000, 256, 128},
          Case{960, 0, 256, 128}, Case{960, -8000, 256, 128}, Case{960, 8000, 0, 128},
          Case{960, 8000, 256, 0}, Case{960, 8000, 40000, 128}}) {
        std::vector<int32_t> out(64, kUntouched);
        EXPECT_EQ(TrackPitch(block.data(), c.count, c.rate, c.frame, c.hop, out.data()), 0);
        EXPECT_EQ(out, std::vector<int32_t>(64, kUntouched));
        EXPECT_EQ(PitchFrameCount(c.count, c.rate, c.frame, c.hop), 0);
    }
}

TEST(TrackPitch, FullScaleSquareWaveIsTracked) {
    // The loudest block the idle path can see; the difference sums must not wrap.
    std::vector<int16_t> block(960);
    for (int i = 0; i < 960; ++i) block[i] = (i / 20) % 2 ? 32767 : -32768;  // 200 Hz
    const auto out = Track(block);
    ASSERT_EQ(out.size(), 8u);
    // 200 Hz has a period of 55.125 samples at 11025 Hz: lag 55, 200.45 Hz, note 55.38.
    EXPECT_EQ(out[0], 553);
}

TEST(HzToNote, ConcertPitchAndOctaves) {
    EXPECT_FLOAT_EQ(HzToNote(440.0f), 69.0f);
    EXPECT_NEAR(HzToNote(880.0f), 81.0f, 1e-5);
    EXPECT_NEAR(HzToNote(220.5f), 57.0393f, 1e-4);
    EXPECT_EQ(HzToNote(0.0f), 0.0f);
    EXPECT_EQ(HzToNote(-440.0f), 0.0f);
}

TEST(ClearOutOfRange, ClearsOnlyVoicedNotesOutside) {
    std::vector<float> notes = {0.0f, 39.99f, 40.0f, 60.0f, 80.0f, 80.01f, -3.0f};
    ClearOutOfRange(notes.data(), static_cast<int>(notes.size()), 40.0f, 80.0f);
    EXPECT_EQ(notes, (std::vector<float>{0.0f, 0.0f, 40.0f, 60.0f, 80.0f, 0.0f, 0.0f}));
}

TEST(AmdfPitch, FrameWithoutDipsHasNoPitch) {
    std::vector<int16_t> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = static_cast<int16_t>(i * 100);
    EXPECT_EQ(AmdfPitch(ramp.data(), 256, 11025), 0.0);
    std::vector<int16_t> flat(256, 1234);
    EXPECT_EQ(AmdfPitch(flat.data(), 256, 11025), 0.0);
}

TEST(AmdfPitch, FirstDipGivesTheFrequency) {
    const auto frame = Sine(11025.0 / 40, 256, 8000.0, 11025);
    EXPECT_DOUBLE_EQ(AmdfPitch(frame.data(), 256, 11025), 11025.0 / 40);
}

using Contour = std::vector<int32_t>;

Contour Hold(Contour c) {
    HoldSmallSteps(c.data(), static_cast<int>(c.size()));
    return c;
}
Contour Repair(Contour c) {
    RepairContour(c.data(), static_cast<int>(c.size()));
    return c;
}
Contour Ends(Contour c) {
    ClearEndFrames(c.data(), static_cast<int>(c.size()));
    return c;
}

TEST(Smoothing, HoldFlattensStepsBelowASemitoneGoingForward) {
    EXPECT_EQ(Hold({600, 605, 612}), (Contour{600, 600, 612}));
    EXPECT_EQ(Hold({600, 605, 609, 614, 618}), (Contour{600, 600, 600, 614, 614}));
    EXPECT_EQ(Hold({0, 9, 20, 11}), (Contour{0, 0, 20, 20}));
}

TEST(Smoothing, RepairRulesInTheirOrder) {
    EXPECT_EQ(Repair({0, 600, 0}), (Contour{0, 0, 0}));            // lone voiced frame
    EXPECT_EQ(Repair({600, 0, 620}), (Contour{600, 610, 620}));    // one-frame gap
    EXPECT_EQ(Repair({600, 700, 610}), (Contour{600, 605, 610}));  // outlier
    EXPECT_EQ(Repair({600, 640, 610}), (Contour{600, 640, 610}));  // within five semitones
    EXPECT_EQ(Repair({600, 660, 0}), (Contour{600, 0, 0}));        // run ends with a jump
    EXPECT_EQ(Repair({600, 640, 0}), (Contour{600, 640, 0}));
    EXPECT_EQ(Repair({0, 600, 700}), (Contour{0, 600, 700}));  // no rule for a run's start
}

TEST(Smoothing, RepairWorksOnTheRepairedPredecessor) {
    // The lone 600 is dropped first, so the gap after it is no longer between two voiced frames.
    EXPECT_EQ(Repair({0, 600, 0, 600, 600}), (Contour{0, 0, 0, 600, 600}));
    // A filled gap is the voiced predecessor of the next step.
    EXPECT_EQ(Repair({600, 0, 600, 0, 600}), (Contour{600, 600, 600, 600, 600}));
}

TEST(Smoothing, EndFrames) {
    EXPECT_EQ(Ends({600, 660, 660}), (Contour{0, 660, 660}));
    EXPECT_EQ(Ends({600, 650, 650}), (Contour{600, 650, 650}));
    EXPECT_EQ(Ends({600, 600, 601}), (Contour{600, 600, 0}));  // the last must equal its neighbour
    EXPECT_EQ(Ends({0, 600}), (Contour{0, 0}));
    EXPECT_EQ(Ends({600}), (Contour{600}));  // one frame: nothing to compare with
    EXPECT_EQ(Ends({}), Contour{});
}

TEST(TrackPitch, ShortBlockWithOneFrameKeepsIt) {
    // 372 samples at 8000 Hz resample to 511 samples: one frame, no end-frame rules.
    const auto out = Track(Sine(220.0, 372));
    EXPECT_EQ(out, Contour{570});
}

}  // namespace
}  // namespace engine
