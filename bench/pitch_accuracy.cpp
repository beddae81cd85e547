// How right each pitch tracker is on the sampled-voice recordings of tests/data/voice (rendered
// from MIDI by fluidsynth; see render.py there): the share of voiced frames within 50 cents, the
// octave errors, and the frames voiced where there is only silence or a tail below −50 dBFS. Our
// trackers run as the line path runs them (0.12 s buffers, band-passed); aubio's yin and yinfft
// run over the same recordings with frames of 256 and a hop of 128, silent below −50 dB.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/pitchtracker.h"
#include "engine/precisepitchtracker.h"
#include "tests/support/pitchaccuracy.h"

#ifdef QUORVEL_HAVE_AUBIO
#include <aubio/aubio.h>
#endif

namespace {

using namespace testing_support;
#ifdef QUORVEL_HAVE_AUBIO
std::vector<PitchEstimate> Aubio(const std::vector<int16_t>& samples, const char* method) {
    constexpr uint_t kFrame = 256, kHop = 128;
    aubio_pitch_t* detector = new_aubio_pitch(method, kFrame, kHop, 8000);
    aubio_pitch_set_unit(detector, "midi");
    aubio_pitch_set_silence(detector, -50.0f);
    fvec_t* in = new_fvec(kHop);
    fvec_t* out = new_fvec(1);
    std::vector<PitchEstimate> estimates;
    for (std::size_t first = 0; first + kHop <= samples.size(); first += kHop) {
        for (uint_t i = 0; i < kHop; ++i) in->data[i] = samples[first + i] / 32768.0f;
        aubio_pitch_do(detector, in, out);
        const double note = out->data[0];
        const bool heard = note >= engine::kLowestNote && note <= engine::kHighestNote;
        // The frame just analysed ends with this hop: its centre lies half a frame back.
        const double centre = (static_cast<double>(first + kHop) - kFrame / 2.0) / 8000.0;
        estimates.push_back({centre, heard ? static_cast<int32_t>(std::lround(note * 10)) : 0});
    }
    del_fvec(out);
    del_fvec(in);
    del_aubio_pitch(detector);
    return estimates;
}
#endif

void Report(const char* tracker, const char* recording, const PitchAccuracy& a) {
    std::printf("%-10s %-8s %8.1f%% %8.2f%% %8.2f%%   (%d voiced, %d quiet frames)\n", tracker,
                recording, a.Right(), a.Octave(), a.QuietVoiced(), a.voiced, a.quiet);
}

}  // namespace

int main() {
    std::printf("%-10s %-8s %9s %9s %9s\n", "tracker", "voice", "<=50 ct", "octave", "quiet");
    for (const char* name : {"solo", "vibrato", "choir"}) {
        const std::string base = std::string("tracker-") + name;
        const auto samples = DecodeVoice(VoiceData(base + ".flac"));
        const auto truth = ReadTruth(VoiceData(base + ".notes"));
        Report("amdf", name,
               MeasurePitch(LinePathEstimates(samples, engine::TrackPitch), truth, samples));
        Report("precise", name,
               MeasurePitch(LinePathEstimates(samples, engine::TrackPitchPrecise), truth, samples));
#ifdef QUORVEL_HAVE_AUBIO
        Report("aubio yin", name, MeasurePitch(Aubio(samples, "yin"), truth, samples));
        Report("yinfft", name, MeasurePitch(Aubio(samples, "yinfft"), truth, samples));
#endif
    }
    return 0;
}
