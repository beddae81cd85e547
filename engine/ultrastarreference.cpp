#include "engine/ultrastarreference.h"

#include <algorithm>
#include <cmath>

namespace engine {
namespace {

// A phrase lasts at most the 6 hours a song may: this bounds the values of a hand-made file.
constexpr double kMaxValues = 6 * 60 * 60 / kUltraStarValueSeconds + 1;

bool IsJudged(UltraStarNoteType type) {
    return type == UltraStarNoteType::Normal || type == UltraStarNoteType::Golden;
}

// The time of value i of a line that starts at start (seconds).
double ValueTime(double start, std::size_t i) {
    return start + kUltraStarValueSeconds * static_cast<double>(i);
}

// The first value index of a line whose time is at or after seconds, or count when none is.
std::size_t FirstValueFrom(double start, std::size_t count, double seconds) {
    const double estimate = std::ceil((seconds - start) / kUltraStarValueSeconds);
    std::size_t i =
        estimate > 0 ? static_cast<std::size_t>(std::min(estimate, static_cast<double>(count))) : 0;
    // The estimate is off by one at most; the times themselves decide.
    while (i > 0 && ValueTime(start, i - 1) >= seconds) --i;
    while (i < count && ValueTime(start, i) < seconds) ++i;
    return i;
}

}  // namespace

int UltraStarOctaveShift(const UltraStarFile& file, std::size_t part) {
    if (part >= file.parts.size()) return 0;
    std::vector<int> midi;
    for (const auto& phrase : file.parts[part].phrases)
        for (const auto& note : phrase.notes)
            if (IsJudged(note.type)) midi.push_back(60 + note.nPitch);
    if (midi.empty()) return 0;
    const auto median = midi.begin() + static_cast<std::ptrdiff_t>((midi.size() - 1) / 2);
    std::nth_element(midi.begin(), median, midi.end());
    // The k with 48 ≤ median + 12k ≤ 59: floor((59 − median) / 12).
    const int above = 59 - *median;
    return above >= 0 ? above / 12 : -((-above + 11) / 12);
}

std::vector<UltraStarLine> UltraStarReference(const UltraStarFile& file, std::size_t part) {
    std::vector<UltraStarLine> lines;
    if (part >= file.parts.size()) return lines;
    const int shift = 12 * UltraStarOctaveShift(file, part);
    std::vector<double> starts, ends;  // of the notes of one phrase, in seconds
    for (const auto& phrase : file.parts[part].phrases) {
        if (phrase.notes.empty()) continue;
        const auto& notes = phrase.notes;
        starts.clear();
        ends.clear();
        for (const auto& note : notes) {
            starts.push_back(file.BeatSeconds(static_cast<double>(note.nStartBeat)));
            ends.push_back(file.BeatSeconds(static_cast<double>(note.nStartBeat + note.nLength)));
        }
        UltraStarLine& line = lines.emplace_back();
        line.nFirstBeat = notes.front().nStartBeat;
        line.nLastBeatEnd = notes.back().nStartBeat + notes.back().nLength;
        line.dStart = starts.front();
        line.dEnd = ends.back();
        const double span = std::round((line.dEnd - line.dStart) / kUltraStarValueSeconds);
        const std::size_t count =
            span >= 2 ? static_cast<std::size_t>(std::min(span, kMaxValues)) : 2;
        line.values.assign(count, 0);
        // Notes do not overlap and come in order, so one pass over the values finds each
        // value's note: the first that ends after the value's time, if it has begun by then.
        std::size_t n = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const double time = ValueTime(line.dStart, i);
            while (n < notes.size() && ends[n] <= time) ++n;
            if (n == notes.size()) break;
            if (starts[n] <= time && IsJudged(notes[n].type)) {
                const int midi = std::clamp(60 + notes[n].nPitch + shift, 0, 127);
                line.values[i] = 10 * midi + 120;
            }
        }
        line.lyrics.reserve(notes.size());
        for (std::size_t k = 0; k < notes.size(); ++k) {
            const std::size_t index =
                std::min(FirstValueFrom(line.dStart, count, starts[k]), count - 1);
            line.lyrics.push_back({static_cast<int>(index), notes[k].strSyllable, notes[k].type});
        }
    }
    return lines;
}

}  // namespace engine
