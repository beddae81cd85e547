#include "platform/previewplayer.h"

#include <chrono>
#include <utility>

namespace platform {
namespace {

// How often the worker looks whether a preview has played to its end.
constexpr auto kCheckEnd = std::chrono::milliseconds(200);
// The output's own queue after the last sample of a fade is taken, before the stream is closed.
constexpr auto kOutputTail = std::chrono::milliseconds(60);

}  // namespace

int PreviewStartMs(int startMs, int lengthMs) {
    return startMs >= 0 && startMs < lengthMs ? startMs : lengthMs / 3;
}

CPreviewPlayer::CPreviewPlayer(PreviewLoader loader, CAccompanimentPlayer::Output output)
    : m_loader(std::move(loader)), m_player(output), m_thread([this] { Run(); }) {}

CPreviewPlayer::~CPreviewPlayer() {
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CPreviewPlayer::Play(const std::string& song) {
    {
        std::lock_guard lock(m_mutex);
        m_request = song;
        ++m_nSerial;
    }
    m_wake.notify_all();
}

void CPreviewPlayer::Stop() { Play(std::string()); }

std::string CPreviewPlayer::Playing() const {
    std::lock_guard lock(m_mutex);
    return m_playing;
}

int CPreviewPlayer::StartMs() const {
    std::lock_guard lock(m_mutex);
    return m_nStartMs;
}

int CPreviewPlayer::Previews() const {
    std::lock_guard lock(m_mutex);
    return m_nPreviews;
}

bool CPreviewPlayer::Heard() const {
    std::lock_guard lock(m_mutex);
    return !m_playing.empty() && m_player.HasSound() && m_player.FramesTaken() > 0;
}

bool CPreviewPlayer::Superseded(uint64_t serial) const {
    std::lock_guard lock(m_mutex);
    return m_bQuit || m_nSerial != serial;
}

void CPreviewPlayer::Run() {
    uint64_t handled = 0;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait_for(lock, kCheckEnd, [&] { return m_bQuit || m_nSerial != handled; });
        if (m_bQuit) break;
        if (m_nSerial == handled) {
            // A preview that has played to its end gives the device back.
            if (!m_playing.empty() && m_player.Position() >= m_player.Length()) {
                lock.unlock();
                StopSound();
                lock.lock();
            }
            continue;
        }
        handled = m_nSerial;
        const std::string song = m_request;
        lock.unlock();
        StopSound();
        if (!song.empty()) Start(song, handled);
        lock.lock();
    }
    lock.unlock();
    StopSound();
}

void CPreviewPlayer::Start(const std::string& song, uint64_t serial) {
    PreviewMusic music;
    if (!m_loader(song, music) || Superseded(serial)) return;
    if (!m_player.Open(music.strAudio) || Superseded(serial)) return;
    const int start = PreviewStartMs(music.nStartMs, m_player.MusicLength());
    m_player.SetSpan(AudioSpan{start, start + kPreviewLengthMs, kPreviewFadeMs});
    m_player.SetVolume(kPreviewGain);
    m_player.Play();
    std::lock_guard lock(m_mutex);
    m_playing = song;
    m_nStartMs = start;
    ++m_nPreviews;
}

void CPreviewPlayer::StopSound() {
    {
        std::lock_guard lock(m_mutex);
        if (m_playing.empty()) return;
        m_playing.clear();
    }
    if (m_player.HasSound()) {
        m_player.FadeOut(kStopFadeMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopFadeMs) + kOutputTail);
    }
    m_player.Stop();
}

}  // namespace platform
