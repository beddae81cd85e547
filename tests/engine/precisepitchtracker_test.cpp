// The precise pitch tracker: TrackPitch's frame grid and values, and its accuracy on sampled
// voices (tests/data/voice, rendered by fluidsynth from MIDI notes, which are the ground truth)
// and on the choir takes of the test songs (tests/data/songs).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
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
    // Tones at the lowest, a middle and the highest note, to the tenth of a semitone, in a block
    // and in one twice as long.
    for (const int count : {960, 1920})
        for (const int note : {41, 57, 69, 79}) {
            const double hz = 440.0 * std::pow(2.0, (note - 69) / 12.0);
            const int frames =
                TrackPitchPrecise(Tone(hz, count).data(), count, 8000, 256, 128, values);
            ASSERT_EQ(frames, PitchFrameCount(count, 8000, 256, 128));
            for (int k = 0; k < frames; ++k)
                EXPECT_NEAR(values[k], note * 10, 1) << count << ' ' << note << ' ' << k;
        }
    EXPECT_EQ(TrackPitchPrecise(Tone(220.0, 960).data(), 960, 1000, 256, 128, values), 0);
    EXPECT_EQ(TrackPitchPrecise(Tone(220.0, 960).data(), 0, 8000, 256, 128, values), 0);
}

// Sound without a pitch gets none, also beside a tone whose frames reach into it.
TEST(PrecisePitchTracker, GivesNoPitchToQuietOrAperiodicSound) {
    std::vector<int16_t> noise(960);
    uint32_t seed = 12345;
    for (int16_t& sample : noise) {
        seed = seed * 1664525u + 1013904223u;
        sample = static_cast<int16_t>((static_cast<int32_t>(seed >> 16) - 32768) / 4);
    }
    BandPassFilter(noise.data(), 960, kBandPass, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
    std::vector<int16_t> tail = Tone(220.0, 960);  // silence from 60 ms on
    std::fill(tail.begin() + 480, tail.end(), 0);
    struct Case {
        const char* name;
        std::vector<int16_t> samples;
        int pitched, quiet;  // frames before the first have 220 Hz, from the second on no pitch
    };
    const Case cases[] = {{"below -50 dBFS", Tone(220.0, 960, 40.0), 0, 0},
                          {"band-passed noise", noise, 0, 0},
                          {"silence after a tone", tail, 5, 6}};
    for (const Case& c : cases) {
        int32_t values[8];
        ASSERT_EQ(TrackPitchPrecise(c.samples.data(), 960, 8000, 256, 128, values), 8) << c.name;
        for (int k = 0; k < c.pitched; ++k) EXPECT_NEAR(values[k], 570, 1) << c.name << ' ' << k;
        for (int k = c.quiet; k < 8; ++k) EXPECT_EQ(values[k], 0) << c.name << ' ' << k;
    }
}

// A recording (decoded to 8000 Hz) and the notes it was rendered from.
struct Take {
    std::string audio, notes;
};

// The takes run through the line path (0.12 s buffers, band-passed, then tracked), their frames
// counted together.
PitchAccuracy Measure(const std::vector<Take>& takes) {
    PitchAccuracy total;
    for (const Take& take : takes) {
        const auto samples = DecodeVoice(take.audio);
        const PitchAccuracy a = MeasurePitch(LinePathEstimates(samples, TrackPitchPrecise),
                                             ReadTruth(take.notes), samples);
        total.voiced += a.voiced;
        total.right += a.right;
        total.octave += a.octave;
        total.quiet += a.quiet;
        total.quietVoiced += a.quietVoiced;
    }
    return total;
}

Take Voice(const std::string& name) {
    return {VoiceData("tracker-" + name + ".flac"), VoiceData("tracker-" + name + ".notes")};
}

TEST(PrecisePitchTracker, IsRightOnSoloVoicesWithAndWithoutVibratoAndOnChoirs) {
    std::vector<Take> songChoirs;  // both roles of every test song, sung by a choir
    for (const char* song :
         {"adeste-fideles", "amazing-grace", "frere-jacques", "greensleeves", "la-cucaracha",
          "ode-an-die-freude", "oh-susanna", "sakura-sakura", "scarborough-fair", "stille-nacht",
          "when-the-saints", "yankee-doodle"})
        for (const char* role : {"role1", "role2"}) {
            const std::string take = std::string(QUORVEL_TEST_DATA) + "/songs/" + song + "/" + role;
            songChoirs.push_back({take + "-choir.ogg", take + ".notes"});
        }
    struct Row {
        const char* name;
        std::vector<Take> takes;
        double right, octave;  // at least, at most (% of the frames inside notes)
    };
    const Row rows[] = {{"solo", {Voice("solo")}, 98.0, 0.5},
                        {"vibrato", {Voice("vibrato")}, 97.0, 0.5},
                        {"choir", {Voice("choir")}, 81.5, 3.8},
                        {"song choirs", songChoirs, 72.5, 4.0}};
    for (const Row& row : rows) {
        const PitchAccuracy a = Measure(row.takes);
        ASSERT_GT(a.voiced, 800) << row.name;
        ASSERT_GT(a.quiet, 70) << row.name;
        EXPECT_GE(a.Right(), row.right) << row.name;
        EXPECT_LE(a.Octave(), row.octave) << row.name;
        EXPECT_LE(a.QuietVoiced(), 0.5) << row.name;
    }
}

}  // namespace
}  // namespace engine
