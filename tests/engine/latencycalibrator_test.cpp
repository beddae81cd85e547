// Onsets and the latency measured from them, on synthetic recordings whose delays are known:
// claps as short noise bursts over a noise floor, sung syllables as tone bursts, missing claps and
// stray noises.
#include "engine/latencycalibrator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/singingengine.h"
#include "platform/capturedevice.h"

namespace engine {
namespace {

// A recording of seconds at rate with a noise floor of the given RMS.
std::vector<int16_t> Floor(double seconds, int rate, double rms, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, rms);
    std::vector<int16_t> samples(std::size_t(seconds * rate));
    for (int16_t& s : samples) s = int16_t(std::clamp(noise(random), -32768.0, 32767.0));
    return samples;
}

void Add(std::vector<int16_t>& samples, std::size_t at, const std::vector<double>& sound) {
    for (std::size_t i = 0; i < sound.size() && at + i < samples.size(); ++i)
        samples[at + i] =
            int16_t(std::clamp(double(samples[at + i]) + sound[i], -32768.0, 32767.0));
}

// A clap: 30 ms of noise at full strength from its first sample, dying away.
std::vector<double> Clap(int rate, double peak, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(0.5, 1.0);
    std::vector<double> sound(std::size_t(rate * 30 / 1000));
    for (std::size_t i = 0; i < sound.size(); ++i)
        sound[i] = (i % 2 ? -1 : 1) * peak * noise(random) * std::exp(-double(i) / rate / 0.008);
    return sound;
}

// A sung "ta": a 220 Hz tone held for the given time, with a 3 ms rise.
std::vector<double> Syllable(int rate, double peak, int ms) {
    std::vector<double> sound(std::size_t(rate * ms / 1000));
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const double t = double(i) / rate;
        sound[i] = peak * std::min(1.0, t / 0.003) * std::sin(2 * M_PI * 220 * t);
    }
    return sound;
}

struct OnsetCase {
    int rate;
    double floorRms;
};

class FindOnsetsTest : public testing::TestWithParam<OnsetCase> {};

TEST_P(FindOnsetsTest, FindsEveryClapWithinAMillisecond) {
    const auto [rate, floorRms] = GetParam();
    std::vector<int16_t> samples = Floor(7.3, rate, floorRms);
    std::vector<int> expected;
    for (int i = 0; i < 8; ++i) {
        const int at = (1000 + 750 * i + 37 * i) * rate / 1000 + i;  // not on a frame boundary
        // Claps of different strength: the softest is a tenth of the loudest.
        Add(samples, std::size_t(at), Clap(rate, 2000.0 + 2500.0 * i, unsigned(i)));
        expected.push_back(at);
    }
    const std::vector<int> onsets = FindOnsets(samples.data(), int(samples.size()), rate);
    ASSERT_EQ(onsets.size(), expected.size());
    for (std::size_t i = 0; i < onsets.size(); ++i)
        EXPECT_NEAR(onsets[i], expected[i], rate / 1000) << "clap " << i;
}

INSTANTIATE_TEST_SUITE_P(RatesAndFloors, FindOnsetsTest,
                         testing::Values(OnsetCase{8000, 0}, OnsetCase{8000, 60},
                                         OnsetCase{8000, 250}, OnsetCase{11025, 100},
                                         OnsetCase{44100, 100}, OnsetCase{48000, 30}));

TEST(FindOnsets, AHeldSyllableIsOneOnsetAndTheNextSyllableAnother) {
    std::vector<int16_t> samples = Floor(3.0, 8000, 80);
    Add(samples, 4000, Syllable(8000, 9000, 400));
    Add(samples, 10000, Syllable(8000, 9000, 400));
    const std::vector<int> onsets = FindOnsets(samples.data(), int(samples.size()), 8000);
    ASSERT_EQ(onsets.size(), 2u);
    EXPECT_NEAR(onsets[0], 4000, 32);  // within the 3 ms rise and a frame
    EXPECT_NEAR(onsets[1], 10000, 32);
}

TEST(FindOnsets, NoiseAloneSilenceAndBadArgumentsGiveNone) {
    const std::vector<int16_t> noise = Floor(3.0, 8000, 300);
    EXPECT_TRUE(FindOnsets(noise.data(), int(noise.size()), 8000).empty());
    const std::vector<int16_t> silence(8000, 0);
    EXPECT_TRUE(FindOnsets(silence.data(), int(silence.size()), 8000).empty());
    EXPECT_TRUE(FindOnsets(nullptr, 100, 8000).empty());
    EXPECT_TRUE(FindOnsets(silence.data(), 0, 8000).empty());
    EXPECT_TRUE(FindOnsets(silence.data(), 10, 8000).empty());  // shorter than a frame
    EXPECT_TRUE(FindOnsets(silence.data(), int(silence.size()), 100).empty());
}

TEST(FindOnsets, AClapAtTheVeryStartAndOneCutOffAtTheEndAreFound) {
    std::vector<int16_t> samples = Floor(1.0, 8000, 50);
    Add(samples, 0, Clap(8000, 9000, 1));
    Add(samples, 7900, Clap(8000, 9000, 2));
    const std::vector<int> onsets = FindOnsets(samples.data(), int(samples.size()), 8000);
    ASSERT_EQ(onsets.size(), 2u);
    EXPECT_LE(onsets[0], 8);
    EXPECT_NEAR(onsets[1], 7900, 8);
}

std::vector<int> Clicks() {
    std::vector<int> clicks;
    for (int i = 0; i < kCalibrationClicks; ++i)
        clicks.push_back(kClickLeadInMs + i * kClickSpacingMs);
    return clicks;
}

TEST(EstimateLatency, TheMedianOfTheOffsetsOfAllEightClaps) {
    const std::vector<int> clicks = Clicks();
    const int jitter[8] = {-20, 14, 3, 0, -6, 25, 9, -31};  // sorted: -31 -20 -6 0 3 9 14 25
    std::vector<int> onsets;
    for (int i = 0; i < 8; ++i) onsets.push_back(clicks[std::size_t(i)] + 140 + jitter[i]);
    const LatencyEstimate estimate = EstimateLatency(clicks, onsets);
    EXPECT_EQ(estimate.nFound, 8);
    EXPECT_EQ(estimate.nLatencyMs, 140);  // the lower middle one
    EXPECT_TRUE(estimate.Enough());
}

struct MissingCase {
    int latency;
    std::vector<int> missing;  // clicks without a clap
    int found;
};

class EstimateLatencyMissing : public testing::TestWithParam<MissingCase> {};

TEST_P(EstimateLatencyMissing, CountsOnlyTheClapsThatCame) {
    const MissingCase& c = GetParam();
    const std::vector<int> clicks = Clicks();
    std::vector<int> onsets;
    for (int i = 0; i < 8; ++i)
        if (std::find(c.missing.begin(), c.missing.end(), i) == c.missing.end())
            onsets.push_back(clicks[std::size_t(i)] + c.latency + (i % 3) * 4);
    const LatencyEstimate estimate = EstimateLatency(clicks, onsets);
    EXPECT_EQ(estimate.nFound, c.found);
    EXPECT_EQ(estimate.Enough(), c.found >= 5);
    if (c.found > 0) {
        EXPECT_NEAR(estimate.nLatencyMs, c.latency, 8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Claps, EstimateLatencyMissing,
    testing::Values(MissingCase{60, {}, 8}, MissingCase{60, {0, 7, 3}, 5},
                    MissingCase{200, {0, 1, 2, 3}, 4},
                    MissingCase{200, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
                    // Slower than the spacing of the clicks: each clap comes after the next click.
                    MissingCase{900, {}, 8}, MissingCase{900, {2}, 7}, MissingCase{1000, {}, 8}));

TEST(EstimateLatency, StrayNoisesBetweenTheClapsDoNotMoveIt) {
    const std::vector<int> clicks = Clicks();
    std::vector<int> onsets;
    for (int i = 0; i < 8; ++i) {
        onsets.push_back(clicks[std::size_t(i)] + 95 + (i % 2 ? 5 : -5));
        onsets.push_back(clicks[std::size_t(i)] + 420);  // a knock half-way to the next click
    }
    onsets.push_back(150);  // a noise before the first click
    std::sort(onsets.begin(), onsets.end());
    const LatencyEstimate estimate = EstimateLatency(clicks, onsets);
    EXPECT_EQ(estimate.nFound, 8);
    EXPECT_EQ(estimate.nLatencyMs, 90);
}

TEST(EstimateLatency, ClapsJustBeforeTheClickGiveNoLatencyBelowZero) {
    const std::vector<int> clicks = Clicks();
    std::vector<int> onsets;
    for (int click : clicks) onsets.push_back(click - 30);
    const LatencyEstimate estimate = EstimateLatency(clicks, onsets);
    EXPECT_EQ(estimate.nFound, 8);
    EXPECT_EQ(estimate.nLatencyMs, 0);
    // Onsets that belong to no click at all.
    EXPECT_EQ(EstimateLatency(clicks, std::vector<int>{-5000, 20000}).nFound, 0);
}

// The whole path: the click track recorded by a microphone that hears it delayMs late, cut into
// buffers of 0.12 s that are handed back handBackMs after their last sample and stamped with the
// accompaniment's clock then. L is delay + hand-back, as a session needs it.
struct RecordingCase {
    int delayMs;
    int handBackMs;
    double floorRms;
};

class CalibratorRecording : public testing::TestWithParam<RecordingCase> {};

TEST_P(CalibratorRecording, MeasuresTheDelayAndTheHandBack) {
    const auto [delayMs, handBackMs, floorRms] = GetParam();
    const ClickTrack track = MakeClickTrack(8000);
    ASSERT_EQ(track.clickMs, Clicks());
    ASSERT_EQ(track.LengthMs(), kClickLeadInMs + 7 * kClickSpacingMs + kClickTailMs);
    std::vector<int16_t> recording = Floor(track.LengthMs() / 1000.0 + 1.5, 8000, floorRms);
    std::vector<double> heard(track.samples.begin(), track.samples.end());
    for (double& s : heard) s *= 0.3;  // a quiet loudspeaker
    Add(recording, std::size_t(delayMs * 8), heard);

    CLatencyCalibrator calibrator(track.clickMs, 8000);
    constexpr int kBuffer = 960;
    bool enoughEarly = false;
    for (std::size_t start = 0; start + kBuffer <= recording.size(); start += kBuffer) {
        const int endMs = int((start + kBuffer) / 8);
        // The first buffers come back before the clock runs.
        const int32_t stamp = endMs < 300 ? platform::kNoClockStamp : endMs + handBackMs;
        if (calibrator.HasEnough()) break;
        enoughEarly = enoughEarly || (stamp != platform::kNoClockStamp &&
                                      stamp < track.clickMs.back() + delayMs + handBackMs &&
                                      calibrator.HasEnough());
        calibrator.AddBuffer(recording.data() + start, kBuffer, stamp);
    }
    EXPECT_FALSE(enoughEarly);
    ASSERT_TRUE(calibrator.HasEnough());
    const LatencyEstimate estimate = calibrator.Estimate();
    EXPECT_EQ(estimate.nFound, 8);
    EXPECT_NEAR(estimate.nLatencyMs, delayMs + handBackMs, 2);
}

INSTANTIATE_TEST_SUITE_P(Microphones, CalibratorRecording,
                         testing::Values(RecordingCase{0, 0, 0}, RecordingCase{90, 35, 40},
                                         RecordingCase{250, 10, 150}, RecordingCase{700, 120, 60}));

TEST(CalibratorRecording, OnsetsInUnstampedBuffersAreNotUsed) {
    const ClickTrack track = MakeClickTrack(8000);
    CLatencyCalibrator calibrator(track.clickMs, 8000);
    for (std::size_t start = 0; start + 960 <= track.samples.size(); start += 960)
        calibrator.AddBuffer(track.samples.data() + start, 960, platform::kNoClockStamp);
    EXPECT_FALSE(calibrator.HasEnough());
    EXPECT_TRUE(calibrator.OnsetTimesMs().empty());
    EXPECT_EQ(calibrator.Estimate().nFound, 0);
}

TEST(MakeClickTrack, ClicksStartAtFullStrengthOnTheirSample) {
    for (int rate : {8000, 44100, 48000}) {
        const ClickTrack track = MakeClickTrack(rate);
        EXPECT_EQ(track.nRate, rate);
        ASSERT_EQ(track.clickMs.size(), std::size_t(kCalibrationClicks));
        for (int ms : track.clickMs) {
            const auto at = std::size_t(int64_t(ms) * rate / 1000);
            EXPECT_EQ(track.samples[at - 1], 0) << rate << " Hz, click at " << ms;
            EXPECT_GT(track.samples[at], 20000) << rate << " Hz, click at " << ms;
        }
        const std::vector<int> onsets =
            FindOnsets(track.samples.data(), int(track.samples.size()), rate);
        ASSERT_EQ(onsets.size(), std::size_t(kCalibrationClicks));
        for (std::size_t i = 0; i < onsets.size(); ++i)
            EXPECT_EQ(onsets[i], int(int64_t(track.clickMs[i]) * rate / 1000));
    }
}

}  // namespace
}  // namespace engine
