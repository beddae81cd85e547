// The precise pitch tracker: TrackPitch's frame grid and values, and its accuracy on sampled
// voices (tests/data/voice, rendered by fluidsynth from MIDI notes, which are the ground truth).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/bandpass.h"
#include "engine/pitchtracker.h"
#include "engine/precisepitchtracker.h"
#include "tests/support/pitchaccuracy.h"

namespace engine {
namespace {

using namespace testing_support;

std::vector<int16_t> Tone(double hz, int count, double amplitude = 8000.0) {
    std::vector<int16_t> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double phase = 2 * M_PI * hz * i / 8000.0;
        samples[static_cast<std::size_t>(i)] = static_cast<int16_t>(
            amplitude * (std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.3 * std::sin(3 * phase)));
    }
    return samples;
}

TEST(PrecisePitchTracker, WritesTrackPitchsFramesAtTheirNotesAcrossTheRange) {
    int32_t values[64];
    for (const int count : {300, 512, 960, 1920})
        EXPECT_EQ(TrackPitchPrecise(Tone(220.0, count).data(), count, 8000, 256, 128, values),
                  PitchFrameCount(count, 8000, 256, 128))
            << count;
    // Tones at the lowest, a middle and the highest note, to the tenth of a semitone.
    for (const int note : {41, 57, 69, 79}) {
        const double hz = 440.0 * std::pow(2.0, (note - 69) / 12.0);
        const int frames = TrackPitchPrecise(Tone(hz, 960).data(), 960, 8000, 256, 128, values);
        ASSERT_EQ(frames, 8);
        for (int k = 0; k < frames; ++k) EXPECT_NEAR(values[k], note * 10, 1) << note << ' ' << k;
    }
    // Quiet sound (below −50 dBFS) and arguments it cannot work with give no pitch.
    EXPECT_EQ(TrackPitchPrecise(Tone(220.0, 960, 40.0).data(), 960, 8000, 256, 128, values), 8);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(values[k], 0);
    EXPECT_EQ(TrackPitchPrecise(Tone(220.0, 960).data(), 960, 1000, 256, 128, values), 0);
    EXPECT_EQ(TrackPitchPrecise(Tone(220.0, 960).data(), 0, 8000, 256, 128, values), 0);
}

// The recording run through the line path: 0.12 s buffers, band-passed, then tracked.
PitchAccuracy Measure(const char* name) {
    const std::string base = std::string("tracker-") + name;
    const auto samples = DecodeVoice(VoiceData(base + ".flac"));
    const auto truth = ReadTruth(VoiceData(base + ".notes"));
    return MeasurePitch(LinePathEstimates(samples, TrackPitchPrecise), truth, samples);
}

TEST(PrecisePitchTracker, IsRightOnSampledVoicesWithAndWithoutVibrato) {
    const PitchAccuracy solo = Measure("solo");
    const PitchAccuracy vibrato = Measure("vibrato");
    ASSERT_GT(solo.voiced, 800);
    ASSERT_GT(solo.quiet, 200);
    EXPECT_GE(solo.Right(), 96.0);
    EXPECT_GE(vibrato.Right(), 95.0);
    EXPECT_LE(solo.Octave(), 1.0);
    EXPECT_LE(vibrato.Octave(), 1.0);
    EXPECT_LE(solo.QuietVoiced(), 2.0);
    EXPECT_LE(vibrato.QuietVoiced(), 2.0);
}

}  // namespace
}  // namespace engine
