// The preview of a song on the song list: a stretch of its music from where the song says a
// preview starts (else from a third of the music), kPreviewLengthMs long, quieter than a song is
// sung to (kPreviewGain) and faded in and out over kPreviewFadeMs.
//
// Play and Stop return at once; a worker thread does the rest: it asks the loader where the
// song's music is (reading the song's files), opens the music, and plays it through a
// CAccompanimentPlayer. Only the latest request counts: a Play or Stop made while the worker is
// still loading or opening an earlier song supersedes it, and that song is never heard. Sound
// that is stopped fades out over kStopFadeMs instead of breaking off.
//
// Where no output device opens, the preview is silent and says nothing. The destructor stops the
// sound and joins the worker, which may first finish opening a file (see CAccompanimentPlayer).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/accompanimentplayer.h"

namespace platform {

inline constexpr int kPreviewLengthMs = 20000;
inline constexpr int kPreviewFadeMs = 500;
inline constexpr double kPreviewGain = 0.5;
inline constexpr int kStopFadeMs = 80;

// Where a song's preview comes from: the music file and where in it the preview starts
// (milliseconds; -1, or a time past the music's end: a third of the way into the music).
struct PreviewMusic {
    std::string strAudio;
    int nStartMs = -1;
};
// Finds the preview of the song named (on the worker thread); false when the song has none.
using PreviewLoader = std::function<bool(const std::string& song, PreviewMusic& music)>;

// Where the preview of music lengthMs long plays from: startMs when it lies within the music.
int PreviewStartMs(int startMs, int lengthMs);

class CPreviewPlayer {
public:
    explicit CPreviewPlayer(PreviewLoader loader, CAccompanimentPlayer::Output output =
                                                      CAccompanimentPlayer::Output::DefaultDevice);
    ~CPreviewPlayer();
    CPreviewPlayer(const CPreviewPlayer&) = delete;
    CPreviewPlayer& operator=(const CPreviewPlayer&) = delete;

    // Plays the preview of the song, in place of any other.
    void Play(const std::string& song);
    // Stops the preview (or the one about to start).
    void Stop();

    // The song whose preview is playing ("" when none), where in its music it started, and how
    // many previews have started so far.
    std::string Playing() const;
    int StartMs() const;
    int Previews() const;
    // Whether the output device has taken samples of the preview playing.
    bool Heard() const;

private:
    void Run();
    // Loads, opens and plays the song unless request `serial` is superseded meanwhile.
    void Start(const std::string& song, uint64_t serial);
    // Fades out and stops the sound playing, if any.
    void StopSound();
    bool Superseded(uint64_t serial) const;

    const PreviewLoader m_loader;
    CAccompanimentPlayer m_player;  // the worker's alone, but for the queries above
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_request;   // the song asked for last ("" after Stop)
    uint64_t m_nSerial = 0;  // counts the requests
    bool m_bQuit = false;
    std::string m_playing;
    int m_nStartMs = -1;
    int m_nPreviews = 0;
    std::thread m_thread;  // last: starts once the rest is ready
};

}  // namespace platform
