// A player without sound whose position is set by its owner: the headless scorer's clock.
#pragma once

#include <algorithm>
#include <atomic>

#include "platform/player.h"

namespace platform {

class CVirtualPlayer : public CPlayer {
public:
    // A media of the given length; 0 means it never ends. Its clock is set by its owner.
    explicit CVirtualPlayer(int lengthMs = 0) : m_nMediaLength(lengthMs), m_nLength(lengthMs) {}

    using CPlayer::Open;
    using CPlayer::Play;
    // A newly opened media starts at position 0. A span that ends early makes the length the
    // span's, also in a media that never ends.
    bool Open(const std::string&, const AudioSpan& span) override {
        m_nLength = m_nMediaLength > 0 ? SpanLengthMs(span, m_nMediaLength)
                    : span.nEndMs >= 0 ? std::max(0, span.nEndMs - std::max(0, span.nStartMs))
                                       : 0;
        m_bOpen = true;
        m_bPlaying = false;
        m_nPosition = 0;
        m_nPlayedFrom = 0;
        return true;
    }
    void PlayFrom(int positionMs) override {
        m_bPlaying = m_bOpen.load();
        if (!m_bPlaying) return;
        m_nPlayedFrom = std::max(0, positionMs);
        m_nPosition = m_nPlayedFrom.load();
    }
    int Length() const override { return m_nLength; }
    int Position() const override { return m_nPosition; }
    int Speed() const override { return m_bOpen ? kNormalSpeed : 0; }
    void Stop() override { m_bPlaying = false; }

    // Moves the clock; a stopped player keeps its position.
    void SetClock(int milliseconds) {
        if (m_bPlaying) m_nPosition = milliseconds;
    }
    bool IsPlaying() const { return m_bPlaying; }
    // Where the last Play started: the owner's clock counts on from it.
    int PlayedFrom() const { return m_nPlayedFrom; }

private:
    const int m_nMediaLength;
    std::atomic<int> m_nLength;
    std::atomic<int> m_nPosition{0};
    std::atomic<int> m_nPlayedFrom{0};
    std::atomic<bool> m_bOpen{false};
    std::atomic<bool> m_bPlaying{false};
};

}  // namespace platform
