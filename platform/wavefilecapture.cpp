#include "platform/wavefilecapture.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <utility>

namespace platform {
namespace {

uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// A block delivered later than this after it was due is stamped as if only this late.
constexpr int64_t kMaxStampDelayMs = 60'000;

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
        m_reader.Close();
        return false;
    }
    m_nChannels = format.nChannels;
    m_nRate = format.nSamplesPerSec;
    m_nBlockFrames = std::max<std::size_t>(1, std::size_t(format.nSamplesPerSec) * 120 / 1000);
    m_fileBlock.assign(m_nBlockFrames * m_reader.FrameBytes(), 0);
    return true;
}

bool CWaveFileCapture::Load(const WaveFormat& format, std::string& error) {
    if (!m_reader.Open(m_strPath, error)) return false;
    const unsigned nChannels = m_reader.Channels();
    const uint32_t nRate = m_reader.Rate();
    const unsigned nBits = m_reader.Bits();
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
    m_nFileChannels = nChannels;
    return true;
}

void CWaveFileCapture::FillBlock(std::vector<int16_t>& block) {
    std::fill(block.begin(), block.end(), int16_t(0));
    if (m_reader.FramesLeft() == 0) return;
    const int64_t nRead = m_reader.ReadFrames(m_fileBlock.data(), m_nBlockFrames);
    // Whole frames only; mono goes into every channel. A read error ends the file: silence.
    for (std::size_t f = 0; f < std::size_t(std::max<int64_t>(0, nRead)); ++f) {
        for (std::size_t c = 0; c < m_nChannels; ++c) {
            const uint8_t* p =
                m_fileBlock.data() + 2 * (f * m_nFileChannels + (m_nFileChannels == 1 ? 0 : c));
            block[f * m_nChannels + c] = int16_t(GetLE16(p));
        }
    }
    if (nRead < 0) m_reader.Close();
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
    m_reader.Close();
    m_fileBlock.clear();
    m_fileBlock.shrink_to_fit();
}

void CWaveFileCapture::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void CWaveFileCapture::Run() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const double rate = double(m_nRate);
    std::vector<int16_t> block(m_nBlockFrames * m_nChannels);
    for (uint64_t nBlocks = 1;; ++nBlocks) {
        // Each block is due once its last frame would have been recorded.
        const auto due =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(double(nBlocks * m_nBlockFrames) / rate));
        {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_until(lock, due, [this] { return m_bStop; })) return;
        }
        FillBlock(block);
        // The block was recorded when it was due: a thread that wakes late (a busy machine)
        // must not make its sound look sung late, so the stamp goes back by the delay.
        int32_t stamp = ReadStampClock();
        if (stamp != kNoClockStamp) {
            const int64_t lateMs = std::clamp<int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - due).count(),
                0, kMaxStampDelayMs);
            stamp = int32_t(std::max<int64_t>(int64_t(stamp) - lateMs, int64_t(INT32_MIN) + 1));
        }
        DeliverStamped(reinterpret_cast<const char*>(block.data()), block.size() * sizeof(int16_t),
                       stamp);
    }
}

}  // namespace platform
