#include "platform/clickplayer.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "platform/portaudioinit.h"
#include "platform/quietalsa.h"

namespace platform {
namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CClickPlayer::~CClickPlayer() { CClickPlayer::Stop(); }

bool CClickPlayer::Play(std::vector<int16_t> samples, int rate, std::string& error) {
    Stop();
    QuietAlsaProbes();
    auto fail = [&](const std::string& why) {
        error = why;
        if (m_pStream) Pa_CloseStream(m_pStream);
        m_pStream = nullptr;
        if (m_bPortAudio) TerminatePortAudio();
        m_bPortAudio = false;
        return false;
    };
    if (rate <= 0 || samples.empty()) return fail("nothing to play");
    PaError result = InitializePortAudio();
    if (result != paNoError) return fail(std::string("Pa_Initialize: ") + Pa_GetErrorText(result));
    m_bPortAudio = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) return fail("no default output device");
    PaStreamParameters params{};
    params.device = device;
    params.sampleFormat = paInt16;
    params.suggestedLatency = info->defaultHighOutputLatency;  // as the accompaniment plays
    params.channelCount = 0;
    for (int channels : {1, 2}) {
        params.channelCount = channels;
        if (channels <= info->maxOutputChannels &&
            Pa_IsFormatSupported(nullptr, &params, double(rate)) == paFormatIsSupported)
            break;
        params.channelCount = 0;
    }
    if (params.channelCount == 0) return fail("the output device does not take the clicks' format");

    m_samples = std::move(samples);
    m_nChannels = params.channelCount;
    m_nRate = rate;
    m_handed = 0;
    m_originNs = -1;
    m_nStoppedMs = 0;
    PaStream* stream = nullptr;
    result = Pa_OpenStream(&stream, nullptr, &params, double(rate), paFramesPerBufferUnspecified,
                           paNoFlag, &CClickPlayer::Callback, this);
    if (result != paNoError) return fail(std::string("Pa_OpenStream: ") + Pa_GetErrorText(result));
    m_pStream = stream;
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
    m_latency = streamInfo ? streamInfo->outputLatency : 0;
    m_bRunning = true;
    result = Pa_StartStream(stream);
    if (result != paNoError) {
        m_bRunning = false;
        return fail(std::string("Pa_StartStream: ") + Pa_GetErrorText(result));
    }
    return true;
}

int CClickPlayer::Position() const {
    if (!m_bRunning.load()) return m_nStoppedMs.load();
    const int64_t origin = m_originNs.load();
    if (origin < 0) return 0;
    const int64_t ms = (NowNs() - origin) / 1'000'000;
    return int(std::clamp<int64_t>(ms, 0, INT_MAX));
}

void CClickPlayer::Stop() {
    if (m_bRunning.load()) m_nStoppedMs = Position();
    m_bRunning = false;
    if (m_pStream) {
        Pa_AbortStream(m_pStream);
        Pa_CloseStream(m_pStream);
        m_pStream = nullptr;
    }
    if (m_bPortAudio) TerminatePortAudio();
    m_bPortAudio = false;
}

int CClickPlayer::Callback(const void*, void* output, unsigned long frames,
                           const PaStreamCallbackTimeInfo* timeInfo, unsigned long, void* user) {
    auto& self = *static_cast<CClickPlayer*>(user);
    auto* out = static_cast<int16_t*>(output);
    const int64_t now = NowNs();
    const uint64_t start = self.m_handed.load(std::memory_order_relaxed);
    const uint64_t total = self.m_samples.size();
    for (unsigned long f = 0; f < frames; ++f) {
        const uint64_t index = start + f;
        const int16_t sample = index < total ? self.m_samples[index] : int16_t(0);
        for (int c = 0; c < self.m_nChannels; ++c) *out++ = sample;
    }
    // When this block's first frame will be heard, on the steady clock.
    double ahead = timeInfo ? timeInfo->outputBufferDacTime - timeInfo->currentTime : -1;
    if (!(ahead >= 0 && ahead < 2)) ahead = self.m_latency;
    if (start < total)  // past the end the clock runs on from the last origin
        self.m_originNs.store(now + int64_t(ahead * 1e9) -
                              int64_t(start) * 1'000'000'000 / self.m_nRate);
    self.m_handed.store(start + frames, std::memory_order_relaxed);
    return paContinue;
}

}  // namespace platform
