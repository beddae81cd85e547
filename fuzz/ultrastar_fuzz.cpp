// Arbitrary bytes as an UltraStar ".txt" file. The reader either names the problem, with a line
// within the file, or gives a song whose remarks name lines within the file and whose every part
// has notes in order, none overlapping the next and none shorter than a beat, that turn into
// reference lines that hold together: at least two values each, every value a rest or a MIDI
// note's value, every lyric on one of its line's values, and lines that start no later than they
// end, within the 6 hours a song may last.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/ultrastarfile.h"
#include "engine/ultrastarreference.h"

namespace {

void CheckLines(const engine::UltraStarFile& file, std::size_t part) {
    std::size_t notes = 0;
    int64_t lastEnd = INT64_MIN;
    for (const auto& phrase : file.parts[part].phrases) {
        if (phrase.notes.empty()) __builtin_trap();
        notes += phrase.notes.size();
        for (const auto& note : phrase.notes) {
            if (note.nLength <= 0 || note.nStartBeat < lastEnd) __builtin_trap();
            lastEnd = note.nStartBeat + note.nLength;
        }
    }
    const auto lines = engine::UltraStarReference(file, part);
    if (lines.size() != file.parts[part].phrases.size()) __builtin_trap();
    std::size_t lyrics = 0;
    double previousEnd = 0;
    for (const auto& line : lines) {
        if (!(line.dStart <= line.dEnd) || line.dStart < previousEnd) __builtin_trap();
        if (line.dStart < 0 || line.dEnd > 6 * 60 * 60) __builtin_trap();
        if (line.nFirstBeat > line.nLastBeatEnd) __builtin_trap();
        previousEnd = line.dEnd;
        const std::size_t count = line.values.size();
        if (count < 2) __builtin_trap();
        for (const int32_t value : line.values)
            if (value != 0 && (value < 120 || value > 10 * 127 + 120 || value % 10 != 0))
                __builtin_trap();
        for (const auto& lyric : line.lyrics)
            if (lyric.nIndex < 0 || static_cast<std::size_t>(lyric.nIndex) >= count)
                __builtin_trap();
        lyrics += line.lyrics.size();
    }
    if (lyrics != notes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // More lines than bytes cannot be: a problem's line lies within the file (UTF-16 or a code
    // page may grow the text, never its line count beyond one per byte).
    const auto lineOk = [size](int line) {
        return line >= 0 && static_cast<std::size_t>(line) <= size + 1;
    };

    engine::UltraStarFile headers;
    engine::UltraStarProblem problem;
    const bool listed = engine::ReadUltraStarHeaders(bytes, headers, problem);
    if (!listed && (problem.strProblem.empty() || !lineOk(problem.nLine))) __builtin_trap();

    engine::UltraStarFile file;
    if (!engine::ReadUltraStarFile(bytes, file, problem)) {
        if (problem.strProblem.empty() || !lineOk(problem.nLine)) __builtin_trap();
        return 0;
    }
    // A song that reads whole lists too, with the same headers.
    if (!listed || headers.strTitle != file.strTitle || headers.dBpm != file.dBpm ||
        headers.strAudio != file.strAudio)
        __builtin_trap();
    if (file.parts.empty() || !(file.dBpm > 0)) __builtin_trap();
    for (const auto& remark : file.remarks)
        if (remark.strProblem.empty() || !lineOk(remark.nLine)) __builtin_trap();
    for (std::size_t part = 0; part < file.parts.size(); ++part) {
        if (file.parts[part].phrases.empty()) __builtin_trap();
        if (part > 0 && file.parts[part - 1].nNumber >= file.parts[part].nNumber) __builtin_trap();
        CheckLines(file, part);
    }
    return 0;
}
