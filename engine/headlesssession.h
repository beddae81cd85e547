// A singing session without a window: a CSingingSession with the display's bookkeeping, a capture
// device fed from a recording and a silent player, all stepped on a virtual clock. The headless
// scorer and the tests sing songs through it exactly as the dialog does.
//
// The clock, per song, in whole milliseconds from 0 when the song's session starts:
// - the poller runs at 0, 50, 100, …: the player's position is the song time;
// - the display ticks at 15, 30, 45, … (it restarts at 0);
// - the player's position is the song time at every step of the clock (an attempt of a practice:
//   the time since its start, plus where the accompaniment started);
// - capture buffer i of the song arrives at 120 (i + 1) with the next 960 frames of the
//   recording, filled up with silence once it has ended, stamped with the player's position;
//   the recording does not restart when a medley moves on to its next song;
// - events at the same time run in that order: poller, tick, buffer; the steps the session
//   posts run right after the event that posted them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/histogrammodel.h"
#include "engine/sessionview.h"
#include "engine/singingsession.h"
#include "platform/manualcapture.h"
#include "platform/virtualplayer.h"

namespace engine {

struct SongResult {
    std::string strName;
    std::vector<LineReport> lines;
    std::vector<BufferReport> buffers;  // every buffer of a line judged, in order
    std::shared_ptr<const CSong> song;  // what was sung: the reference and the lyrics
    std::vector<LineCarry> carries;     // what each line took over as it began
};

struct SessionResult {
    bool bCompleted = false;  // the score was shown
    std::string strError;     // why not, when it was not
    std::vector<SongResult> songs;
    int nLines = 0;               // lines scored in all songs
    float fFinal = 0.0f;          // the score shown (of a practice: the last attempt's)
    std::vector<float> attempts;  // a practice's scores, one per attempt
};

class CHeadlessSession : public CSessionView {
public:
    // Fills up to `frames` stereo frames (16-bit, 8000 per second, interleaved) with the next
    // frames of the recording; returns how many it filled, 0 at its end, -1 when it cannot be
    // read (strProblem then says why).
    struct Recording {
        std::function<int64_t(int16_t* stereo, std::size_t frames)> read;
        std::string strProblem;
        // Goes back to the recording's start (a practice sings it again for each attempt).
        std::function<void()> restart;
    };

    // songs: one single song, or four medley songs; role 1 sings an octave above the reference
    // scale's singer offset (120), role 2 eight semitones (80).
    CHeadlessSession(const std::vector<std::string>& songs, int role,
                     const std::string& library = "");
    // Songs anywhere: their names and folders (or UltraStar files).
    CHeadlessSession(std::vector<SongRef> songs, int role);
    ~CHeadlessSession() override;

    // The microphone latency the buffers are judged with.
    void SetLatencyMs(int milliseconds) { m_session.SetLatencyMs(milliseconds); }
    // How strictly the lines are judged (Easy unless set).
    void SetJudgingLevel(JudgingLevel level) { m_session.SetJudgingLevel(level); }
    // Sings the recording, read piece by piece as the clock reaches it.
    SessionResult Sing(Recording& recording);
    // Sings a recording held in memory: 16-bit stereo frames at 8000 per second, interleaved.
    SessionResult Sing(const std::vector<int16_t>& stereo);

    // Practises a line of the (first) song: each attempt is sung with the take, a recording that
    // starts where the accompaniment starts (PracticeStartMs). Stops after `attempts` attempts;
    // every attempt is one song of the result, its scores in `attempts`.
    // With the line's carry from a run of the song, the attempts are judged as the run judged it.
    SessionResult Practise(const std::vector<int16_t>& take, int line, int attempts,
                           const LineCarry* carry = nullptr);

    const CSingingSession& Session() const { return m_session; }
    const CSingingEngine& Engine() const { return m_session.Engine(); }
    const CHistogramModel& Display() const { return m_display; }
    // Every grade text shown, in order (" " when it was blanked).
    const std::vector<std::string>& GradeTexts() const { return m_grades; }

    // CSessionView
    void SetGradeText(const std::string& text) override;
    int DisplayHeight() override { return m_display.Height(); }
    void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) override;
    void SetLineBarPos(int position) override { m_nLineBar = position; }
    void SetTimeBarPos(int seconds) override { m_nTimeBar = seconds; }
    void SongLoaded(int index, const SongRef& ref,
                    const std::shared_ptr<const CSong>& song) override;
    void ShowScore() override { m_bScoreShown = true; }
    void SetScore(float score) override { m_result.fFinal = score; }
    void SessionEnded(const Problem* problem) override;
    void OnLineScored(const LineReport& report) override;
    void OnBufferJudged(const BufferReport& report) override;
    void PracticeAttemptScored(int attempt, float score) override;
    void OnLineBegun(const LineCarry& carry) override;

private:
    void RunPosted();
    SessionResult Run(Recording& recording, const std::function<std::optional<Problem>()>& start);

    std::vector<SongRef> m_songs;
    std::deque<std::function<void()>> m_posted;
    platform::CVirtualPlayer* m_player = nullptr;   // the current song's, owned by the session
    platform::CManualCapture* m_capture = nullptr;  // owned by the session
    CHistogramModel m_display;
    CSingingSession m_session;
    bool m_bSessionUp = false;
    bool m_bSongStarted = false;  // a new song's clock starts at 0
    bool m_bScoreShown = false;
    int m_nAttemptsWanted = 0;  // attempts a practice sings
    int m_nLineBar = 0;
    int m_nTimeBar = 0;
    std::vector<std::string> m_grades;
    SessionResult m_result;
};

}  // namespace engine
