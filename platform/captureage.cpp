#include "platform/captureage.h"

#include <algorithm>

#include "platform/waveformat.h"

namespace platform {

void CCaptureAge::Restart(int64_t samplesPerSecond) {
    m_nRate = std::max<int64_t>(samplesPerSecond, 1);
    m_nFrames = 0;
    m_nOriginNs = 0;
    m_nLastNs = 0;
    m_bStarted = false;
}

int64_t CCaptureAge::BlockArrived(int64_t arrivalNs, int64_t frames, bool lost) {
    if (m_nRate == 0) Restart(1);
    if (lost) m_bStarted = false;
    if (!m_bStarted) m_nFrames = 0;
    m_nFrames += std::max<int64_t>(frames, 0);
    // When frame 0 was recorded, were this block's last frame recorded just now.
    const int64_t originNow = arrivalNs - NanosecondsOfFrames(m_nFrames, m_nRate);
    if (!m_bStarted) {
        m_nOriginNs = originNow;
    } else {
        const int64_t passedNs = std::max<int64_t>(arrivalNs - m_nLastNs, 0);
        const int64_t creep = passedNs * kDriftPerMillion / 1'000'000;
        m_nOriginNs = std::min(originNow, m_nOriginNs + creep);
    }
    m_bStarted = true;
    m_nLastNs = arrivalNs;
    const int64_t age = originNow - m_nOriginNs;
    if (age > kMostAgeNs) {
        m_nOriginNs = originNow;
        return 0;
    }
    return age;
}

}  // namespace platform
