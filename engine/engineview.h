// What the singing engine needs from around it: the screen (display, bars, grade label). The
// main dialog implements it with its controls; the headless scorer and the tests implement it
// without any. Everything is called on the thread that runs the evaluation, except
// SetTimeBarPos, which the playback poller calls from its own thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/judge.h"

namespace engine {

// What the evaluation loop decided about a line it has just scored.
struct LineReport {
    int nLine = 0;        // index of the line in its song
    float fStart = 0.0f;  // its start and end time, seconds
    float fEnd = 0.0f;
    int nHits = 0;  // hit and near buffers
    int nNears = 0;
    int nSung = 0;          // sung values gathered
    int nCut = 0;           // leading values the cleaning cleared (0 when nothing was sung)
    bool bAligned = false;  // whether the alignment ran
    float fCost = 0.0f;     // its cost, when it ran
    float fAlign = 0.0f;    // the alignment score
    float fScore = 0.0f;    // the line score
    std::string strGrade;   // the grade word shown
    int nKeyOffset = 0;     // the singer's key the line was judged with (tenths of a semitone)
};

// One buffer of a line compared with the reference: what the review of a song is drawn from.
struct BufferReport {
    static constexpr int kMostFrames = 8;  // pitch values of a capture buffer
    int nLine = 0;                         // the line of its song
    int nRefIndex = 0;  // the reference value it was compared with (may lie outside the line)
    int nRefValue = 0;  // that value (0 outside the line or on a rest)
    int nClockMs = 0;   // the playback position it was judged at (its stamp, or the poller's)
    bool bHit = false;  // the marker's verdict
    bool bNear = false;
    bool bFar = false;
    bool bCountedHit = false;   // the line's hit count went up (the marker may show a hit that
    bool bCountedNear = false;  // does not count, after singing) and its near-miss count
    int nAppended = 0;          // values it appended to the line's sung sequence
    int nKeyOffset = 0;         // the singer's key after it, tenths of a semitone
    int nFrames = 0;            // pitch values heard, at most kMostFrames
    // What was heard, after the singer offset and the key: tenths of a semitone on the reference's
    // scale, 0 for no pitch.
    int32_t aHeard[kMostFrames] = {};
};

class CEngineView {
public:
    virtual ~CEngineView() = default;

    // Grade label (control 1040): shows text in the grade font, redrawn at once; the label's
    // colour follows the word. " " blanks it.
    virtual void SetGradeText(const std::string& text) = 0;

    // The pitch display: the height of its area in pixels, and the marker.
    virtual int DisplayHeight() = 0;
    virtual void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) = 0;
    // The line bar (control 1039, percent sung on pitch) and the time bar (control 1100, seconds;
    // poller thread).
    virtual void SetLineBarPos(int position) = 0;
    virtual void SetTimeBarPos(int seconds) = 0;

    // Controls bound to the dialog's members are refreshed after every buffer.
    virtual void UpdateControls() {}
    // A line has been scored (after its grade is shown).
    virtual void OnLineScored(const LineReport&) {}
    // A buffer of a line has been compared with the reference (after the marker is set).
    virtual void OnBufferJudged(const BufferReport&) {}
    // A line begins (before its first buffer): what it takes over from the song so far.
    virtual void OnLineBegun(const LineCarry&) {}
    // The samples of a buffer that a line takes (its first channel, 8000 per second, before they
    // are filtered): the singer's take of the line, piece by piece.
    virtual void OnLineAudio(int /*line*/, const int16_t* /*samples*/, int /*count*/) {}
};

}  // namespace engine

namespace engine {

// A view that shows nothing: a base for views that care about a few operations.
class CNullEngineView : public CEngineView {
public:
    void SetGradeText(const std::string&) override {}
    int DisplayHeight() override { return 110; }
    void SetPitchMarker(int, int, int, int) override {}
    void SetLineBarPos(int) override {}
    void SetTimeBarPos(int) override {}
};

}  // namespace engine
