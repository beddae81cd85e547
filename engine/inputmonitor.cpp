#include "engine/inputmonitor.h"

#include <algorithm>
#include <cstring>

#include "platform/clickplayer.h"

namespace engine {

CInputMonitor::CInputMonitor() : m_ring(kMonitorRingSlots) {
    m_memory.assign(kMonitorBuffers, std::vector<char>(std::size_t(kMonitorBufferFrames) *
                                                       kCaptureFormat.nBlockAlign));
}

CInputMonitor::~CInputMonitor() { Stop(); }

bool CInputMonitor::Start(platform::CCaptureDevice& device, std::string& error) {
    Stop();
    m_written = 0;
    m_read = 0;
    m_nDropped = 0;
    device.SetStampClock([this]() -> int32_t {
        const platform::CClickPlayer* clock = m_pClock.load();
        return clock ? clock->Position() : platform::kNoClockStamp;
    });
    if (!device.Open(kCaptureFormat, [this](platform::WaveHeader* header) { OnBuffer(header); })) {
        error = device.LastError();
        return false;
    }
    m_pDevice = &device;
    m_bRequeue = true;
    for (std::size_t i = 0; i < m_headers.size(); ++i) {
        m_headers[i] = platform::WaveHeader{};
        m_headers[i].lpData = m_memory[i].data();
        m_headers[i].dwBufferLength = uint32_t(m_memory[i].size());
        device.PrepareBuffer(&m_headers[i]);
        device.AddBuffer(&m_headers[i]);
    }
    if (!device.Start()) {
        error = device.LastError();
        Stop();
        return false;
    }
    return true;
}

void CInputMonitor::Stop() {
    if (!m_pDevice) return;
    m_bRequeue = false;
    m_pDevice->Close();
    m_pDevice->SetStampClock(nullptr);
    m_pDevice = nullptr;
}

void CInputMonitor::OnBuffer(platform::WaveHeader* header) {
    const int frames = int(header->dwBytesRecorded / kCaptureFormat.nBlockAlign);
    if (frames > 0) {
        const uint64_t w = m_written.load(std::memory_order_relaxed);
        if (w - m_read.load(std::memory_order_acquire) >= m_ring.size()) {
            m_nDropped.fetch_add(1, std::memory_order_relaxed);
        } else {
            Slot& slot = m_ring[w % m_ring.size()];
            const int n = std::min(frames, kMonitorBufferFrames);
            const char* bytes = header->lpData;
            for (int f = 0; f < n; ++f)
                std::memcpy(&slot.samples[std::size_t(f)],
                            bytes + std::ptrdiff_t{f} * kCaptureFormat.nBlockAlign,
                            sizeof(int16_t));
            slot.nCount = n;
            slot.nClockMs = header->nClockMs;
            m_written.store(w + 1, std::memory_order_release);
        }
    }
    // A full buffer goes round again; the partial ones a reset returns stay out.
    if (m_bRequeue.load() && header->dwBytesRecorded == header->dwBufferLength && m_pDevice)
        m_pDevice->AddBuffer(header);
}

int CInputMonitor::Drain(const Take& take) {
    int n = 0;
    uint64_t r = m_read.load(std::memory_order_relaxed);
    const uint64_t w = m_written.load(std::memory_order_acquire);
    for (; r < w; ++r, ++n) {
        const Slot& slot = m_ring[r % m_ring.size()];
        if (take) take(slot.samples.data(), slot.nCount, slot.nClockMs);
        m_read.store(r + 1, std::memory_order_release);
    }
    return n;
}

}  // namespace engine
