// The singing evaluation engine: the evaluation state of the song being sung and the routines
// that judge the singing buffer by buffer. It owns no window and no device: what it shows goes
// through a CEngineView, and the session (CSingingSession) brings it the song, the buffers and
// the playback clock. Its state is read through its interface and changed only by itself.
// Everything runs on the thread that handles the capture buffers, except PollPlaybackTime.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engineview.h"
#include "engine/judge.h"
#include "engine/judginglevel.h"
#include "engine/linescore.h"
#include "engine/song.h"
#include "platform/capturedevice.h"
#include "platform/player.h"
#include "platform/waveformat.h"

namespace engine {

inline constexpr int kPitchCapacity = 3840;       // values of m_pPitch
inline constexpr int kCaptureBuffers = 4;         // buffers circulating through the device
inline constexpr int kCaptureBufferBytes = 3840;  // 960 stereo 16-bit frames, 0.12 s at 8000/s
inline constexpr int kCaptureSamples = kCaptureBufferBytes / 2;
inline constexpr int kMaxLatencyMs = 1000;  // largest microphone latency taken
inline constexpr int kHalfBufferMs = 60;    // half the 0.12 s of a capture buffer
// The format every capture of the program records in: 8000 frames/s, stereo, 16-bit PCM.
inline constexpr platform::WaveFormat kCaptureFormat{
    platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};

// The index of the reference value of a line that the music plays at the centre of a capture
// buffer: floor((clockMs − latencyMs − 60 − startMs) / 15), where clockMs is the accompaniment's
// position when the device handed the buffer back and startMs the line's start, rounded to the
// millisecond. Integer arithmetic, so every machine gets the same index; held in the int range.
int ReferenceIndex(int64_t clockMs, int latencyMs, float lineStart);

class CSingingEngine {
public:
    explicit CSingingEngine(CEngineView& view);
    CSingingEngine(const CSingingEngine&) = delete;
    CSingingEngine& operator=(const CSingingEngine&) = delete;

    // What the song needs next after a buffer.
    enum class Step {
        Singing,   // the song goes on
        NextSong,  // a medley song is over and the next is due
        Finished,  // the last song is over: Total() is the final score
    };

    // --- settings ---
    // The singer offset: 120 (the first role) when high, else 80.
    void SetHighOffset(bool high) { m_bHighOffset = high; }
    bool HighOffset() const { return m_bHighOffset; }
    // The microphone latency L in milliseconds (0 to kMaxLatencyMs): a buffer's sound reached the
    // microphone this long before the device handed the buffer back.
    void SetLatencyMs(int milliseconds);
    int LatencyMs() const { return m_nLatencyMs; }
    // How strictly the lines are judged (Easy unless set); set it between songs.
    void SetJudgingLevel(JudgingLevel level);
    JudgingLevel Level() const { return m_judge->Level(); }

    // --- a run of songs: one single song, or a medley of four ---
    // Nothing counts yet: the total, the medley's song and its lines start at 0.
    void StartRun(bool medley);
    // The song to sing from its start (times, counters, cursor). The song stays shared with
    // whoever shows it.
    void BeginSong(std::shared_ptr<const CSong> song);
    // Practice of one line of the song: the evaluation starts at the line (its record, counters and
    // cursor as at the start of a song) and the song is over once the line is scored; Total() is
    // then the line's score. Whatever the clock shows before the line's start is between lines.
    // With the carry the song had at the line's start (from OnLineBegun, at the same level), the
    // line is judged exactly as it was in the song; without, as if it were the song's first.
    void BeginPractice(std::shared_ptr<const CSong> song, int line,
                       const LineCarry* carry = nullptr);
    bool IsPractice() const { return m_nPracticeLine >= 0; }
    int PracticeLine() const { return m_nPracticeLine; }
    // Lets the song go (when it is over or the user stops); the run's total stays.
    void EndSong();
    bool IsMedley() const { return m_bMedley; }
    int MedleySong() const { return m_nMedleySong; }  // current song of a medley, 0 to 3
    const std::shared_ptr<const CSong>& Song() const { return m_song; }

    // Handles the bytes of a buffer the device handed back, stamped clockMs (kNoClockStamp: the
    // poller's time is used): a short buffer is traced and dropped; otherwise it is judged.
    Step HandleBuffer(const int16_t* samples, uint32_t bytes, int32_t clockMs);

    // --- pieces of the loop ---
    // Classifies one in-line buffer against reference value refIndex of a record.
    void CompareBuffer(const int32_t* ref, int count, const int32_t* pitch, int frames, int voiced,
                       int refIndex);
    // Shows the singer's pitch between lines (values without the singer offset).
    void ShowIdlePitch(const int32_t* pitch, int frames);

    // --- playback poller ---
    // One round of the poller: asks the player for position and speed, sets the playback time,
    // then the whole seconds and the time bar. False (nothing changed) when the player is not
    // playing. Safe on the poller's own thread.
    bool PollPlaybackTime(const platform::CPlayer& player);
    // Back to time 0 (the song has stopped).
    void ResetTime();

    // --- the state, read only ---
    float Time() const { return m_fTime.load(std::memory_order_relaxed); }
    int TimeSeconds() const { return m_nTimeSeconds.load(std::memory_order_relaxed); }
    int Line() const { return m_nLine; }          // the line being sung
    float Total() const { return m_fTotal; }      // sum of line scores; once finished their mean
    int RefIndex() const { return m_nRefIndex; }  // reference index judged last
    int Hits() const { return m_tally.nHits; }    // hit buffers of the line
    int Nears() const { return m_tally.nNears; }  // near-miss buffers of the line
    int Expected() const { return m_tally.nExpected; }  // buffers asked for a voice (stricter)
    int KeyOffset() const { return m_tally.nKeyOffset; }
    int KeyEstimates() const { return m_tally.nKeyEstimates; }
    int FirstVoiced() const { return m_tally.nFirstVoiced; }
    bool PrevVoiced() const { return m_tally.bPrevVoiced; }
    int VoicedBuffers() const { return m_nVoicedBuffers; }
    int Take() const { return m_nTake; }                    // samples taken from the last buffer
    int BuffersUsed() const { return m_nBuffersUsed; }      // full buffers consumed in the line
    int LineBuffers() const { return m_nLineBuffers; }      // full buffers the line spans
    int LineRemainder() const { return m_nLineRemainder; }  // samples beyond them
    // Samples taken in a line (at 16000 per second), filled while singing.
    int LineSamples(int line) const;
    // The line's sung sequence so far.
    std::vector<int32_t> Sung() const {
        return {m_tally.sung.begin(), m_tally.sung.begin() + m_tally.nSung};
    }

private:
    void ResetForSong(std::shared_ptr<const CSong> song);
    // Tells the view what the line now beginning takes over (not while practising).
    void LineBegins();
    // The line path of one buffer: the line's samples filtered, tracked and compared, the grade
    // cleared half-way through the next line, the line scored at its end.
    void LinePath(const int16_t* samples, int line, float time, int32_t clockMs);
    // One buffer on the song's clock (the levels that judge a line to its end): tracked and heard
    // whichever line it falls in, shown and reported for the line being sung once it has begun,
    // and every line the singer has been heard past scored.
    void ClockedPath(const int16_t* samples, float time, int32_t clockMs);
    // Tells the view what each line takes over once the clock has reached the point where a
    // practice of it starts (the song's clock levels; not while practising).
    void CarryLinesDue(int64_t clockMs);
    // Whether lines remain to be scored in this song (or practice).
    bool LinesLeft() const;
    void ScoreLine(int line);
    Step EndOfSong();
    void MoveLineBar(int frames, int count);

    CEngineView& m_view;
    std::shared_ptr<const CSong> m_song;    // the song being sung (null between songs)
    const int32_t* m_pRefRecord = nullptr;  // the record of the line being sung, in m_song
    std::vector<int> m_lineSamples;         // [N]
    std::vector<int32_t> m_pitch;           // [kPitchCapacity] pitch values of one buffer
    std::vector<int16_t> m_work;            // [kCaptureSamples] the first channel of a buffer
    std::vector<int32_t> m_refScratch;      // a copy of the line's record, for the alignment
    std::unique_ptr<CJudge> m_judge;        // the judging level
    LineTally m_tally;                      // what the line being sung has gathered

    bool m_bMedley = false;              // songs come from the medley folder
    int m_nLine = 0;                     // current line
    std::atomic<float> m_fTime{0.0f};    // playback time, seconds (written by the poller)
    std::atomic<int> m_nTimeSeconds{0};  // whole seconds of m_fTime
    int m_nLineBuffers = 0;              // full buffers the current line spans
    int m_nLineRemainder = 0;            // samples of the line beyond them
    int m_nTake = 0;                     // samples taken from the current buffer
    int m_nBuffersUsed = 0;              // full buffers consumed in the line
    int m_nFrames = 0;                   // values in m_pitch
    bool m_bHighOffset = true;           // singer offset: 120 when set, else 80
    int m_nVoicedBuffers = 0;            // buffers of the line with a voiced value
    int m_nRefIndex = 0;                 // reference index played at the buffer's centre
    int m_nLatencyMs = 0;                // microphone latency L, ms
    bool m_bHit = false, m_bNear = false, m_bFar = false;  // marker flags of the last buffer
    float m_fLineScore = 0.0f;                             // score of the last finished line
    float m_fTotal = 0.0f;       // sum of line scores; at the end their mean
    bool m_bGradeShown = false;  // a grade is on show
    int m_nMedleySong = 0;       // current song of a medley, 0 to 3
    int m_nMedleyLines = 0;      // lines of the medley songs finished so far
    bool m_bSongOver = false;    // the song's last line is scored; its next step is due
    int m_nPracticeLine = -1;    // the line practised, or -1 in a run of songs
    int m_nNextCarry = 0;        // the next line whose carry is due (the song's clock levels)
};

// Where the accompaniment starts to practise a line of the song, in milliseconds: at least 2 s
// before the line's start, on a grid of 0.6 s from the song's start (whole 0.12 s capture buffers
// and whole 50 ms rounds of the poller, so that on the virtual clock the line meets every buffer
// and every time step where the whole song met them), never before 0.
int PracticeStartMs(const CSong& song, int line);

}  // namespace engine
