// Listening to a capture device outside a singing session: for the settings page's level meter
// and note, and for measuring the latency. The device records in the session's format, buffer by
// buffer; each buffer's first channel and stamp are copied into a ring that the reading thread
// empties with Drain.
//
// Threads: Start and Stop on one thread (not the audio thread); the notice runs on the device's
// thread and only copies into preallocated memory, counts, and queues the buffer again; Drain on
// one reading thread. The ring has one writer (the notice) and one reader (Drain): the writer
// publishes a slot with a release store of m_written, the reader frees it with a release store of
// m_read. A full ring drops the newest buffer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/singingengine.h"
#include "platform/capturedevice.h"
#include "platform/waveformat.h"

namespace platform {
class CClickPlayer;
}

namespace engine {

inline constexpr int kMonitorBufferFrames =  // 0.12 s, as in a session
    kCaptureBufferBytes / kCaptureFormat.nBlockAlign;
inline constexpr int kMonitorBuffers = 4;
inline constexpr int kMonitorRingSlots = 64;  // 7.68 s of buffers not yet drained

class CInputMonitor {
public:
    CInputMonitor();
    ~CInputMonitor();
    CInputMonitor(const CInputMonitor&) = delete;
    CInputMonitor& operator=(const CInputMonitor&) = delete;

    // Opens the device (which must be closed) in kCaptureFormat, queues the buffers and starts
    // it; false with the reason in error. The device must outlive Stop.
    bool Start(platform::CCaptureDevice& device, std::string& error);
    // Closes the device Start opened (returning its buffers); nothing when not started.
    void Stop();
    bool IsRunning() const { return m_pDevice != nullptr; }

    // The clock every buffer from now on is stamped with (none: platform::kNoClockStamp). The
    // player must outlive the monitor's use of it: set it to nullptr before the player goes.
    void SetClock(const platform::CClickPlayer* player) { m_pClock.store(player); }

    // A buffer the device recorded: its first channel and its stamp.
    using Take = std::function<void(const int16_t* samples, int count, int32_t clockMs)>;
    // Hands every buffer recorded since the last call to take, oldest first; returns how many.
    int Drain(const Take& take);
    // Buffers dropped because the ring was full, since Start.
    int Dropped() const { return m_nDropped.load(); }

private:
    void OnBuffer(platform::WaveHeader* header);

    struct Slot {
        std::array<int16_t, kMonitorBufferFrames> samples{};
        int nCount = 0;
        int32_t nClockMs = platform::kNoClockStamp;
    };
    platform::CCaptureDevice* m_pDevice = nullptr;
    std::vector<std::vector<char>> m_memory;
    std::array<platform::WaveHeader, kMonitorBuffers> m_headers{};
    std::vector<Slot> m_ring;
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_read{0};
    std::atomic<int> m_nDropped{0};
    std::atomic<bool> m_bRequeue{false};
    std::atomic<const platform::CClickPlayer*> m_pClock{nullptr};
};

}  // namespace engine
