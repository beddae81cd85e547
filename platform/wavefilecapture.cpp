#include "platform/wavefilecapture.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/wavedata.h"

namespace platform {
namespace {

uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

CWaveFileCapture::CWaveFileCapture(std::string path) : m_strPath(std::move(path)) {}

CWaveFileCapture::~CWaveFileCapture() {
    Close();
    Join();  // a thread stopped from inside a notice has not been waited for yet
}

bool CWaveFileCapture::OpenStream(const WaveFormat& format, std::string& error) {
    if (!IsRecordablePcm(format, error)) return false;
    Join();
    if (!Load(format, error)) {
        m_samples.clear();
        return false;
    }
    m_nChannels = format.nChannels;
    m_nRate = format.nSamplesPerSec;
    m_nBlockFrames = std::max<std::size_t>(1, std::size_t(format.nSamplesPerSec) * 120 / 1000);
    m_nNextFrame = 0;
    return true;
}

bool CWaveFileCapture::Load(const WaveFormat& format, std::string& error) {
    WaveData wave;
    if (!ReadWaveData(m_strPath, wave, error)) return false;
    const unsigned nChannels = wave.nChannels;
    const uint32_t nRate = wave.nRate;
    const unsigned nBits = wave.nBits;
    const std::vector<uint8_t>& data = wave.data;
    if (nBits != 16) {
        error = m_strPath + ": " + std::to_string(nBits) + " bits per sample; 16 are needed";
        return false;
    }
    if (nRate != format.nSamplesPerSec) {
        error = m_strPath + ": " + std::to_string(nRate) + " frames per second; " +
                std::to_string(format.nSamplesPerSec) + " are needed";
        return false;
    }
    if (nChannels != 1 && nChannels != format.nChannels) {
        error = m_strPath + ": " + std::to_string(nChannels) + " channels; 1 or " +
                std::to_string(format.nChannels) + " are needed";
        return false;
    }

    // Whole frames only; mono goes into every channel.
    const std::size_t nFrames = data.size() / (2 * nChannels);
    const std::size_t nOut = format.nChannels;
    m_samples.resize(nFrames * nOut);
    for (std::size_t f = 0; f < nFrames; ++f) {
        for (std::size_t c = 0; c < nOut; ++c) {
            const uint8_t* p = data.data() + 2 * (f * nChannels + (nChannels == 1 ? 0 : c));
            m_samples[f * nOut + c] = int16_t(GetLE16(p));
        }
    }
    return true;
}

bool CWaveFileCapture::StartStream(std::string&) {
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) {
        // Stopped and started again from inside a notice: the running thread simply goes on.
        std::lock_guard lock(m_mutex);
        m_bStop = false;
        return true;
    }
    Join();
    {
        std::lock_guard lock(m_mutex);
        m_bStop = false;
    }
    m_thread = std::thread(&CWaveFileCapture::Run, this);
    return true;
}

void CWaveFileCapture::StopStream() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    Join();
}

void CWaveFileCapture::CloseStream() {
    StopStream();
    m_samples.clear();
    m_samples.shrink_to_fit();
}

void CWaveFileCapture::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void CWaveFileCapture::Run() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const double rate = double(m_nRate);
    std::vector<int16_t> block(m_nBlockFrames * m_nChannels);
    const std::size_t nFileFrames = m_samples.size() / m_nChannels;
    for (uint64_t nBlocks = 1;; ++nBlocks) {
        // Each block is due once its last frame would have been recorded.
        const auto due =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(double(nBlocks * m_nBlockFrames) / rate));
        {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_until(lock, due, [this] { return m_bStop; })) return;
        }
        std::fill(block.begin(), block.end(), int16_t(0));
        if (m_nNextFrame < nFileFrames) {
            const std::size_t n = std::min(m_nBlockFrames, nFileFrames - m_nNextFrame);
            std::copy_n(m_samples.begin() + std::ptrdiff_t(m_nNextFrame * m_nChannels),
                        n * m_nChannels, block.begin());
        }
        m_nNextFrame += m_nBlockFrames;
        Deliver(reinterpret_cast<const char*>(block.data()), block.size() * sizeof(int16_t));
    }
}

}  // namespace platform
