// The accompaniment player: a song's music, in any format OpenAudioDecoder reads (MP3 through
// libmpg123, OGG, Opus, FLAC, M4A, WAV and films' sound tracks through FFmpeg), played on
// PortAudio's default output device.
//
// Open finds the exact length of the music (a scan of an MP3; the container's record or a count
// of the decoded frames otherwise), so Length() is exact: the encoder's delay and padding are
// left out. A playback span plays part of the file: from nStartMs (the first frame heard is the
// one at that time, exact to the frame) to nEndMs, faded in and out on the decoding thread.
// Length() and Position() are then the span's: Position() is 0 where the span starts.
//
// Play starts a decoding thread that keeps a short queue of samples ahead of the output stream,
// and returns at once. Position() is the playback clock: the music frames the output stream has
// taken, less what is still on its way to the loudspeaker (PortAudio's output time of each
// block), running smoothly in between; it never goes back while one Play lasts.
//
// Where no output device can be opened (or the player was made without one), Play runs the same
// clock from the steady clock without sound, so a session still runs; the same happens when the
// device stops taking samples in the middle of a song, and when the span holds no music at all.
//
// The end of the accompaniment does not stop the clock. A song whose last line ends after its
// music would otherwise never end, since the session finishes a song by its clock alone. So once
// the last sample of the span has been played, Position() keeps growing in real time past
// Length(), in silence, until Stop().
//
// Length(), Position(), Speed(), HasSound() and FramesTaken() may be called from any thread at
// any time; Open, Play, Stop and the other settings from one thread (the user-interface thread,
// or a preview's worker). The object may be opened again after Stop, and destroyed at any time:
// the destructor stops the playback and joins its thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/player.h"

namespace platform {

class CAccompanimentPlayer : public CPlayer {
public:
    enum class Output {
        DefaultDevice,  // PortAudio's default output; the silent clock when there is none
        None,           // never opens a device: the silent clock only
    };

    explicit CAccompanimentPlayer(Output output = Output::DefaultDevice);
    ~CAccompanimentPlayer() override;
    CAccompanimentPlayer(const CAccompanimentPlayer&) = delete;
    CAccompanimentPlayer& operator=(const CAccompanimentPlayer&) = delete;

    using CPlayer::Open;
    using CPlayer::Play;
    // Stops what is playing and opens the file to play the span of it. A file that cannot be
    // opened or decoded leaves nothing open (Length and Speed 0), and OpenProblem names it and
    // the problem.
    bool Open(const std::string& path, const AudioSpan& span) override;
    std::string OpenProblem() const override { return m_openProblem; }
    // Plays the open file from positionMs into its span (again, if it was playing): the first
    // frame heard is the one at that time, exact to the frame, and the clock counts on from
    // positionMs. Nothing when no file is open. A position at or past the span's end leaves
    // only the clock, running on from it.
    void PlayFrom(int positionMs) override;
    int Length() const override;
    // Milliseconds since the start of the span; past Length() after its end (see above).
    // Stays where it was after Stop(), and is 0 before the first Play of a file.
    int Position() const override;
    int Speed() const override;
    // Stops the sound and the clock and joins the decoding thread.
    void Stop() override;

    // Whether the current (or last) Play reached an output device and has not lost it.
    bool HasSound() const;
    // Frames of music the output stream has taken since the current (or last) Play started.
    int64_t FramesTaken() const;

    // The length of the whole open file in milliseconds (0 when nothing is open).
    int MusicLength() const;
    // Plays another span of the open file from the next Play, without reading the file again;
    // stops what is playing. Nothing when no file is open.
    void SetSpan(const AudioSpan& span);
    // The volume of the next Play: every sample scaled by gain (0 to 1; 1 at first).
    void SetVolume(double gain);
    // Fades the sound out over ms and then keeps it silent, from the output stream's next block;
    // the clock runs on. Returns at once: Stop ends the playback once the fade is heard.
    void FadeOut(int ms);

private:
    struct Playback;

    void StopLocked();
    // Starts the output stream and the decoding thread from positionMs into the span; false (and
    // a trace line) when there is no device to play on.
    bool StartSound(int positionMs);

    const Output m_output;
    mutable std::mutex m_control;  // Open, Play, Stop and the destructor, one at a time
    std::string m_path;
    std::string m_openProblem;  // why the last Open failed (the opener's thread only)
    AudioSpan m_span;
    double m_dGain = 1.0;
    int64_t m_nMusicFrames = 0;  // the whole file's length, at m_nMusicRate
    long m_nMusicRate = 0;
    std::atomic<bool> m_bOpen{false};
    std::atomic<int> m_nLength{0};
    // The position last given out, whether the clock runs, and a count of the Plays, in one
    // word so that a query that raced with Stop or Play cannot move the stopped clock.
    mutable std::atomic<uint64_t> m_clockState{0};
    std::unique_ptr<Playback> m_pPlayback;  // the clock, and the sound while it plays
};

}  // namespace platform
