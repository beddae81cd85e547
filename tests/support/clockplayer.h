// A silent accompaniment whose position is the time since it started playing: the player of
// whole sessions driven in real time by tests and benchmarks.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "platform/player.h"

namespace testing_support {

class ClockPlayer : public platform::CPlayer {
public:
    using platform::CPlayer::Open;
    using platform::CPlayer::Play;
    bool Open(const std::string&, const platform::AudioSpan&) override {
        m_bOpen = true;
        return true;
    }
    void PlayFrom(int positionMs) override {
        m_start = std::chrono::steady_clock::now() - std::chrono::milliseconds(positionMs);
        m_bPlaying = true;
    }
    int Length() const override { return 600000; }
    int Position() const override {
        if (!m_bPlaying) return m_nStopped;
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - m_start)
                                    .count());
    }
    int Speed() const override { return m_bOpen ? platform::kNormalSpeed : 0; }
    void Stop() override {
        m_nStopped = Position();
        m_bPlaying = false;
    }

private:
    std::chrono::steady_clock::time_point m_start;
    std::atomic<bool> m_bOpen{false};
    std::atomic<bool> m_bPlaying{false};
    std::atomic<int> m_nStopped{0};
};

}  // namespace testing_support
