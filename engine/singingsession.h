// A singing session: one single song, or a medley of four, sung from the first song's start to
// the final score or until the user stops. The session owns everything a session runs: the
// evaluation engine, the capture device and its buffers, the accompaniment player, the playback
// poller and the song being sung (shared, immutable, with the display). The dialog and the
// headless scorer both drive this class and keep only their screens.
//
// Threads. Everything runs on the session's thread (the thread that calls Start and the posted
// steps), except two things: the capture device hands buffers back on its own thread, where the
// session only makes a notice by value (buffer index, byte count, clock stamp, generation) and
// posts it; and the poller asks the player for the time on its own thread. A notice from an
// earlier generation (before the last reset of the device) is dropped: its buffer may be queued
// and filling again. Moving on to a medley's next song is a posted step too, never a call made
// from inside the handling of a buffer.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/problem.h"
#include "engine/sessionview.h"
#include "engine/singingengine.h"
#include "engine/song.h"
#include "engine/songref.h"
#include "platform/capturedevice.h"
#include "platform/player.h"

namespace engine {

// What the device's thread tells the session about a buffer it handed back, by value.
struct CaptureNotice {
    int nIndex = -1;  // which of the session's buffers
    uint32_t nBytes = 0;
    int32_t nClockMs = platform::kNoClockStamp;
    unsigned nGeneration = 0;  // the capture generation it belongs to
};

class CSingingSession {
public:
    // Runs a step later on the session's thread, after what is running now has returned.
    using Post = std::function<void(std::function<void()>)>;
    // Makes the player of the next song's accompaniment.
    using MakePlayer = std::function<std::unique_ptr<platform::CPlayer>()>;

    // pollThread: the poller runs on a thread of its own every 50 ms while a song plays; without
    // it, whoever drives the session calls PollPlayback (the headless scorer's virtual clock).
    CSingingSession(CSessionView& view, Post post, MakePlayer makePlayer, bool pollThread);
    ~CSingingSession();
    CSingingSession(const CSingingSession&) = delete;
    CSingingSession& operator=(const CSingingSession&) = delete;

    // The folder that holds "歌曲" ("" is the working directory).
    void SetLibraryFolder(const std::string& folder) { m_strLibrary = folder; }

    // --- the capture device ---
    // Takes the device (closing the previous one); nothing is opened yet.
    void SetCaptureDevice(std::unique_ptr<platform::CCaptureDevice> device);
    platform::CCaptureDevice* CaptureDevice() const { return m_device.get(); }
    // Opens the device as 16-bit stereo PCM at 8000 frames/s. The problem ("Audio can not be
    // open!", with the beep) when it cannot be opened; the device's reason goes to the trace.
    std::optional<Problem> OpenCapture();
    void CloseCapture();
    bool IsCaptureOpen() const { return m_device && m_device->IsOpen(); }

    // --- settings, kept from one session to the next ---
    void SetHighOffset(bool high) { m_engine.SetHighOffset(high); }
    void SetLatencyMs(int milliseconds) { m_engine.SetLatencyMs(milliseconds); }
    // How strictly the lines are judged; taken by the next session that starts.
    void SetJudgingLevel(JudgingLevel level) { m_engine.SetJudgingLevel(level); }
    JudgingLevel Level() const { return m_engine.Level(); }

    // --- sessions ---
    // Loads the first song and starts it: the device records, the accompaniment plays, the
    // poller runs. songs: one single song, or the four songs of a medley (each sung whole, or
    // its medley section where its file marks one). The role picks a duet's part. On failure
    // everything is quiet again and the problem comes back (nothing has been shown).
    std::optional<Problem> Start(std::vector<SongRef> songs, bool medley);
    // The same for songs of the library named by their folders ("歌曲/单曲/<name>", or
    // "歌曲/串烧歌曲/<name>" for a medley).
    std::optional<Problem> Start(const std::vector<std::string>& names, bool medley);
    // Practice of one line of a song: the accompaniment from PracticeStartMs (2 s before the line)
    // to the line's end, the line judged and scored as in a whole song, then again from the
    // start, attempt after attempt until Stop. Each score reaches PracticeAttemptScored. On
    // failure (the song does not load) everything is quiet and the problem comes back.
    // With the carry of the line from a run of the song (OnLineBegun), each attempt is judged as
    // the song judged the line.
    std::optional<Problem> StartPractice(const SongRef& song, int line,
                                         std::optional<LineCarry> carry = std::nullopt);
    bool IsPractising() const { return m_bRunning && m_practiceSong != nullptr; }
    int PracticeAttempt() const { return m_nAttempt; }
    // The user stops: everything goes quiet, nothing is shown and no step stays due.
    void Stop();
    bool IsRunning() const { return m_player != nullptr; }
    // The playing accompaniment's position in milliseconds (0 when none plays): the display's
    // clock.
    int PlayerPosition() const { return m_player ? m_player->Position() : 0; }
    // One round of the poller (for sessions without a poller thread).
    bool PollPlayback();
    // The song being sung now (for a medley, its current song), and its name.
    SongRef CurrentSong() const;
    std::string CurrentSongName() const { return CurrentSong().strName; }
    const CSingingEngine& Engine() const { return m_engine; }

    // The notice of a buffer the device has just handed back; safe on the device's thread.
    CaptureNotice MakeNotice(const platform::WaveHeader* header) const;
    // Handles a notice on the session's thread: judges the buffer, hands it back to the device,
    // and posts the next step when the song is over.
    void OnCaptureNotice(const CaptureNotice& notice);

private:
    std::optional<Problem> StartSong(int index);
    // The device records, the accompaniment plays from fromMs, the poller runs; the problem
    // when the accompaniment cannot be opened (nothing then runs).
    std::optional<Problem> Launch(const CSong& song, int fromMs);
    std::optional<Problem> StartAttempt();  // the problem when it cannot start
    void StopSong();  // the player, the poller and the device stop; the song is let go
    void Quiet();     // StopSong and everything of the session reset
    void NextSong();
    void Finish();
    void QueueBuffers();
    void ResetCapture();
    void StartPoller();
    void StopPoller();

    CSessionView& m_view;
    Post m_post;
    MakePlayer m_makePlayer;
    bool m_bPollThread;
    std::string m_strLibrary;
    CSingingEngine m_engine;

    std::unique_ptr<platform::CCaptureDevice> m_device;
    std::array<platform::WaveHeader, kCaptureBuffers> m_headers{};
    std::array<std::array<char, kCaptureBufferBytes>, kCaptureBuffers> m_buffers{};
    std::atomic<unsigned> m_nGeneration{0};

    // The player of the song playing now (null between songs), and the last one, kept after a
    // stop so that its answers stay valid for whoever asked it last.
    platform::CPlayer* m_player = nullptr;
    std::unique_ptr<platform::CPlayer> m_playerObject;
    // The player buffers are stamped from: set while a song plays, cleared before the device is
    // reset, so the device's thread never reads a player that is going away.
    std::atomic<const platform::CPlayer*> m_stampPlayer{nullptr};

    std::vector<SongRef> m_songs;
    std::shared_ptr<const CSong> m_practiceSong;  // the song of a practice (null otherwise)
    int m_nPracticeLine = 0;
    std::optional<LineCarry> m_practiceCarry;
    int m_nAttempt = 0;
    bool m_bRunning = false;        // a session is on (from Start until it is quiet)
    unsigned m_nSessionSerial = 0;  // posted steps of an ended session do nothing

    std::thread m_pollThread;
    std::mutex m_pollMutex;
    std::condition_variable m_pollWake;
    bool m_bStopPoll = false;
};

}  // namespace engine
