// How right a pitch tracker is on the sampled-voice recordings of tests/data/voice, against the
// MIDI notes they were rendered from: the share of voiced frames within 50 cents, the octave
// errors, and the frames called voiced where there is silence or only a tail below −50 dBFS.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/bandpass.h"
#include "engine/pitchtracker.h"
#include "platform/audiodecoder.h"

namespace testing_support {

// A note of a recording's ground truth: sounding from on to off (seconds) at midi, bent by
// cents × sin(2π hz (t − on)).
struct TruthNote {
    double on = 0, off = 0;
    int midi = 0;
    double hz = 0, cents = 0;
    double PitchAt(double t) const {
        return midi + cents / 100.0 * std::sin(2 * M_PI * hz * (t - on));
    }
};

// A tracker's value at a time: tenths of a semitone, 0 for no pitch.
struct PitchEstimate {
    double t = 0;
    int32_t value = 0;
};

struct PitchAccuracy {
    int voiced = 0;       // frames inside a note (past its first 40 ms)
    int right = 0;        // of them, within 50 cents
    int octave = 0;       // of them, an octave or two off (within a semitone)
    int quiet = 0;        // frames outside every note whose sound is below −50 dBFS
    int quietVoiced = 0;  // of them, given a pitch
    double Right() const { return voiced ? 100.0 * right / voiced : 0.0; }
    double Octave() const { return voiced ? 100.0 * octave / voiced : 0.0; }
    double QuietVoiced() const { return quiet ? 100.0 * quietVoiced / quiet : 0.0; }
};

inline std::string VoiceData(const std::string& name) {
    return std::string(QUORVEL_TEST_DATA) + "/voice/" + name;
}

// The recording as 8000 Hz mono samples.
inline std::vector<int16_t> DecodeVoice(const std::string& path) {
    std::string error;
    auto decoder = platform::OpenAudioDecoder(path, 8000, 1, error);
    if (!decoder) throw std::runtime_error(path + ": " + error);
    std::vector<int16_t> samples;
    int16_t block[4096];
    while (const int got = decoder->Read(block, 4096))
        samples.insert(samples.end(), block, block + got);
    return samples;
}

inline std::vector<TruthNote> ReadTruth(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::vector<TruthNote> notes;
    TruthNote note;
    while (in >> note.on >> note.off >> note.midi >> note.hz >> note.cents) notes.push_back(note);
    return notes;
}

// A tracker's values over a recording as the line path gets them: 0.12 s buffers, each band-passed
// and tracked on its own; each value at its frame's centre.
using LineTracker = int (*)(const int16_t*, int, int, int, int, int32_t*);
inline std::vector<PitchEstimate> LinePathEstimates(const std::vector<int16_t>& samples,
                                                    LineTracker track) {
    constexpr std::size_t kBuffer = 960;
    std::vector<PitchEstimate> estimates;
    std::vector<int16_t> block;
    int32_t values[64];
    for (std::size_t first = 0; first + kBuffer <= samples.size(); first += kBuffer) {
        block.assign(samples.begin() + static_cast<std::ptrdiff_t>(first),
                     samples.begin() + static_cast<std::ptrdiff_t>(first + kBuffer));
        engine::BandPassFilter(block.data(), kBuffer, engine::kBandPass, 2, 70.0, 1000.0, 8000.0,
                               engine::kHammingWindow);
        const int frames = track(block.data(), kBuffer, 8000, 256, 128, values);
        for (int k = 0; k < frames; ++k)
            estimates.push_back(
                {static_cast<double>(first) / 8000.0 + (k * 128.0 + 128.0) / engine::kTrackerRate,
                 values[k]});
    }
    return estimates;
}

inline PitchAccuracy MeasurePitch(const std::vector<PitchEstimate>& estimates,
                                  const std::vector<TruthNote>& notes,
                                  const std::vector<int16_t>& samples, int rate = 8000) {
    PitchAccuracy accuracy;
    const double quiet = 32768.0 * std::pow(10.0, -50.0 / 20.0);
    for (const PitchEstimate& e : estimates) {
        const TruthNote* in = nullptr;
        bool sounding = false;
        for (const TruthNote& n : notes) {
            if (e.t >= n.on && e.t <= n.off) sounding = true;
            if (e.t >= n.on + 0.04 && e.t <= n.off - 0.02) in = &n;
        }
        if (in) {
            ++accuracy.voiced;
            const double sung = e.value / 10.0, truth = in->PitchAt(e.t);
            if (e.value != 0 && std::abs(sung - truth) <= 0.5) ++accuracy.right;
            const double off = std::abs(sung - truth);
            if (e.value != 0 && (std::abs(off - 12) <= 1 || std::abs(off - 24) <= 1))
                ++accuracy.octave;
        } else if (!sounding) {
            // The sound's level over the 40 ms around the frame.
            const auto centre = static_cast<long>(e.t * rate);
            double energy = 0;
            int count = 0;
            for (long i = centre - rate / 50; i < centre + rate / 50; ++i) {
                if (i < 0 || i >= static_cast<long>(samples.size())) continue;
                const double sample = samples[static_cast<std::size_t>(i)];
                energy += sample * sample;
                ++count;
            }
            if (count == 0 || std::sqrt(energy / count) >= quiet) continue;
            ++accuracy.quiet;
            if (e.value != 0) ++accuracy.quietVoiced;
        }
    }
    return accuracy;
}

}  // namespace testing_support
