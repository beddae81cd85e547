#include "platform/capturedevice.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

CCaptureDevice::~CCaptureDevice() = default;

bool CCaptureDevice::IsRecordablePcm(const WaveFormat& format, std::string& error) {
    if (format.nFormatTag == kWaveFormatPcm && format.nBitsPerSample == 16 &&
        format.nChannels != 0 && format.nBlockAlign == 2 * format.nChannels &&
        format.nSamplesPerSec != 0)
        return true;
    error = "only 16-bit PCM can be recorded";
    return false;
}

bool CCaptureDevice::Open(const WaveFormat& format, Notice notice) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bOpen) {
            m_strError = "the device is already open";
            return false;
        }
    }
    std::string error;
    if (format.nBlockAlign == 0 || !OpenStream(format, error)) {
        std::lock_guard lock(m_mutex);
        m_strError = format.nBlockAlign == 0 ? "the format has no frame size" : error;
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_format = format;
    m_notice = std::move(notice);
    m_bOpen = true;
    m_strError.clear();
    return true;
}

bool CCaptureDevice::PrepareBuffer(WaveHeader* header) {
    std::lock_guard lock(m_mutex);
    if (!header || !header->lpData || (header->dwFlags & kWaveHeaderInQueue)) return false;
    header->dwFlags |= kWaveHeaderPrepared;
    return true;
}

bool CCaptureDevice::AddBuffer(WaveHeader* header) {
    std::lock_guard lock(m_mutex);
    if (!m_bOpen || !header || !(header->dwFlags & kWaveHeaderPrepared) ||
        (header->dwFlags & kWaveHeaderInQueue))
        return false;
    header->dwFlags = (header->dwFlags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
    header->dwBytesRecorded = 0;
    header->nClockMs = kNoClockStamp;
    m_queue.push_back(header);
    return true;
}

bool CCaptureDevice::Start() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_bOpen) return false;
        if (m_bRunning) return true;
    }
    std::string error;
    const bool started = StartStream(error);
    std::lock_guard lock(m_mutex);
    m_bRunning = started;
    if (!started) m_strError = error;
    return started;
}

bool CCaptureDevice::Reset() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_bOpen) return false;
    }
    StopStream();
    std::vector<WaveHeader*> returned;
    Notice notice;
    {
        std::lock_guard lock(m_mutex);
        m_bRunning = false;
        returned.assign(m_queue.begin(), m_queue.end());
        m_queue.clear();
        for (WaveHeader* header : returned)
            header->dwFlags = (header->dwFlags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
        notice = m_notice;
    }
    for (WaveHeader* header : returned)
        if (notice) notice(header);
    return true;
}

bool CCaptureDevice::UnprepareBuffer(WaveHeader* header) {
    std::lock_guard lock(m_mutex);
    if (!header || (header->dwFlags & kWaveHeaderInQueue)) return false;
    header->dwFlags &= ~kWaveHeaderPrepared;
    return true;
}

void CCaptureDevice::Close() {
    if (!IsOpen()) return;
    Reset();
    CloseStream();
    std::lock_guard lock(m_mutex);
    m_bOpen = false;
    m_notice = nullptr;
}

void CCaptureDevice::SetStampClock(StampClock clock) {
    std::lock_guard lock(m_mutex);
    m_stampClock = std::move(clock);
}

bool CCaptureDevice::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_bOpen;
}

std::string CCaptureDevice::LastError() const {
    std::lock_guard lock(m_mutex);
    return m_strError;
}

void CCaptureDevice::Deliver(const char* bytes, std::size_t count) {
    DeliverStamped(bytes, count, ReadStampClock());
}

void CCaptureDevice::DeliverStamped(const char* bytes, std::size_t count, int32_t clockAtEnd) {
    while (count > 0) {
        WaveHeader* full = nullptr;
        Notice notice;
        {
            std::lock_guard lock(m_mutex);
            if (!m_bRunning || m_queue.empty()) return;  // nowhere to put them: dropped
            WaveHeader* header = m_queue.front();
            const std::size_t room = header->dwBufferLength - header->dwBytesRecorded;
            const std::size_t take = std::min(room, count);
            std::memcpy(header->lpData + header->dwBytesRecorded, bytes, take);
            header->dwBytesRecorded += static_cast<uint32_t>(take);
            bytes += take;
            count -= take;
            if (header->dwBytesRecorded == header->dwBufferLength) {
                m_queue.pop_front();
                // The bytes still to come after this buffer were recorded after it: its end was
                // that much earlier, in whole milliseconds rounded down.
                const int64_t perSecond = m_format.nAvgBytesPerSec;
                const int64_t laterMs =
                    perSecond == 0
                        ? 0
                        : (static_cast<int64_t>(count) * 1000 + perSecond - 1) / perSecond;
                header->nClockMs = clockAtEnd == kNoClockStamp
                                       ? kNoClockStamp
                                       : static_cast<int32_t>(clockAtEnd - laterMs);
                header->dwFlags = (header->dwFlags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
                full = header;
                notice = m_notice;
            }
        }
        // The receiver may queue buffers again, or even reset the device, from inside the notice.
        if (full && notice) notice(full);
    }
}

}  // namespace platform
