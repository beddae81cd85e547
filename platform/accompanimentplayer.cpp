#include "platform/accompanimentplayer.h"

#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/audiodecoder.h"
#include "platform/audiospanreader.h"
#include "platform/messages.h"
#include "platform/playbackorigin.h"
#include "platform/portaudioinit.h"
#include "platform/quietalsa.h"
#include "platform/realtime.h"
#include "platform/waveformat.h"

namespace platform {
namespace {

constexpr int64_t kUnset = INT64_MIN;
constexpr int64_t kNsPerMs = 1'000'000;
// A device that has taken nothing for this long is taken for lost. While it starts (its first
// half second of sound) it gets longer: a sound server may take over a second to get going when
// a stream follows another at once, as a medley's songs do.
constexpr int64_t kStallNs = 1'000'000'000;
constexpr int64_t kStartingStallNs = 3'000'000'000;
constexpr int64_t kStartingMs = 500;
// The decoding thread's pause while the queue is full or the music is over.
constexpr auto kNap = std::chrono::milliseconds(10);
constexpr std::size_t kChunkSamples = 2048;  // decoded at a time
// The queue holds this much music decoded ahead: a decoding thread kept waiting by a busy machine
// for seconds still has music queued. Before the sound starts only the first part is decoded.
constexpr double kQueueSeconds = 4.0;
constexpr double kPrefillSeconds = 0.5;
// The output stream's latency: a busy scheduler may keep the callback waiting this long without
// a gap (the clock accounts for it).
constexpr double kOutputLatency = 0.3;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The player's clock state: bits 0 to 31 the position last given out (milliseconds), bit 32 set
// while the clock runs, the bits above it the number of Plays and Opens so far.
constexpr uint64_t kRunning = uint64_t(1) << 32;
constexpr uint64_t kPositionBits = 0xFFFFFFFFu;
uint64_t ClockState(uint64_t plays, bool running, int position) {
    return plays << 33 | (running ? kRunning : 0) | uint32_t(position);
}
int PositionOf(uint64_t state) { return int(uint32_t(state & kPositionBits)); }
bool RunningOf(uint64_t state) { return state & kRunning; }
uint64_t PlaysOf(uint64_t state) { return state >> 33; }

}  // namespace

// The clock, and while there is sound, the output stream with the decoder and the queue of
// samples between them. One for the player's whole life, so that the queries never meet a freed
// one; Play sets it up anew.
//
// The queue is a ring of samples with one writer (the decoding thread) and one reader (the
// stream's callback); written and read count samples from the start and only grow.
struct CAccompanimentPlayer::Playback {
    // --- the clock ---
    // The steady-clock time at which the first frame of the music sounds (or would have).
    std::atomic<int64_t> originNs{kUnset};
    // Music frames the stream has taken, counted from the span's start (a Play from inside the
    // span starts there): the clock does not run ahead of them.
    std::atomic<int64_t> handedFrames{0};
    std::atomic<int64_t> firstFrame{0};  // where the Play started, in frames of the span
    // The estimate of originNs from the blocks taken; only the stream's callback uses it.
    CPlaybackOrigin heard;
    // No more bound by the frames taken: the music is over, or there is no sound.
    std::atomic<bool> freeRunning{false};
    std::atomic<long> rate{0};
    std::atomic<bool> sound{false};
    std::atomic<int64_t> lastCallbackNs{0};
    // The device stopped taking sound and the clock runs on alone; set back when it takes some
    // again (a device may be slow to start), and then the clock follows the sound once more.
    std::atomic<bool> stalled{false};
    std::atomic<bool> resumed{false};

    // --- the sound ---
    CAudioSpanReader reader;
    int channels = 0;
    double latency = 0;  // the stream's output latency, seconds
    std::vector<int16_t> ring;
    std::size_t mask = 0;
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> read{0};
    std::atomic<bool> decoderDone{false};
    std::atomic<bool> stop{false};
    // A fade out asked for: its length in frames (0: none). The stream's callback alone keeps
    // the frames left of it once it has begun (-1 before).
    std::atomic<int64_t> fadeOutFrames{0};
    int64_t fadeLeft = -1;
    int64_t fadeTotal = 0;
    PaStream* stream = nullptr;
    bool portAudio = false;  // Pa_Initialize succeeded and is not yet undone
    std::thread thread;

    // The clock at now, in milliseconds, before the monotony; -1 while it has not started.
    int64_t Clock(int64_t now) const {
        const int64_t origin = originNs.load();
        if (origin == kUnset) return -1;
        int64_t ms = (now - origin) / kNsPerMs;
        if (!freeRunning.load()) {
            const long r = rate.load();
            if (r > 0) ms = std::min(ms, handedFrames.load() * 1000 / r);
        }
        return std::max<int64_t>(ms, 0);
    }

    // Decodes one chunk into the queue if it has room; false when there was nothing to do.
    bool DecodeChunk() {
        if (decoderDone.load()) return false;
        const uint64_t w = written.load(std::memory_order_relaxed);
        const uint64_t used = w - read.load(std::memory_order_acquire);
        if (ring.size() - used < kChunkSamples) return false;
        int16_t chunk[kChunkSamples];
        const int frames = reader.Read(chunk, int(kChunkSamples) / channels);
        const std::size_t samples = std::size_t(frames) * std::size_t(channels);
        for (std::size_t i = 0; i < samples; ++i) ring[(w + i) & mask] = chunk[i];
        written.store(w + samples, std::memory_order_release);
        if (frames > 0) return true;
        if (const std::string problem = reader.Problem(); !problem.empty())
            Trace("accompaniment: decoding stopped early: " + problem + "\n");
        decoderDone.store(true, std::memory_order_release);
        return true;
    }

    // The decoding thread: keeps the queue full, and watches that the device still takes it.
    void Run() {
        while (!stop.load()) {
            if (!DecodeChunk()) std::this_thread::sleep_for(kNap);
            const int64_t now = NowNs();
            const long r = rate.load();
            const bool starting =
                r > 0 && (handedFrames.load() - firstFrame.load()) * 1000 / r < kStartingMs;
            const int64_t stall = starting ? kStartingStallNs : kStallNs;
            if (!freeRunning.load() && now - lastCallbackNs.load() > stall) {
                // Go on from where the clock stands, in real time.
                originNs.store(now - std::max<int64_t>(Clock(now), 0) * kNsPerMs);
                freeRunning.store(true);
                sound.store(false);
                stalled.store(true);
                Trace(
                    "accompaniment: the output device stopped taking sound; the clock runs on "
                    "without it\n");
            }
            if (resumed.exchange(false))
                Trace(
                    "accompaniment: the output device takes sound again; the clock follows it "
                    "once it catches up\n");
        }
    }

    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags,
                        void* user) {
        Playback& p = *static_cast<Playback*>(user);
        auto* out = static_cast<int16_t*>(output);
        const int64_t now = NowNs();
        p.lastCallbackNs.store(now);
        const bool done = p.decoderDone.load(std::memory_order_acquire);
        const uint64_t r = p.read.load(std::memory_order_relaxed);
        const uint64_t available =
            (p.written.load(std::memory_order_acquire) - r) / uint64_t(p.channels);
        const uint64_t n = std::min<uint64_t>(available, frames);
        const uint64_t samples = n * uint64_t(p.channels);
        for (uint64_t i = 0; i < samples; ++i) out[i] = p.ring[(r + i) & p.mask];
        std::fill(out + samples, out + frames * uint64_t(p.channels), int16_t(0));
        p.read.store(r + samples, std::memory_order_release);
        if (p.fadeLeft < 0) {
            const int64_t fade = p.fadeOutFrames.load(std::memory_order_relaxed);
            if (fade > 0) p.fadeLeft = p.fadeTotal = fade;
        }
        if (p.fadeLeft >= 0) {
            for (uint64_t i = 0; i < n; ++i) {
                const double gain = double(p.fadeLeft) / double(p.fadeTotal);
                for (int c = 0; c < p.channels; ++c) {
                    int16_t& sample = out[i * uint64_t(p.channels) + uint64_t(c)];
                    sample = int16_t(double(sample) * gain);
                }
                if (p.fadeLeft > 0) --p.fadeLeft;
            }
        }

        if (n > 0 && p.stalled.load() && !done) {
            // The device is back: the clock is bound to the frames heard again. The position
            // never goes back, so it waits where it stands until the sound reaches it.
            p.stalled.store(false);
            p.freeRunning.store(false);
            p.heard.Restart();
            p.sound.store(true);
            p.resumed.store(true);
        }
        if (n > 0 && !p.freeRunning.load()) {
            // When this block's first frame will be heard by the device's account, on the
            // steady clock; the clock's origin is no sooner than any block's account allows.
            double ahead = timeInfo ? timeInfo->outputBufferDacTime - timeInfo->currentTime : -1;
            if (!(ahead >= 0 && ahead < 2)) ahead = p.latency;
            const int64_t start = p.handedFrames.load();
            p.originNs.store(p.heard.BlockTaken(now, int64_t(ahead * 1e9), start, p.rate.load()));
            p.handedFrames.store(start + int64_t(n));
        }
        if (done && n == available) {
            // The last sample is on its way. Music that ended before its first sample (a file
            // that failed at once) starts the clock here, so that it still runs.
            int64_t unset = kUnset;
            p.originNs.compare_exchange_strong(
                unset, now - p.firstFrame.load() * 1'000'000'000 / p.rate.load());
            p.freeRunning.store(true);
        }
        return paContinue;
    }
};

CAccompanimentPlayer::CAccompanimentPlayer(Output output)
    : m_output(output), m_pPlayback(new Playback) {}

CAccompanimentPlayer::~CAccompanimentPlayer() {
    std::lock_guard lock(m_control);
    StopLocked();
}

bool CAccompanimentPlayer::Open(const std::string& path, const AudioSpan& span) {
    std::string error;
    m_openProblem.clear();
    {
        std::lock_guard lock(m_control);
        StopLocked();
        m_bOpen = false;
        m_nLength = 0;
        m_clockState = ClockState(PlaysOf(m_clockState) + 1, false, 0);
        // The music's exact length, found as ProbeMusic finds it: where counting it would take
        // too long (a FLAC without its length), the container's estimate; the music still plays
        // until its stream ends when the span has no end of its own.
        int64_t frames = -1;
        if (const auto decoder = OpenAudioDecoder(path, 0, 0, error)) {
            frames = decoder->LengthBefore(std::chrono::steady_clock::now() + kLengthBudget, error);
            if (frames == CAudioDecoder::kTooLongToCount) frames = decoder->EstimatedLength();
            if (frames < 0 && error.empty()) frames = decoder->Length(error);
            m_nMusicRate = decoder->Rate();
        }
        if (frames >= 0) {
            m_path = path;
            m_span = span;
            m_nMusicFrames = frames;
            m_nLength = SpanLengthMs(span, MillisecondsOfFrames(frames, m_nMusicRate));
            m_bOpen = true;
            return true;
        }
        m_path.clear();
    }
    m_openProblem = "伴奏文件“" + path + "”无法打开：" + error + "。";
    return false;
}

void CAccompanimentPlayer::PlayFrom(int positionMs) {
    std::lock_guard lock(m_control);
    StopLocked();
    if (!m_bOpen) return;
    positionMs = std::max(positionMs, 0);
    const uint64_t plays = PlaysOf(m_clockState) + 1;
    m_clockState = ClockState(plays, false, positionMs);
    Playback& p = *m_pPlayback;
    p.originNs = kUnset;
    p.heard.Restart();
    p.handedFrames = 0;
    p.firstFrame = 0;
    p.freeRunning = false;
    p.stalled = false;
    p.resumed = false;
    p.sound = false;
    p.decoderDone = false;
    p.stop = false;
    p.written = 0;
    p.read = 0;
    p.fadeOutFrames = 0;
    p.fadeLeft = -1;
    // A span with no music in it (its start at or past the end) has nothing to play, nor has a
    // start at or past its end.
    if (m_output == Output::None || positionMs >= m_nLength || !StartSound(positionMs)) {
        p.originNs = NowNs() - int64_t{positionMs} * kNsPerMs;
        p.freeRunning = true;
    }
    m_clockState = ClockState(plays, true, positionMs);
}

bool CAccompanimentPlayer::StartSound(int positionMs) {
    Playback& p = *m_pPlayback;
    QuietAlsaProbes();

    auto fail = [&](const std::string& why) {
        Trace("accompaniment: no sound for " + m_path + " (" + why +
              "); the clock runs without it\n");
        if (p.stream) Pa_CloseStream(p.stream);
        p.stream = nullptr;
        if (p.portAudio) TerminatePortAudio();
        p.portAudio = false;
        p.reader.Close();
        return false;
    };

    PaError result = InitializePortAudio();
    if (result != paNoError) return fail(std::string("Pa_Initialize: ") + Pa_GetErrorText(result));
    p.portAudio = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) return fail("no default output device");

    // The file's own format if the device takes it; else stereo, then the device's own rate.
    std::string error;
    auto decoder = OpenAudioDecoder(m_path, 0, 0, error);
    if (!decoder) return fail(error);
    const long fileRate = decoder->Rate();
    const int fileChannels = decoder->Channels();
    PaStreamParameters params{};
    params.device = device;
    params.sampleFormat = paInt16;
    params.suggestedLatency = std::max(info->defaultHighOutputLatency, kOutputLatency);
    long rate = 0;
    const std::pair<long, int> choices[] = {
        {fileRate, fileChannels}, {fileRate, 2}, {long(info->defaultSampleRate), 2}};
    for (const auto& [r, c] : choices) {
        params.channelCount = c;
        if (r > 0 && c <= info->maxOutputChannels &&
            Pa_IsFormatSupported(nullptr, &params, double(r)) == paFormatIsSupported) {
            rate = r;
            break;
        }
    }
    if (rate == 0) return fail("the device takes none of the formats tried");
    if (rate != fileRate || params.channelCount != fileChannels) {
        decoder = OpenAudioDecoder(m_path, rate, params.channelCount, error);
        if (!decoder) return fail(error);
    }
    // The span at the rate played; the seek to the first frame happens here, before the sound.
    const int64_t musicFrames =
        rate == m_nMusicRate ? m_nMusicFrames : m_nMusicFrames * rate / m_nMusicRate;
    const int64_t first = int64_t{positionMs} * rate / 1000;
    FrameSpan frames = SpanFrames(m_span, rate, musicFrames);
    frames.dGain = m_dGain;
    if (!p.reader.Start(std::move(decoder), frames, error, first))
        return fail("the start of the span cannot be reached: " + error);
    p.handedFrames = first;
    p.firstFrame = first;

    p.channels = params.channelCount;
    p.rate = rate;
    std::size_t size = 1;
    const auto second = std::size_t(rate) * std::size_t(p.channels);
    while (size <
           std::max<std::size_t>(std::size_t(double(second) * kQueueSeconds), 8 * kChunkSamples))
        size *= 2;
    p.ring.assign(size, 0);
    p.mask = size - 1;

    result = Pa_OpenStream(&p.stream, nullptr, &params, double(rate), paFramesPerBufferUnspecified,
                           paNoFlag, &Playback::Callback, &p);
    if (result != paNoError) {
        p.stream = nullptr;
        return fail(std::string("Pa_OpenStream: ") + Pa_GetErrorText(result));
    }
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(p.stream);
    p.latency = streamInfo ? streamInfo->outputLatency : 0;
    // The callback's thread asks for real-time scheduling where ALSA runs it (granted or not,
    // the stream plays).
    if (const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi); host && host->type == paALSA)
        PaAlsa_EnableRealtimeScheduling(p.stream, 1);
    const auto prefill = uint64_t(double(second) * kPrefillSeconds);
    while (p.written.load() < prefill && p.DecodeChunk()) {
    }
    p.lastCallbackNs = NowNs();
    result = Pa_StartStream(p.stream);
    if (result != paNoError) return fail(std::string("Pa_StartStream: ") + Pa_GetErrorText(result));
    p.sound = true;
    p.thread = std::thread([&p] {
        RaiseThisThread();
        p.Run();
    });
    return true;
}

int CAccompanimentPlayer::Length() const { return m_nLength; }

int CAccompanimentPlayer::Position() const {
    uint64_t state = m_clockState.load();
    if (!RunningOf(state)) return PositionOf(state);
    const uint64_t plays = PlaysOf(state);
    const int now = int(std::min<int64_t>(m_pPlayback->Clock(NowNs()), INT_MAX));
    // Moves the position up to now unless the clock was stopped or started anew meanwhile.
    for (;;) {
        if (!RunningOf(state) || PlaysOf(state) != plays || now <= PositionOf(state))
            return PositionOf(state);
        if (m_clockState.compare_exchange_weak(state, (state & ~kPositionBits) | uint32_t(now)))
            return now;
    }
}

int CAccompanimentPlayer::Speed() const { return m_bOpen ? kNormalSpeed : 0; }

void CAccompanimentPlayer::Stop() {
    std::lock_guard lock(m_control);
    StopLocked();
}

bool CAccompanimentPlayer::HasSound() const { return m_pPlayback->sound; }

int64_t CAccompanimentPlayer::FramesTaken() const {
    return m_pPlayback->handedFrames - m_pPlayback->firstFrame;
}

int CAccompanimentPlayer::MusicLength() const {
    std::lock_guard lock(m_control);
    return m_bOpen ? MillisecondsOfFrames(m_nMusicFrames, m_nMusicRate) : 0;
}

void CAccompanimentPlayer::SetSpan(const AudioSpan& span) {
    std::lock_guard lock(m_control);
    StopLocked();
    if (!m_bOpen) return;
    m_span = span;
    m_nLength = SpanLengthMs(span, MillisecondsOfFrames(m_nMusicFrames, m_nMusicRate));
}

void CAccompanimentPlayer::SetVolume(double gain) {
    std::lock_guard lock(m_control);
    m_dGain = std::clamp(gain, 0.0, 1.0);
}

void CAccompanimentPlayer::FadeOut(int ms) {
    std::lock_guard lock(m_control);
    const long rate = m_pPlayback->rate;
    m_pPlayback->fadeOutFrames = std::max<int64_t>(1, int64_t{std::max(ms, 0)} * rate / 1000);
}

void CAccompanimentPlayer::StopLocked() {
    Playback& p = *m_pPlayback;
    // The clock stays where it is now; only this thread stops it.
    uint64_t state = m_clockState.load();
    if (RunningOf(state)) {
        const int now = int(std::min<int64_t>(p.Clock(NowNs()), INT_MAX));
        while (!m_clockState.compare_exchange_weak(
            state, ClockState(PlaysOf(state), false, std::max(PositionOf(state), now)))) {
        }
    }
    p.stop = true;
    if (p.thread.joinable()) p.thread.join();
    if (p.stream) {
        Pa_AbortStream(p.stream);
        Pa_CloseStream(p.stream);
        p.stream = nullptr;
    }
    if (p.portAudio) TerminatePortAudio();
    p.portAudio = false;
    p.reader.Close();
    // HasSound() tells of the last Play until the next.
}

}  // namespace platform
