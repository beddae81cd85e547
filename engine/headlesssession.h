// A singing session without a window: the engine, the display's bookkeeping, a capture device fed
// from a recording and a silent player, all stepped on a virtual clock. The headless scorer and
// the tests sing songs through it exactly as the dialog would.
//
// The clock, per song, in whole milliseconds from 0 when the song's session starts:
// - the poller runs at 0, 50, 100, …: the player's position is the song time;
// - the display ticks at 15, 30, 45, … (it restarts at 0);
// - the player's position is the song time at every step of the clock;
// - capture buffer i of the song arrives at 120 (i + 1) with the next 960 frames of the
//   recording, filled up with silence once it has ended, stamped with the player's position;
//   the recording does not restart when a medley moves on to its next song;
// - events at the same time run in that order: poller, tick, buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engineview.h"
#include "engine/histogrammodel.h"
#include "engine/singingengine.h"
#include "platform/manualcapture.h"
#include "platform/virtualplayer.h"

namespace engine {

struct SongResult {
    std::string strName;
    std::vector<LineReport> lines;
};

struct SessionResult {
    bool bCompleted = false;  // the score was shown
    std::string strError;     // why not, when it was not
    std::vector<SongResult> songs;
    int nLines = 0;       // lines scored in all songs
    float fFinal = 0.0f;  // the score shown
};

class CHeadlessSession : public CEngineView {
public:
    // songs: one single song, or four medley songs; role 1 sings an octave above the reference
    // scale's singer offset (120), role 2 eight semitones (80).
    CHeadlessSession(std::vector<std::string> songs, int role, std::string library = "");
    ~CHeadlessSession() override;

    // Sings the recording: 16-bit stereo frames at 8000 per second, interleaved.
    SessionResult Sing(const std::vector<int16_t>& stereo);

    CSingingEngine& Engine() { return m_engine; }
    const CHistogramModel& Display() const { return m_display; }
    // Every grade text shown, in order (" " when it was blanked).
    const std::vector<std::string>& GradeTexts() const { return m_grades; }

    // CEngineView
    void SetGradeText(const std::string& text) override;
    int DisplayHeight() override { return m_display.Height(); }
    void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) override;
    void RestartDisplay() override;
    void SetLineBarPos(int position) override { m_nLineBar = position; }
    void SetTimeBarPos(int seconds) override { m_nTimeBar = seconds; }
    void StopSinging() override;
    void FreeReference() override;
    bool StartSession() override;
    void ShowScore() override { m_bScoreShown = true; }
    void SetScore(float score) override { m_result.fFinal = score; }
    void EndSession() override;
    void NextSongDue() override { m_engine.StartNextSong(); }
    void OnLineScored(const LineReport& report) override;

private:
    std::string CurrentSong() const;

    std::vector<std::string> m_songs;
    std::string m_strLibrary;
    CSingingEngine m_engine;
    CHistogramModel m_display;
    platform::CManualCapture m_capture;
    platform::CVirtualPlayer m_player;
    bool m_bPlayerOpen = false;  // the song's accompaniment is playing
    bool m_bDisplayUp = false;
    bool m_bSessionUp = false;
    bool m_bSongStarted = false;  // a new song's clock starts at 0
    bool m_bScoreShown = false;
    int m_nLineBar = 0;
    int m_nTimeBar = 0;
    std::vector<std::string> m_grades;
    SessionResult m_result;
};

}  // namespace engine
