// The levels Standard and Strict: judging for singers who want to learn.
// - The precise tracker. Every buffer is heard on the song's clock, whichever line it falls in:
//   each of its frames is kept with the music's moment it was sung at.
// - The singer's key (a whole number of semitones, within an octave) and a steady delay (up to
//   0.45 s either way) are learnt over the song: every voiced frame votes for the key and delay
//   under which it would be on the song's melody; the most voted pair is used while it explains
//   at least 60 % of the frames. A song sung in another key, an octave away, a little behind or
//   ahead of the music is judged as if sung as written.
// - A line is judged once the singer has been heard past its end (after the delay): every frame
//   whose moment lies on one of its notes counts for that note, wherever the capture buffers
//   begin and end, so the end of a line is judged as fully as its start, and lines that follow
//   each other closely are each judged in full. Rests are neither a target nor a penalty.
// - A line's score: half from its notes sung on pitch (a frame is a hit when, after the key and
//   folded into the reference's octave, it lies below the hit limit of the note within 60 ms of
//   its moment, half a hit up to the near limit; a silent frame on a note is a miss; a note
//   three quarters of which is hit counts in full, one sung near it counts half; notes weigh as
//   long as they last), half from the melody's movement: of the steps between the line's
//   successive notes, the share sung as written (the difference of the two notes' sung pitches
//   within the hit limit of the step; half when it is within the near limit and goes the same
//   way), full from one limit, nothing below another. A repeated note sung as one counts
//   neither way (sung as a step, it is a step missed); a line that never moves counts its
//   repeated notes, and a line of one note its pitch.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/judge.h"

namespace engine {

struct StrictLimits {
    JudgingLevel level = JudgingLevel::Standard;
    int nHitBelow = 10;  // tenths of a semitone: a hit lies below this
    int nNearUpTo = 20;  // a near miss up to this
    // The share of the melody's steps sung as written for a full movement score, and for none.
    double fStepsFull = 0.85;
    double fStepsNone = 0.3;
};

inline constexpr StrictLimits kStandardLimits{JudgingLevel::Standard, 10, 20, 0.85, 0.4};
inline constexpr StrictLimits kStrictLimits{JudgingLevel::Strict, 5, 10, 0.9, 0.5};

class CStrictJudge : public CJudge {
public:
    explicit CStrictJudge(const StrictLimits& limits);
    JudgingLevel Level() const override { return m_limits.level; }
    int TrackLine(const int16_t* samples, int count, int32_t* pitch) const override;
    void BeginSong(const std::shared_ptr<const CSong>& song) override;
    bool JudgesOnSongClock() const override { return true; }
    int DelayMs() const override { return m_nDelay * kStepMs; }
    void ForgetBefore(int64_t ms) override;
    BufferVerdict Compare(const BufferInput& in, LineTally& tally) override;
    LineJudgement ScoreLine(const LineToScore& line, LineTally& tally,
                            std::vector<int32_t>& scratch) override;
    // A copy with what was learnt of the singer, without what was heard.
    std::unique_ptr<CJudge> Clone() const override;

    static constexpr int kStepMs = 15;      // a reference value
    static constexpr int kMaxDelay = 30;    // reference values of delay learnt, either way
    static constexpr int kTolerance = 4;    // reference values either side a hit may match
    int Delay() const { return m_nDelay; }  // the delay in use, reference values (late > 0)
    int Key() const { return m_nKey; }      // the key in use, semitones (−5..6)

private:
    // A frame heard: the music's moment of its centre (ms, no delay) and its value (with the
    // singer offset, before the key; 0 for no pitch).
    struct Frame {
        int64_t ms;
        int32_t value;
    };
    // A line of the song on its clock.
    struct SongLine {
        int64_t startMs;
        int count;
        const int32_t* values;
    };
    // A note of a line being scored: values [from, to) of the record at one pitch.
    struct NoteTally {
        int from = 0, to = 0;
        int32_t value = 0;
        int frames = 0;  // frames on it, voiced or not
        int hits = 0;    // of them, hits and near misses
        int nears = 0;
        std::vector<int32_t> offsets;  // voiced frames' distance from it (folded), for its pitch
    };

    // The song's reference value at a moment (ms), 0 on a rest or between lines.
    int32_t ValueAt(int64_t ms);
    // The votes for a delay (−kMaxDelay..kMaxDelay) and a key (semitones, any, modulo 12).
    float& Votes(int delay, int key);
    void Vote(const Frame* frames, int count);
    void Decide();
    // The value within kTolerance steps of a moment that a sung value comes closest to, and its
    // folded distance; false when the music has no note there.
    bool Nearest(int64_t ms, int64_t sung, int32_t& value, int32_t& distance);
    double FrameCredit(int32_t distance) const;
    // How well a step between two notes was sung: the written step, and how far the second
    // note was sung from its own pitch less how far the first was (tenths of a semitone); a step
    // to or from a brief note is a hit up to the near limit.
    double StepCredit(int32_t step, int32_t error, bool brief) const;
    void TallyNotes(const LineToScore& line, int count);
    double StepsFollowed() const;

    StrictLimits m_limits;
    std::shared_ptr<const CSong> m_song;
    std::shared_ptr<const std::vector<SongLine>> m_lines;  // shared by the copies
    std::size_t m_nHint = 0;                               // the line ValueAt found last
    std::vector<Frame> m_heard;  // frames heard and not yet forgotten, in time order
    std::array<std::array<float, 12>, 2 * kMaxDelay + 1> m_votes{};
    float m_fVoiced = 0.0f;  // voiced frames that voted: sung within reach of the music's notes
    int m_nDelay = 0;
    int m_nKey = 0;
    std::vector<NoteTally> m_notes;  // the notes of the line being scored
    std::vector<char> m_starts;      // the values of the line where the song's file starts a note
    mutable std::vector<int32_t> m_middle[2];  // copies of two notes' distances, for their middle
    mutable std::vector<const NoteTally*> m_read;  // the notes whose pitch was heard
};

}  // namespace engine
