// Songs and sung performances made up for tests and benchmarks: a reference melody of held notes
// and rests, the song files that describe it, and a voice-like recording that follows it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/songwriter.h"

namespace testing_support {

inline constexpr int kRate = 8000;              // recording frames per second
inline constexpr double kValueSeconds = 0.015;  // one reference value per 15 ms

struct Note {
    int nPitch;   // reference value, tenths of a semitone with the singer offset; 0 rests
    int nValues;  // its length in reference values
};

struct Line {
    double start;  // seconds
    std::vector<Note> notes;
    double End() const {
        int values = 0;
        for (const Note& note : notes) values += note.nValues;
        return start + values * kValueSeconds;
    }
};

// A song of `lines` lines, each of `notesPerLine` notes of 0.3 to 0.6 s with short rests; each
// line starts where the one before ends, as the break points of a song lie. The first starts at
// `firstStart` seconds. Pitches lie between 600 and 800.
inline std::vector<Line> MakeMelody(int lines, int notesPerLine, unsigned seed,
                                    double firstStart = 5.0) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pitch(60, 80), length(20, 40), rest(0, 3);
    std::vector<Line> melody;
    double start = firstStart;
    for (int l = 0; l < lines; ++l) {
        Line line{start, {}};
        line.notes.push_back({0, 6});  // every line opens with a breath
        // The last line is twice as long: the last 135 sung values (2 s) of a song are not aligned.
        const int notes = l + 1 == lines ? 2 * notesPerLine : notesPerLine;
        for (int n = 0; n < notes; ++n) {
            line.notes.push_back({pitch(random) * 10, length(random)});
            if (rest(random) == 0) line.notes.push_back({0, 8});
        }
        line.notes.push_back({0, 6});
        melody.push_back(line);
        start = line.End();
    }
    return melody;
}

// The melody with a pause of `minGap` to `maxGap` seconds before every line but the first.
inline std::vector<Line> WithGaps(std::vector<Line> melody, unsigned seed, double minGap,
                                  double maxGap) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> gap(minGap, maxGap);
    double shift = 0.0;
    for (std::size_t l = 1; l < melody.size(); ++l) {
        shift += gap(random);
        melody[l].start += shift;
    }
    return melody;
}

// The first `lines` lines of a melody, as a song of their own.
inline std::vector<Line> FirstLines(const std::vector<Line>& melody, std::size_t lines) {
    return {melody.begin(), melody.begin() + static_cast<std::ptrdiff_t>(lines)};
}

// The song files of a melody: N = lines + 1 points, the last point after the last line.
inline SongFiles SongFilesOf(const std::vector<Line>& melody) {
    SongFiles files;
    files.points = std::to_string(melody.size() + 1);
    for (std::size_t l = 0; l < melody.size(); ++l) {
        const Line& line = melody[l];
        files.starts += std::to_string(line.start) + "\n";
        files.ends += std::to_string(line.End()) + "\n";
        std::string record;
        int count = 0;
        for (const Note& note : line.notes)
            for (int v = 0; v < note.nValues; ++v, ++count) {
                record += ' ';
                record += std::to_string(note.nPitch);
            }
        files.lines[static_cast<int>(l) + 1] = std::to_string(count) + record + "\n";
    }
    const double last = melody.back().End() + 2.0;
    files.starts += std::to_string(last) + "\n";
    files.ends += std::to_string(last + 1.0) + "\n";
    return files;
}

// How a made-up singer sings a melody.
struct Singer {
    int nOffset = 120;         // the singer offset of the role: the voice lies this far below
    double semitones = 0.0;    // sung this far above the melody
    bool randomNotes = false;  // ignores the melody and sings other notes of the same range
    // Seconds the singer is ahead of the music (negative: behind). A singer in time with the
    // music sings each note when it plays.
    double early = 0.0;
    unsigned seed = 1;
};

// A mono recording of `seconds` length: a voice with two overtones and a 5.5 Hz vibrato of a
// fifth of a semitone on every note of the melody, silence elsewhere.
inline std::vector<int16_t> Sing(const std::vector<Line>& melody, double seconds,
                                 const Singer& singer) {
    std::vector<int16_t> samples(static_cast<std::size_t>(seconds * kRate), 0);
    std::mt19937 random(singer.seed);
    std::uniform_int_distribution<int> otherNote(60, 80);
    double phase = 0.0;
    for (const Line& line : melody) {
        double at = line.start - singer.early;
        for (const Note& note : line.notes) {
            const double length = note.nValues * kValueSeconds;
            if (note.nPitch != 0) {
                double midi = (note.nPitch - singer.nOffset) / 10.0 + singer.semitones;
                if (singer.randomNotes) midi = otherNote(random) - singer.nOffset / 10.0;
                const double hz = 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
                const auto first = static_cast<std::size_t>(at * kRate);
                const auto count = static_cast<std::size_t>(length * kRate);
                for (std::size_t i = 0; i < count && first + i < samples.size(); ++i) {
                    const double t = static_cast<double>(i) / kRate;
                    const double vibrato = std::pow(2.0, 0.2 / 12.0 * std::sin(2 * M_PI * 5.5 * t));
                    phase += 2 * M_PI * hz * vibrato / kRate;
                    const double fade = std::min({1.0, t / 0.02, (length - t) / 0.02});
                    const double voice =
                        std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase);
                    samples[first + i] = static_cast<int16_t>(6000.0 * fade * voice);
                }
            }
            at += length;
        }
    }
    return samples;
}

// Writes mono samples as a 16-bit PCM WAVE file at 8000 frames per second.
inline void WriteMonoWav(const std::filesystem::path& path, const std::vector<int16_t>& mono) {
    auto le = [](uint32_t n, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(n >> (8 * i));
        return out;
    };
    std::string data;
    for (int16_t s : mono) data += le(static_cast<uint16_t>(s), 2);
    const auto size = static_cast<uint32_t>(data.size());
    WriteFile(path, "RIFF" + le(36 + size, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
                        le(kRate, 4) + le(2 * kRate, 4) + le(2, 2) + le(16, 2) + "data" +
                        le(size, 4) + data);
}

// Room noise: a low rumble with a little hum, about −45 dBFS.
inline std::vector<int16_t> RoomNoise(double seconds) {
    std::mt19937 random(5);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<int16_t> noise(static_cast<std::size_t>(seconds * kRate));
    double low = 0.0;
    for (std::size_t i = 0; i < noise.size(); ++i) {
        low = 0.95 * low + 0.05 * white(random);
        const double hum = std::sin(2 * M_PI * 50.0 * static_cast<double>(i) / kRate);
        noise[i] = static_cast<int16_t>(std::lround(1200.0 * low + 60.0 * hum));
    }
    return noise;
}

// Mono samples as stereo frames, each sample in both channels.
inline std::vector<int16_t> Stereo(const std::vector<int16_t>& mono) {
    std::vector<int16_t> stereo(mono.size() * 2);
    for (std::size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
    return stereo;
}

}  // namespace testing_support
