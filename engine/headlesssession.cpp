#include "engine/headlesssession.h"

#include <algorithm>
#include <utility>

namespace engine {
namespace {

constexpr int kStepMs = 5;  // every event time is a multiple of it
constexpr int kPollMs = 50;
constexpr int kTickMs = 15;
constexpr int kBufferMs = 120;
constexpr int kBufferFrames = 960;
constexpr double kLastLineGraceSeconds = 60.0;

}  // namespace

CHeadlessSession::CHeadlessSession(std::vector<std::string> songs, int role, std::string library)
    : m_songs(std::move(songs)),
      m_strLibrary(std::move(library)),
      m_engine(*this),
      m_display(800, 110) {
    m_engine.SetLibraryFolder(m_strLibrary);
    m_display.SetLibraryFolder(m_strLibrary);
    m_engine.m_bMedley = m_songs.size() > 1;
    m_engine.m_bHighOffset = role == 2 ? 0 : 1;
    m_engine.SetCaptureDevice(&m_capture);
    m_capture.SetStampClock([this] { return static_cast<int32_t>(m_player.Position()); });
}

CHeadlessSession::~CHeadlessSession() { m_engine.SetCaptureDevice(nullptr); }

std::string CHeadlessSession::CurrentSong() const {
    const std::size_t index =
        m_engine.m_bMedley ? static_cast<std::size_t>(m_engine.m_nMedleySong) : 0;
    return index < m_songs.size() ? m_songs[index] : std::string();
}

SessionResult CHeadlessSession::Sing(const std::vector<int16_t>& stereo) {
    m_result = SessionResult{};
    if (!m_engine.AllocateCaptureBuffers()) {
        m_result.strError = "Memory error!";
        return m_result;
    }
    if (!m_capture.IsOpen() && !m_engine.OpenCapture([this](platform::WaveHeader* header) {
            m_engine.OnWaveInData(header);
        })) {
        m_result.strError = "Audio can not be open!";
        return m_result;
    }
    m_engine.m_nMedleySong = 0;
    m_engine.m_fTotal = 0.0f;
    if (!StartSession()) {
        m_result.strError =
            m_result.strError.empty() ? "the song could not be loaded" : m_result.strError;
        EndSession();
        return m_result;
    }

    const std::size_t frames = stereo.size() / 2;
    std::size_t nextFrame = 0;
    std::vector<int16_t> block(kBufferFrames * 2);
    while (m_bSessionUp) {
        m_bSongStarted = false;
        for (int time = 0; m_bSessionUp && !m_bSongStarted; time += kStepMs) {
            m_player.SetClock(time);
            if (time % kPollMs == 0) m_engine.PollPlaybackTime(m_player);
            if (time > 0 && time % kTickMs == 0 && m_bDisplayUp) m_display.Advance(time);
            if (time > 0 && time % kBufferMs == 0) {
                // The next 960 frames of the recording, filled up with silence.
                std::fill(block.begin(), block.end(), int16_t{0});
                if (nextFrame < frames) {
                    const std::size_t take =
                        std::min<std::size_t>(kBufferFrames, frames - nextFrame);
                    std::copy_n(stereo.data() + nextFrame * 2, take * 2, block.begin());
                }
                nextFrame += kBufferFrames;
                m_capture.Feed(reinterpret_cast<const char*>(block.data()),
                               block.size() * sizeof(int16_t));
            }
            // A song whose last line never ends is broken.
            if (m_bSessionUp && !m_bSongStarted && m_engine.m_pEndTimes &&
                m_engine.m_nPoints >= 2 &&
                time / 1000.0 >
                    m_engine.m_pEndTimes[m_engine.m_nPoints - 2] + kLastLineGraceSeconds) {
                m_result.strError =
                    CurrentSong() + ": the last line is still unscored 60 s after its end";
                EndSession();
            }
        }
    }
    m_result.bCompleted = m_bScoreShown && m_result.strError.empty();
    return m_result;
}

void CHeadlessSession::SetGradeText(const std::string& text) { m_grades.push_back(text); }

void CHeadlessSession::SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) {
    m_display.SetPitchMarker(y, nearFlag, hitFlag, farFlag);
}

void CHeadlessSession::RestartDisplay() {
    m_display.Restart();
    m_display.LoadLyrics(CurrentSong(), m_engine.m_bMedley != 0);
}

void CHeadlessSession::StopSinging() {
    if (!m_bPlayerOpen) return;
    m_player.Stop();
    m_bPlayerOpen = false;
    m_engine.StopTimeThread();
    m_engine.m_fTime = 0.0f;
    m_engine.ResetCapture();
}

void CHeadlessSession::FreeReference() {
    m_engine.FreeReference();
    m_bPlayerOpen = false;
}

bool CHeadlessSession::StartSession() {
    const std::string song = CurrentSong();
    if (!m_bDisplayUp) {
        m_bDisplayUp = true;
        m_display.LoadLyrics(song, m_engine.m_bMedley != 0);
        m_display.Restart();
    }
    if (!m_engine.LoadReference(song)) {
        m_result.strError = m_engine.LoadProblemFile().empty()
                                ? m_engine.LoadProblem()
                                : m_engine.LoadProblemFile() + ": " + m_engine.LoadProblem();
        return false;
    }
    m_result.songs.push_back(SongResult{song, {}});
    m_display.SetReferenceData(m_engine.m_pRefRecord, m_engine.m_pStartTimes, m_engine.m_pEndTimes,
                               m_engine.m_nPoints);
    m_engine.BeginSession();
    m_nLineBar = 0;
    m_nTimeBar = 0;
    m_engine.QueueCaptureBuffers();
    m_engine.StartCapture();
    m_player.Open(song);
    m_player.Play();
    m_bPlayerOpen = true;
    m_bSessionUp = true;
    m_bSongStarted = true;
    return true;
}

void CHeadlessSession::EndSession() {
    StopSinging();
    m_engine.FreeReference();
    m_engine.m_nTimeSeconds = 0;
    m_bDisplayUp = false;
    m_grades.push_back(" ");
    m_engine.m_nMedleyLines = 0;
    m_bSessionUp = false;
}

void CHeadlessSession::OnLineScored(const LineReport& report) {
    if (!m_result.songs.empty()) m_result.songs.back().lines.push_back(report);
    ++m_result.nLines;
}

}  // namespace engine
