// Clicks for measuring the microphone latency, played on the accompaniment's output (PortAudio's
// default output device) with the accompaniment player's clock: Position() is the time since the
// first sample of the track sounded, from PortAudio's output time of each block, as
// CAccompanimentPlayer counts it.
//
// The whole track is in memory before the stream starts; the stream's callback only copies from
// it and moves atomic counters. Play, Stop and the destructor on one thread (not the audio
// thread); Position from any thread, and quick enough for a capture device's stamp clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct PaStreamCallbackTimeInfo;

namespace platform {

class CClickPlayer {
public:
    CClickPlayer() = default;
    virtual ~CClickPlayer();
    CClickPlayer(const CClickPlayer&) = delete;
    CClickPlayer& operator=(const CClickPlayer&) = delete;

    // Plays mono samples taken at rate Hz from their beginning (stopping what plays); false with
    // the reason in error when no output device takes them.
    virtual bool Play(std::vector<int16_t> samples, int rate, std::string& error);
    // Milliseconds since the track's first sample sounded: 0 before, and on in real time after
    // its end until Stop, where it stays.
    virtual int Position() const;
    // Stops the sound and the clock.
    virtual void Stop();

private:
    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* timeInfo, unsigned long flags, void* user);

    std::vector<int16_t> m_samples;  // read by the callback between Play and Stop
    int m_nChannels = 1;
    int m_nRate = 0;
    double m_latency = 0;  // the stream's output latency, seconds
    void* m_pStream = nullptr;
    bool m_bPortAudio = false;
    std::atomic<uint64_t> m_handed{0};    // frames the stream has taken
    std::atomic<int64_t> m_originNs{-1};  // steady time at which frame 0 sounds; -1: not yet
    std::atomic<int> m_nStoppedMs{0};     // Position() after Stop
    std::atomic<bool> m_bRunning{false};
};

}  // namespace platform
