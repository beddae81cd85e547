// What the review of a sung song shows for each of its lines, gathered from what the engine
// reported while it judged (the line reports and the record of every judged buffer): the reference
// melody as notes, the pitch curve the engine heard with each point's verdict, and the line's
// result with its key offset in words a singer understands. Nothing is analysed a second time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engineview.h"
#include "engine/song.h"

namespace engine {

// A held note of the reference: from start to end (seconds from the line's start) at value
// (tenths of a semitone on the reference's scale).
struct ReviewNote {
    double start = 0, end = 0;
    int32_t value = 0;
    std::string strLyric;  // the syllable sung on it, when the song gives one
};

enum class Verdict { Neutral, Hit, Near, Miss };

// A point of the heard curve: seconds from the line's start, the value heard on the reference's
// scale (after the singer offset and the key), and the verdict of its buffer.
struct ReviewPoint {
    double t = 0;
    int32_t value = 0;
    Verdict verdict = Verdict::Neutral;
};

struct LineReview {
    int nLine = 0;  // in its song
    double duration = 0;
    std::vector<ReviewNote> notes;
    std::vector<ReviewPoint> heard;  // voiced points only, in time order
    LineReport report;
    double inTune = 0;       // share of the sung points whose buffer was a hit (0 to 1)
    int nSungBuffers = 0;    // judged buffers with a voice in them
    int nInTuneBuffers = 0;  // those of them that were hits
    // The part of the line its judged buffers covered, seconds from its start (within the line).
    double judgedFrom = 0, judgedTo = 0;
};

// The reviews of a song's lines, up to the last one scored and the one after it (when the song
// was stopped in it), from its line reports and its judged buffers, in order.
std::vector<LineReview> BuildLineReviews(const CSong& song, const std::vector<LineReport>& lines,
                                         const std::vector<BufferReport>& buffers);

// The review of one line (0 to N − 2) from its report (null when it was not scored) and the
// judged buffers (those of other lines are passed over): a practice attempt's.
LineReview BuildLineReview(const CSong& song, int line, const LineReport* report,
                           const std::vector<BufferReport>& buffers);

// The key offset in words: "你唱的是原调" for less than half a semitone, else "你比原调高了 2 个
// 半音" or "你比原调低了 1.5 个半音" (halves are said when the offset is not whole).
std::string KeyOffsetWords(int keyOffset);

// The singer's note of a reference value in the role's octave: "C4", "F♯3" (MIDI (value −
// roleOffset) / 10, rounded to the nearest note).
std::string NoteName(int32_t value, int roleOffset);

}  // namespace engine
