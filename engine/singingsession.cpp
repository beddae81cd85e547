#include "engine/singingsession.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "engine/songloader.h"
#include "engine/songmusic.h"
#include "platform/messages.h"

namespace engine {
namespace {

constexpr const char* kNoSong = "请打开歌曲列表，选择要演唱的曲目";

}  // namespace

CSingingSession::CSingingSession(CSessionView& view, Post post, MakePlayer makePlayer,
                                 bool pollThread)
    : m_view(view),
      m_post(std::move(post)),
      m_makePlayer(std::move(makePlayer)),
      m_bPollThread(pollThread),
      m_engine(view) {}

CSingingSession::~CSingingSession() {
    Stop();
    CloseCapture();
}

// ---------------------------------------------------------------------------------------------
// The capture device

void CSingingSession::SetCaptureDevice(std::unique_ptr<platform::CCaptureDevice> device) {
    CloseCapture();
    m_device = std::move(device);
}

std::optional<Problem> CSingingSession::OpenCapture() {
    if (m_device) {
        m_device->SetStampClock([this]() -> int32_t {
            const platform::CPlayer* player = m_stampPlayer.load();
            return player ? player->Position() : platform::kNoClockStamp;
        });
        const bool opened = m_device->Open(kCaptureFormat, [this](platform::WaveHeader* header) {
            const CaptureNotice notice = MakeNotice(header);
            m_post([this, notice] { OnCaptureNotice(notice); });
        });
        if (opened) return std::nullopt;
        platform::Trace("capture device: " + m_device->LastError() + "\n");
    }
    return Problem::Message("Audio can not be open!", platform::MessageIcon::Exclamation, true);
}

void CSingingSession::CloseCapture() {
    if (!m_device) return;
    Stop();
    m_device->Close();
    m_nGeneration.fetch_add(1);
}

void CSingingSession::QueueBuffers() {
    if (!m_device || !m_device->IsOpen()) return;
    for (int i = 0; i < kCaptureBuffers; ++i) {
        platform::WaveHeader& header = m_headers[static_cast<std::size_t>(i)];
        header = platform::WaveHeader{};
        header.lpData = m_buffers[static_cast<std::size_t>(i)].data();
        header.dwUser = static_cast<uintptr_t>(i);
        header.dwBufferLength = kCaptureBufferBytes;
        header.dwLoops = 1;
        m_device->PrepareBuffer(&header);
        m_device->AddBuffer(&header);
    }
}

void CSingingSession::ResetCapture() {
    if (!m_device) return;
    m_device->Reset();
    m_nGeneration.fetch_add(1);
    for (platform::WaveHeader& header : m_headers) m_device->UnprepareBuffer(&header);
}

CaptureNotice CSingingSession::MakeNotice(const platform::WaveHeader* header) const {
    CaptureNotice notice;
    notice.nIndex = header->dwUser < static_cast<uintptr_t>(kCaptureBuffers)
                        ? static_cast<int>(header->dwUser)
                        : -1;
    notice.nBytes = header->dwBytesRecorded;
    notice.nClockMs = header->nClockMs;
    notice.nGeneration = m_nGeneration.load();
    return notice;
}

void CSingingSession::OnCaptureNotice(const CaptureNotice& notice) {
    if (notice.nGeneration != m_nGeneration.load() || notice.nIndex < 0 ||
        notice.nIndex >= kCaptureBuffers)
        return;
    platform::WaveHeader& header = m_headers[static_cast<std::size_t>(notice.nIndex)];
    const CSingingEngine::Step step = m_engine.HandleBuffer(
        reinterpret_cast<const int16_t*>(header.lpData), notice.nBytes, notice.nClockMs);
    m_view.UpdateControls();
    if (m_device) m_device->AddBuffer(&header);
    if (step == CSingingEngine::Step::NextSong) {
        // The next song starts as a step of its own, once this buffer's handling has returned.
        const unsigned serial = m_nSessionSerial;
        m_post([this, serial] {
            if (serial == m_nSessionSerial && m_bRunning) NextSong();
        });
    } else if (step == CSingingEngine::Step::Finished) {
        Finish();
    }
}

// ---------------------------------------------------------------------------------------------
// Sessions

std::optional<Problem> CSingingSession::Start(const std::vector<std::string>& names, bool medley) {
    return Start(LibrarySongs(m_strLibrary, medley, names), medley);
}

std::optional<Problem> CSingingSession::Start(std::vector<SongRef> songs, bool medley) {
    Stop();
    m_songs = std::move(songs);
    m_engine.StartRun(medley);
    m_bRunning = true;
    if (std::optional<Problem> problem = StartSong(0)) {
        Quiet();
        return problem;
    }
    return std::nullopt;
}

SongRef CSingingSession::CurrentSong() const {
    const std::size_t index =
        m_engine.IsMedley() ? static_cast<std::size_t>(m_engine.MedleySong()) : 0;
    return index < m_songs.size() ? m_songs[index] : SongRef{};
}

std::optional<Problem> CSingingSession::StartSong(int index) {
    const SongRef current = CurrentSong();
    if (current.strName.empty())
        return Problem::Message(kNoSong, platform::MessageIcon::Information);
    Problem problem;
    SongLoadOptions options;
    options.nRole = m_engine.HighOffset() ? 1 : 2;
    options.bMedley = m_engine.IsMedley();
    std::shared_ptr<const CSong> song = LoadSong(current.strFolder, options, &problem);
    if (!song) return problem;
    m_view.SongLoaded(index, current, song);
    m_engine.BeginSong(song);
    return Launch(*song, 0);
}

std::optional<Problem> CSingingSession::StartPractice(const SongRef& song, int line,
                                                      std::optional<LineCarry> carry) {
    Stop();
    m_songs = {song};
    m_engine.StartRun(false);
    m_bRunning = true;
    Problem problem;
    SongLoadOptions options;
    options.nRole = m_engine.HighOffset() ? 1 : 2;
    std::shared_ptr<const CSong> loaded =
        song.strName.empty() ? nullptr : LoadSong(song.strFolder, options, &problem);
    if (!loaded) {
        Quiet();
        if (song.strName.empty())
            return Problem::Message(kNoSong, platform::MessageIcon::Information);
        return problem;
    }
    m_practiceSong = std::move(loaded);
    m_nPracticeLine = std::clamp(line, 0, std::max(0, m_practiceSong->Points() - 2));
    m_practiceCarry = std::move(carry);
    m_nAttempt = 0;
    if (std::optional<Problem> failed = StartAttempt()) {
        Quiet();
        return failed;
    }
    return std::nullopt;
}

std::optional<Problem> CSingingSession::StartAttempt() {
    ++m_nAttempt;
    const int from = PracticeStartMs(*m_practiceSong, m_nPracticeLine);
    m_view.SongLoaded(0, m_songs.front(), m_practiceSong);
    m_view.PracticeAttemptStarted(m_nAttempt, from);
    m_engine.BeginPractice(m_practiceSong, m_nPracticeLine,
                           m_practiceCarry ? &*m_practiceCarry : nullptr);
    return Launch(*m_practiceSong, from);
}

std::optional<Problem> CSingingSession::Launch(const CSong& song, int fromMs) {
    const SongInfo& info = song.Info();
    m_view.SetLineBarPos(0);
    m_view.SetTimeBarPos(0);
    QueueBuffers();
    if (m_device) m_device->Start();
    if (m_makePlayer) {
        // The previous player goes only now: the poller that asked it has been stopped.
        m_playerObject = m_makePlayer();
        m_player = m_playerObject.get();
    }
    if (m_player) {
        if (!m_player->Open(info.strAudio, MusicSpan(info))) {
            return Problem::Message(m_player->OpenProblem(), platform::MessageIcon::Exclamation);
        }
        m_player->PlayFrom(fromMs);
        m_stampPlayer = m_player;
        m_view.AccompanimentStarted(m_player->Length());
    }
    platform::Trace("song: " + CurrentSong().strName + "\n");
    StartPoller();
    return std::nullopt;
}

void CSingingSession::StopSong() {
    if (m_player) m_player->Stop();
    m_player = nullptr;
    m_stampPlayer = nullptr;
    StopPoller();
    m_engine.ResetTime();
    ResetCapture();
    m_engine.EndSong();
}

void CSingingSession::Quiet() {
    StopSong();
    m_bRunning = false;
    m_practiceSong.reset();
    ++m_nSessionSerial;
}

void CSingingSession::Stop() {
    if (!m_bRunning) return;
    Quiet();
}

void CSingingSession::NextSong() {
    StopSong();
    if (std::optional<Problem> problem = StartSong(m_engine.MedleySong())) {
        Quiet();
        m_view.SessionEnded(&*problem);
    }
}

void CSingingSession::Finish() {
    if (m_practiceSong) {
        const unsigned serial = m_nSessionSerial;
        m_view.PracticeAttemptScored(m_nAttempt, m_engine.Total());
        if (serial != m_nSessionSerial || !m_bRunning) return;  // the view stopped it
        StopSong();
        // The next attempt starts as a step of its own, once this buffer's handling has returned.
        m_post([this, serial] {
            if (serial != m_nSessionSerial || !m_bRunning || !m_practiceSong) return;
            if (std::optional<Problem> problem = StartAttempt()) {
                Quiet();
                m_view.SessionEnded(&*problem);
            }
        });
        return;
    }
    m_view.ShowScore();
    m_view.SetScore(m_engine.Total());
    m_view.SetTimeBarPos(0);
    Quiet();
    m_view.SessionEnded(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Playback poller

bool CSingingSession::PollPlayback() { return m_player && m_engine.PollPlaybackTime(*m_player); }

void CSingingSession::StartPoller() {
    StopPoller();
    if (!m_bPollThread || !m_player) return;
    {
        std::lock_guard lock(m_pollMutex);
        m_bStopPoll = false;
    }
    const platform::CPlayer* player = m_player;
    m_pollThread = std::thread([this, player] {
        using namespace std::chrono_literals;
        std::unique_lock lock(m_pollMutex);
        while (!m_bStopPoll) {
            lock.unlock();
            const bool playing = m_engine.PollPlaybackTime(*player);
            lock.lock();
            // Every 50 ms; while nothing plays, ask again soon without spinning.
            m_pollWake.wait_for(lock, playing ? 50ms : 5ms, [this] { return m_bStopPoll; });
        }
    });
}

void CSingingSession::StopPoller() {
    if (!m_pollThread.joinable()) return;
    {
        std::lock_guard lock(m_pollMutex);
        m_bStopPoll = true;
    }
    m_pollWake.notify_all();
    m_pollThread.join();
}

}  // namespace engine
