#include "platform/audiospanreader.h"

#include <algorithm>
#include <cmath>

namespace platform {

FrameSpan SpanFrames(const AudioSpan& span, long rate, int64_t musicFrames) {
    auto frameAt = [rate](int ms) { return int64_t(std::max(ms, 0)) * rate / 1000; };
    FrameSpan frames;
    frames.nStart = frameAt(span.nStartMs);
    frames.nFade = frameAt(span.nFadeMs);
    if (span.nEndMs >= 0)
        frames.nEnd = std::min(frameAt(span.nEndMs), musicFrames);
    else if (frames.nFade > 0)
        frames.nEnd = musicFrames;  // the fade-out ends with the music
    return frames;
}

bool CAudioSpanReader::Start(std::unique_ptr<CAudioDecoder> decoder, const FrameSpan& span,
                             std::string& error, int64_t from) {
    m_pDecoder = std::move(decoder);
    m_span = span;
    m_nFrom = std::max<int64_t>(from, 0);
    m_nRead = m_nFrom;
    if (!m_pDecoder) return false;
    m_nRamp = std::max<int64_t>(1, m_pDecoder->Rate() * kSeekRampMs / 1000);
    if (m_span.nStart + m_nFrom > 0 && !m_pDecoder->Seek(m_span.nStart + m_nFrom)) {
        error = m_pDecoder->Problem();
        m_pDecoder.reset();
        return false;
    }
    return true;
}

int CAudioSpanReader::Read(int16_t* out, int frames) {
    if (!m_pDecoder) return 0;
    if (m_span.nEnd >= 0)
        frames = int(std::min<int64_t>(frames, m_span.nEnd - m_span.nStart - m_nRead));
    if (frames <= 0) return 0;
    const int got = m_pDecoder->Read(out, frames);
    const bool rising = m_nFrom > 0 && m_nRead - m_nFrom < m_nRamp;
    const double volume = std::clamp(m_span.dGain, 0.0, 1.0);
    if (m_span.nFade > 0 || rising || volume < 1.0) {
        const int channels = m_pDecoder->Channels();
        const double fade = double(std::max<int64_t>(m_span.nFade, 1));
        const int64_t length = m_span.nEnd >= 0 ? m_span.nEnd - m_span.nStart : INT64_MAX;
        for (int i = 0; i < got; ++i) {
            const int64_t j = m_nRead + i;
            double gain = m_span.nFade > 0
                              ? std::min({1.0, double(j) / fade, double(length - j) / fade})
                              : 1.0;
            if (m_nFrom > 0) gain = std::min(gain, double(j - m_nFrom) / double(m_nRamp));
            gain *= volume;
            if (gain >= 1.0) continue;
            for (int c = 0; c < channels; ++c) {
                int16_t& sample = out[std::size_t(i) * std::size_t(channels) + std::size_t(c)];
                sample = int16_t(std::lround(sample * gain));
            }
        }
    }
    m_nRead += got;
    return got;
}

std::string CAudioSpanReader::Problem() const {
    return m_pDecoder ? m_pDecoder->Problem() : std::string();
}

void CAudioSpanReader::Close() {
    if (m_pDecoder) m_pDecoder->Close();
    m_pDecoder.reset();
}

}  // namespace platform
