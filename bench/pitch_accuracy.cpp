// How right each pitch tracker is on the sampled-voice recordings of tests/data/voice (rendered
// from MIDI by fluidsynth; see render.py there), and on the choir takes of the test songs
// (tests/data/songs, both roles, added up per role): the share of voiced frames within 50 cents,
// the octave errors, and the frames voiced where there is only silence or a tail below −50 dBFS.
// Our trackers run as the line path runs them (0.12 s buffers, band-passed); aubio's yin and
// yinfft run over the same recordings with frames of 256 and a hop of 128, silent below −50 dB.
// The precise tracker's share on each song's choir take follows.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
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

void Add(PitchAccuracy& total, const PitchAccuracy& a) {
    total.voiced += a.voiced;
    total.right += a.right;
    total.octave += a.octave;
    total.quiet += a.quiet;
    total.quietVoiced += a.quietVoiced;
}

// A recording and the notes it was rendered from.
struct Take {
    std::string name, audio, notes;
};

// The trackers compared, each giving its values over a recording.
using Estimates = std::function<std::vector<PitchEstimate>(const std::vector<int16_t>&)>;
std::vector<std::pair<const char*, Estimates>> Trackers() {
    std::vector<std::pair<const char*, Estimates>> trackers = {
        {"amdf", [](const auto& s) { return LinePathEstimates(s, engine::TrackPitch); }},
        {"precise", [](const auto& s) { return LinePathEstimates(s, engine::TrackPitchPrecise); }}};
#ifdef QUORVEL_HAVE_AUBIO
    trackers.push_back({"aubio yin", [](const auto& s) { return Aubio(s, "yin"); }});
    trackers.push_back({"yinfft", [](const auto& s) { return Aubio(s, "yinfft"); }});
#endif
    return trackers;
}

// The choir takes of role (1 or 2) of every song in tests/data/songs, in name order.
std::vector<Take> SongChoirs(int role) {
    std::vector<Take> takes;
    const std::filesystem::path songs = std::string(QUORVEL_TEST_DATA) + "/songs";
    if (!std::filesystem::is_directory(songs)) return takes;
    const std::string prefix = "role" + std::to_string(role);
    for (const auto& song : std::filesystem::directory_iterator(songs)) {
        const auto audio = song.path() / (prefix + "-choir.ogg");
        const auto notes = song.path() / (prefix + ".notes");
        if (std::filesystem::exists(audio) && std::filesystem::exists(notes))
            takes.push_back({song.path().filename().string(), audio.string(), notes.string()});
    }
    std::sort(takes.begin(), takes.end(),
              [](const Take& a, const Take& b) { return a.name < b.name; });
    return takes;
}

int Run() {
    const auto trackers = Trackers();
    std::printf("%-10s %-8s %9s %9s %9s\n", "tracker", "voice", "<=50 ct", "octave", "quiet");
    for (const char* name : {"solo", "vibrato", "choir"}) {
        const std::string base = std::string("tracker-") + name;
        const auto samples = DecodeVoice(VoiceData(base + ".flac"));
        const auto truth = ReadTruth(VoiceData(base + ".notes"));
        for (const auto& [tracker, estimates] : trackers)
            Report(tracker, name, MeasurePitch(estimates(samples), truth, samples));
    }

    // The songs' choir takes, each role's added up; then the precise tracker on each take.
    std::vector<std::string> lines;
    for (const int role : {1, 2}) {
        const auto takes = SongChoirs(role);
        if (takes.empty()) continue;
        std::vector<PitchAccuracy> totals(trackers.size());
        for (const Take& take : takes) {
            const auto samples = DecodeVoice(take.audio);
            const auto truth = ReadTruth(take.notes);
            for (std::size_t t = 0; t < trackers.size(); ++t) {
                const PitchAccuracy a = MeasurePitch(trackers[t].second(samples), truth, samples);
                Add(totals[t], a);
                if (std::string(trackers[t].first) != "precise") continue;
                char line[160];
                std::snprintf(line, sizeof line, "%-20s role %d %8.1f%% %8.2f%% %8.2f%%",
                              take.name.c_str(), role, a.Right(), a.Octave(), a.QuietVoiced());
                lines.push_back(line);
            }
        }
        const std::string recording = "songs " + std::to_string(role);
        for (std::size_t t = 0; t < trackers.size(); ++t)
            Report(trackers[t].first, recording.c_str(), totals[t]);
    }
    if (!lines.empty()) {
        std::printf("\nprecise on each song's choir take:\n%-27s %9s %9s %9s\n", "song", "<=50 ct",
                    "octave", "quiet");
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    }
    return 0;
}

}  // namespace

int main() {
    try {
        return Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
