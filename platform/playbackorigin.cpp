#include "platform/playbackorigin.h"

#include <algorithm>

#include "platform/waveformat.h"

namespace platform {

int64_t CPlaybackOrigin::BlockTaken(int64_t takenNs, int64_t aheadNs, int64_t first, int64_t rate) {
    rate = std::max<int64_t>(rate, 1);
    first = std::max<int64_t>(first, 0);
    // The earliest frame 0 can be heard, were this block's first frame heard when the device says.
    const int64_t bound =
        takenNs + std::max<int64_t>(aheadNs, 0) - NanosecondsOfFrames(first, rate);
    if (!m_bStarted) {
        m_nOriginNs = bound;
    } else {
        const int64_t passedNs = std::max<int64_t>(takenNs - m_nLastNs, 0);
        const int64_t creep = passedNs * kDriftPerMillion / 1'000'000;
        m_nOriginNs = std::max(bound, m_nOriginNs - creep);
    }
    m_bStarted = true;
    m_nLastNs = takenNs;
    return m_nOriginNs;
}

}  // namespace platform
