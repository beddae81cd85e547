// A stand-in wave device for the audio threads' tests. It keeps the queue of buffers the thread
// gives it; the test plays the device, handing buffers back through the notice when it likes.
// The recording and the playback stand-ins differ in how buffers are added, reset and closed.
#pragma once

#include <portaudio.h>

#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/soundin.h"
#include "platform/waveformat.h"

namespace testing_support {

class FakeWaveDevice : public CWaveDevice {
public:
    int Open(const platform::WaveFormat& format, Notice notice) override {
        std::lock_guard lock(m_mutex);
        ++nOpens;
        if (nOpenError) return nOpenError;
        m_format = format;
        m_notice = std::move(notice);
        m_bOpen = true;
        return paNoError;
    }
    int Prepare(platform::WaveHeader* pHeader) override {
        std::lock_guard lock(m_mutex);
        pHeader->dwFlags |= platform::kWaveHeaderPrepared;
        return paNoError;
    }
    int Unprepare(platform::WaveHeader* pHeader) override {
        std::lock_guard lock(m_mutex);
        if (pHeader->dwFlags & platform::kWaveHeaderInQueue) return paBadBufferPtr;
        pHeader->dwFlags &= ~platform::kWaveHeaderPrepared;
        return paNoError;
    }
    bool IsOpen() const override {
        std::lock_guard lock(m_mutex);
        return m_bOpen;
    }

    int nOpenError = paNoError;  // set before Start
    int nOpens = 0;              // counted under the device's lock

protected:
    // Takes the head buffer off the queue as done, after edit(header) under the lock, and hands it
    // back; nullptr when nothing is queued.
    template <typename Edit>
    platform::WaveHeader* HandBackHead(Edit edit) {
        platform::WaveHeader* pHeader = nullptr;
        Notice notice;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) return nullptr;
            pHeader = m_queue.front();
            m_queue.pop_front();
            edit(pHeader);
            pHeader->dwFlags =
                (pHeader->dwFlags & ~platform::kWaveHeaderInQueue) | platform::kWaveHeaderDone;
            notice = m_notice;
        }
        notice(pHeader);
        return pHeader;
    }
    // Takes every queued buffer off the queue, after locked() under the lock, and hands each back
    // as it is (not done), the way a reset or a close does.
    template <typename Locked>
    void HandBackAll(Locked locked) {
        std::vector<platform::WaveHeader*> all;
        Notice notice;
        {
            std::lock_guard lock(m_mutex);
            locked();
            all.assign(m_queue.begin(), m_queue.end());
            m_queue.clear();
            for (platform::WaveHeader* pHeader : all)
                pHeader->dwFlags &= ~platform::kWaveHeaderInQueue;
            notice = m_notice;
        }
        for (platform::WaveHeader* pHeader : all) notice(pHeader);
    }

    mutable std::mutex m_mutex;
    platform::WaveFormat m_format{};
    Notice m_notice;
    bool m_bOpen = false;
    std::deque<platform::WaveHeader*> m_queue;
};

}  // namespace testing_support
