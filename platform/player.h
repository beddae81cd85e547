// The accompaniment player: a song's music played from the start of its span, and the questions
// the session asks it. Position, speed and length may be asked from any thread.
#pragma once

#include <algorithm>
#include <string>

namespace platform {

inline constexpr int kNormalSpeed = 1000;  // Speed() while playing at the normal rate

// The part of the file that is the song's music.
struct AudioSpan {
    int nStartMs = 0;  // audio skipped at the start of the file
    int nEndMs = -1;   // where the music ends in the file (-1: the file's end)
    int nFadeMs = 0;   // fade in after nStartMs and fade out before the end, linear
};

// The span's length in milliseconds in a file of lengthMs: min(lengthMs, nEndMs) − nStartMs,
// never below 0.
inline int SpanLengthMs(const AudioSpan& span, int lengthMs) {
    const int end = span.nEndMs < 0 ? lengthMs : std::min(lengthMs, span.nEndMs);
    return std::max(0, end - std::max(0, span.nStartMs));
}

class CPlayer {
public:
    virtual ~CPlayer() = default;

    // Opens the file to play the span of it; false when it cannot be played, OpenProblem() then
    // saying why. Nothing is shown to the user: the caller does.
    virtual bool Open(const std::string& path, const AudioSpan& span) = 0;
    // Why the last Open failed, naming the file, as the user is to read it ("" after a success).
    virtual std::string OpenProblem() const { return {}; }
    // Opens the file to play all of it.
    bool Open(const std::string& path) { return Open(path, AudioSpan{}); }
    // Starts playing from positionMs into the span (0: its start) and returns at once; the
    // position then counts on from positionMs.
    virtual void PlayFrom(int positionMs) = 0;
    // Starts playing from the start of the span.
    void Play() { PlayFrom(0); }
    // Length of the span of the opened media in milliseconds (0 when nothing is open).
    virtual int Length() const = 0;
    // Current position in milliseconds from the start of the span: the session's clock. It
    // keeps running past the length once the music has ended, so that lines after the end are
    // still reached.
    virtual int Position() const = 0;
    // kNormalSpeed while media is open, 0 when nothing is open.
    virtual int Speed() const = 0;
    // Stops playing; the position stays where it was.
    virtual void Stop() = 0;
};

}  // namespace platform
