// A judging level behind one small interface: the pitch tracker of the line path, the comparison
// of each buffer with the reference, and the score of a finished line. The engine runs the loop,
// the clock and the screen; the level only decides. CEasyJudge is the judging the program has
// always had: a line takes the buffers that arrive while it plays and is scored 0.3 s before its
// end. CStrictJudge, with its limits, the levels Standard and Strict: it hears every buffer on the
// song's clock, and a line is scored once the singer has been heard past its end.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/judginglevel.h"
#include "engine/linescore.h"
#include "engine/linetally.h"
#include "engine/song.h"

namespace engine {

// One in-line buffer to compare: its pitch values (with the singer offset, 0 for no pitch) and
// the line's reference values ref[0..count), the one the music plays at the buffer's centre
// being ref[refIndex] (which may lie outside them).
struct BufferInput {
    const int32_t* ref = nullptr;
    int count = 0;
    const int32_t* pitch = nullptr;
    int frames = 0;
    int voiced = 0;  // buffers of the line with a voiced value so far, this one included
    int refIndex = 0;
    int height = 0;  // of the pitch display, for the marker's y
    // On the song's clock: the music's moment at the buffer's centre (milliseconds from the
    // song's start, the microphone's latency taken out, no learnt delay), and whether the buffer
    // belongs to the line being sung (else it lies before the line).
    int64_t momentMs = 0;
    bool bInLine = true;
};

// A finished line to score: its index in the song, its reference record (M, then M values) and
// its start on the song's clock (milliseconds, as LineStartMs gives it).
struct LineToScore {
    int line = 0;
    const int32_t* record = nullptr;
    int64_t startMs = 0;
};

// What the marker shows for a buffer.
struct BufferVerdict {
    int y = 0;
    bool bHit = false, bNear = false, bFar = false;
    bool bMoveLineBar = false;  // the line bar follows the line's counts
};

class CJudge {
public:
    virtual ~CJudge() = default;
    virtual JudgingLevel Level() const = 0;
    // The line path's pitch tracker: TrackPitch's frames and values for 0.12 s of samples at
    // 8000 Hz (frames of 256, hop 128 at 11025 Hz).
    virtual int TrackLine(const int16_t* samples, int count, int32_t* pitch) const = 0;
    // A song starts: what the level learns over a song starts afresh.
    virtual void BeginSong(const std::shared_ptr<const CSong>& /*song*/) {}
    // Whether the level hears every buffer on the song's clock (see CStrictJudge); else a line
    // takes the buffers that arrive while it plays.
    virtual bool JudgesOnSongClock() const { return false; }
    // How late the singer is found to sing, milliseconds (the song's clock levels).
    virtual int DelayMs() const { return 0; }
    // What was heard before this moment of the song is no longer needed (the song's clock levels).
    virtual void ForgetBefore(int64_t /*ms*/) {}
    // Compares one buffer and gathers it into the line's tally.
    virtual BufferVerdict Compare(const BufferInput& in, LineTally& tally) = 0;
    // Scores a finished line from its reference record and its tally (the sung sequence is
    // cleaned in place). scratch is working memory.
    virtual LineJudgement ScoreLine(const LineToScore& line, LineTally& tally,
                                    std::vector<int32_t>& scratch) = 0;
    // A copy of the level with what it has learnt of the song so far.
    virtual std::unique_ptr<CJudge> Clone() const = 0;
};

// What a line takes over from the lines sung before it in the song: the tally as they left it
// (the singer's key, the sung values beyond the new line's) and what the level has learnt of
// the singer. Kept as each line begins, so that a practice of the line judges it as the song did.
struct LineCarry {
    int nLine = 0;
    LineTally tally;
    std::shared_ptr<const CJudge> judge;
};

std::unique_ptr<CJudge> MakeJudge(JudgingLevel level);

}  // namespace engine
