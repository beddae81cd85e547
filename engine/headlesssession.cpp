#include "engine/headlesssession.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/songloader.h"

namespace engine {
namespace {

constexpr int kStepMs = 5;  // every event time is a multiple of it
constexpr int kPollMs = 50;
constexpr int kTickMs = 15;
constexpr int kBufferMs = 120;
constexpr std::size_t kBufferFrames = 960;
constexpr double kLastLineGraceSeconds = 60.0;

// Reads interleaved stereo samples from the frame `next` on; restart goes back to the start.
CHeadlessSession::Recording RecordingOf(const std::vector<int16_t>& stereo, std::size_t& next) {
    CHeadlessSession::Recording recording;
    recording.read = [&stereo, &next](int16_t* out, std::size_t frames) -> int64_t {
        const std::size_t total = stereo.size() / 2;
        const std::size_t count = next < total ? std::min(frames, total - next) : 0;
        std::copy_n(stereo.data() + next * 2, count * 2, out);
        next += count;
        return static_cast<int64_t>(count);
    };
    recording.restart = [&next] { next = 0; };
    return recording;
}

}  // namespace

CHeadlessSession::CHeadlessSession(const std::vector<std::string>& songs, int role,
                                   const std::string& library)
    : CHeadlessSession(LibrarySongs(library, songs.size() > 1, songs), role) {}

CHeadlessSession::CHeadlessSession(std::vector<SongRef> songs, int role)
    : m_songs(std::move(songs)),
      m_display(800, 110),
      m_session(
          *this, [this](std::function<void()> step) { m_posted.push_back(std::move(step)); },
          [this] {
              auto player = std::make_unique<platform::CVirtualPlayer>();
              m_player = player.get();
              return player;
          },
          /*pollThread=*/false) {
    m_session.SetHighOffset(role != 2);
    auto capture = std::make_unique<platform::CManualCapture>();
    m_capture = capture.get();
    m_session.SetCaptureDevice(std::move(capture));
}

CHeadlessSession::~CHeadlessSession() {
    m_session.Stop();
    m_session.CloseCapture();
    m_posted.clear();
}

void CHeadlessSession::RunPosted() {
    while (!m_posted.empty()) {
        const std::function<void()> step = std::move(m_posted.front());
        m_posted.pop_front();
        step();
    }
}

SessionResult CHeadlessSession::Sing(const std::vector<int16_t>& stereo) {
    std::size_t next = 0;
    Recording recording = RecordingOf(stereo, next);
    return Sing(recording);
}

SessionResult CHeadlessSession::Sing(Recording& recording) {
    return Run(recording, [this] { return m_session.Start(m_songs, m_songs.size() > 1); });
}

SessionResult CHeadlessSession::Practise(const std::vector<int16_t>& take, int line, int attempts,
                                         const LineCarry* carry) {
    std::size_t next = 0;
    Recording recording = RecordingOf(take, next);
    m_nAttemptsWanted = std::max(attempts, 1);
    SessionResult result = Run(recording, [&]() -> std::optional<Problem> {
        std::optional<LineCarry> carried;
        if (carry) carried = *carry;
        return m_session.StartPractice(m_songs.empty() ? SongRef{} : m_songs.front(), line,
                                       std::move(carried));
    });
    m_nAttemptsWanted = 0;
    return result;
}

SessionResult CHeadlessSession::Run(Recording& recording,
                                    const std::function<std::optional<Problem>()>& start) {
    m_result = SessionResult{};
    m_bScoreShown = false;
    if (!m_session.IsCaptureOpen()) {
        if (const std::optional<Problem> problem = m_session.OpenCapture()) {
            problem->Show();
            m_result.strError = problem->Describe();
            return m_result;
        }
    }
    m_bSessionUp = true;
    if (const std::optional<Problem> problem = start()) {
        problem->Show();
        m_result.strError = problem->Describe();
        m_bSessionUp = false;
        m_grades.push_back(" ");
        RunPosted();
        return m_result;
    }

    bool recordingOver = false;
    std::vector<int16_t> block(kBufferFrames * 2);
    while (m_bSessionUp) {
        m_bSongStarted = false;
        if (m_session.IsPractising() && recording.restart) {
            // Each attempt is sung from the start of the take.
            recording.restart();
            recordingOver = false;
        }
        const int from = m_player ? m_player->PlayedFrom() : 0;
        for (int time = 0; m_bSessionUp && !m_bSongStarted; time += kStepMs) {
            if (m_player) m_player->SetClock(from + time);
            if (time % kPollMs == 0) m_session.PollPlayback();
            if (time > 0 && time % kTickMs == 0) m_display.Advance(time);
            if (time > 0 && time % kBufferMs == 0) {
                // The next 960 frames of the recording, filled up with silence.
                std::fill(block.begin(), block.end(), int16_t{0});
                std::size_t filled = 0;
                while (!recordingOver && filled < kBufferFrames) {
                    const int64_t got =
                        recording.read(block.data() + filled * 2, kBufferFrames - filled);
                    if (got < 0) {
                        m_result.strError = recording.strProblem.empty()
                                                ? std::string("the recording cannot be read")
                                                : recording.strProblem;
                        m_session.Stop();
                        SessionEnded(nullptr);
                        return m_result;
                    }
                    if (got == 0) recordingOver = true;
                    filled += static_cast<std::size_t>(got);
                }
                m_capture->Feed(reinterpret_cast<const char*>(block.data()),
                                block.size() * sizeof(int16_t));
                RunPosted();
            }
            // A song whose last line (or the line practised) never ends is broken.
            const CSingingEngine& engine = m_session.Engine();
            const std::shared_ptr<const CSong>& song = engine.Song();
            const int last = engine.IsPractice() ? engine.PracticeLine()
                             : song              ? song->Points() - 2
                                                 : 0;
            if (m_bSessionUp && !m_bSongStarted && song &&
                (from + time) / 1000.0 > song->End(last) + kLastLineGraceSeconds) {
                m_result.strError = m_session.CurrentSongName() +
                                    ": the last line is still unscored 60 s after its end";
                m_session.Stop();
                SessionEnded(nullptr);
            }
        }
    }
    RunPosted();
    m_result.bCompleted =
        (m_bScoreShown || !m_result.attempts.empty()) && m_result.strError.empty();
    return m_result;
}

void CHeadlessSession::PracticeAttemptScored(int /*attempt*/, float score) {
    m_result.attempts.push_back(score);
    m_result.fFinal = score;
    if (static_cast<int>(m_result.attempts.size()) >= m_nAttemptsWanted) {
        m_session.Stop();
        SessionEnded(nullptr);
    }
}

void CHeadlessSession::SetGradeText(const std::string& text) { m_grades.push_back(text); }

void CHeadlessSession::SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) {
    m_display.SetPitchMarker(y, nearFlag, hitFlag, farFlag);
}

void CHeadlessSession::SongLoaded(int index, const SongRef& ref,
                                  const std::shared_ptr<const CSong>& song) {
    if (index == 0) {
        m_display.LoadLyrics(ref);
        m_display.Restart();
        m_display.SetSong(song);
    } else {
        m_display.SetSong(song);
        m_display.Restart();
        m_display.LoadLyrics(ref);
    }
    m_result.songs.push_back(SongResult{ref.strName, {}, {}, song, {}});
    m_nLineBar = 0;
    m_nTimeBar = 0;
    m_bSongStarted = true;
}

void CHeadlessSession::SessionEnded(const Problem* problem) {
    m_bSessionUp = false;
    m_grades.push_back(" ");
    if (problem) {
        problem->Show();
        m_result.strError = problem->Describe();
    }
}

void CHeadlessSession::OnBufferJudged(const BufferReport& report) {
    if (!m_result.songs.empty()) m_result.songs.back().buffers.push_back(report);
}

void CHeadlessSession::OnLineBegun(const LineCarry& carry) {
    if (!m_result.songs.empty()) m_result.songs.back().carries.push_back(carry);
}

void CHeadlessSession::OnLineScored(const LineReport& report) {
    if (!m_result.songs.empty()) m_result.songs.back().lines.push_back(report);
    ++m_result.nLines;
}

}  // namespace engine
