#include "platform/mp3player.h"

#include <fcntl.h>
#include <mpg123.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/inputfile.h"
#include "platform/messages.h"
#include "platform/quietalsa.h"

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
constexpr std::size_t kChunkBytes = 4096;  // decoded per mpg123_read

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void InitialiseMpg123() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });  // needed by libmpg123 before 1.27 only
}

// An open MP3 file: the descriptor (ours) and the decoder reading it.
class Decoder {
public:
    Decoder() = default;
    ~Decoder() { Close(); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Opens the file for decoding; with a rate, the output is 16-bit at that rate and channel
    // count (libmpg123 resamples), otherwise the file's own rate and channels. error is in
    // Chinese, for the user.
    bool Open(const std::string& path, long rate, int channels, std::string& error) {
        Close();
        InitialiseMpg123();
        // Opened without blocking and only as a regular file: a FIFO or a device in place of
        // the music is refused at once (see CInputFile).
        CInputFile input;
        if (!input.Open(path)) {
            switch (input.GetProblem()) {
                case CInputFile::Problem::Missing:
                    return Fail(error, "文件不存在");
                case CInputFile::Problem::Folder:
                    return Fail(error, "这是一个文件夹，不是文件");
                case CInputFile::Problem::NoPermission:
                case CInputFile::Problem::CannotOpen:
                    return Fail(error, std::string("无法读取（") + std::strerror(errno) + "）");
                default:
                    return Fail(error, input.ProblemText());
            }
        }
        const bool empty = input.Size() == 0;
        m_fd = input.Release();
        if (empty) return Fail(error, "是空文件");
        int code = MPG123_OK;
        m_pHandle = mpg123_new(nullptr, &code);
        if (!m_pHandle)
            return Fail(error,
                        std::string("解码器无法启动（") + mpg123_plain_strerror(code) + "）");
        // Gapless: the delay and padding the encoder recorded are not part of the music.
        // ID3v2 tags are skipped unread (a seek), never parsed into memory, whatever they claim.
        mpg123_param(m_pHandle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2,
                     0);
        mpg123_format_none(m_pHandle);
        if (rate > 0) {
            mpg123_format(m_pHandle, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO,
                          MPG123_ENC_SIGNED_16);
        } else {
            const long* rates = nullptr;
            std::size_t count = 0;
            mpg123_rates(&rates, &count);
            for (std::size_t i = 0; i < count; ++i)
                mpg123_format(m_pHandle, rates[i], MPG123_MONO | MPG123_STEREO,
                              MPG123_ENC_SIGNED_16);
        }
        if (mpg123_open_fd(m_pHandle, m_fd) != MPG123_OK)
            return Fail(error, std::string("无法读取（") + mpg123_strerror(m_pHandle) + "）");
        int encoding = 0;
        if (mpg123_getformat(m_pHandle, &m_nRate, &m_nChannels, &encoding) != MPG123_OK ||
            m_nRate <= 0 || m_nChannels <= 0)
            return Fail(error, "不是 MP3 文件，找不到可以解码的音频");
        if ((rate > 0 && (m_nRate != rate || m_nChannels != channels)) ||
            encoding != MPG123_ENC_SIGNED_16)
            return Fail(error, "解码器给不出所需的格式");
        return true;
    }

    // Reads the whole file for its exact sample count (per channel); -1 when it fails.
    int64_t Scan(std::string& error) {
        if (mpg123_scan(m_pHandle) != MPG123_OK) {
            Fail(error, std::string("读取失败（") + mpg123_strerror(m_pHandle) + "）");
            return -1;
        }
        const off_t samples = mpg123_length(m_pHandle);
        if (samples <= 0) {
            Fail(error, "不是 MP3 文件，找不到可以解码的音频");
            return -1;
        }
        return samples;
    }

    void Close() {
        if (m_pHandle) {
            mpg123_close(m_pHandle);
            mpg123_delete(m_pHandle);
            m_pHandle = nullptr;
        }
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    mpg123_handle* Handle() const { return m_pHandle; }
    long Rate() const { return m_nRate; }
    int Channels() const { return m_nChannels; }

private:
    bool Fail(std::string& error, std::string problem) {
        error = std::move(problem);
        Close();
        return false;
    }

    int m_fd = -1;
    mpg123_handle* m_pHandle = nullptr;
    long m_nRate = 0;
    int m_nChannels = 0;
};

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

int MillisecondsOf(int64_t samples, long rate) {
    return int(std::min<int64_t>(INT_MAX, (samples * 1000 + rate / 2) / rate));
}

}  // namespace

int Mp3LengthMs(const std::string& path, std::string& error) {
    Decoder decoder;
    if (!decoder.Open(path, 0, 0, error)) return -1;
    const int64_t samples = decoder.Scan(error);
    return samples < 0 ? -1 : MillisecondsOf(samples, decoder.Rate());
}

// The clock, and while there is sound, the output stream with the decoder and the queue of
// samples between them. One for the player's whole life, so that the queries never meet a freed
// one; Play sets it up anew.
//
// The queue is a ring of samples with one writer (the decoding thread) and one reader (the
// stream's callback); written and read count samples from the start and only grow.
struct CMp3Player::Playback {
    // --- the clock ---
    // The steady-clock time at which the first frame of the music sounds (or would have).
    std::atomic<int64_t> originNs{kUnset};
    // Music frames the stream has taken: the clock does not run ahead of them.
    std::atomic<int64_t> handedFrames{0};
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
    Decoder decoder;
    int channels = 0;
    double latency = 0;  // the stream's output latency, seconds
    std::vector<int16_t> ring;
    std::size_t mask = 0;
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> read{0};
    std::atomic<bool> decoderDone{false};
    std::atomic<bool> stop{false};
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
        if (ring.size() - used < kChunkBytes / 2) return false;
        unsigned char bytes[kChunkBytes];
        std::size_t done = 0;
        const int result = mpg123_read(decoder.Handle(), bytes, sizeof bytes, &done);
        const std::size_t samples = done / 2;
        for (std::size_t i = 0; i < samples; ++i) {
            int16_t sample;
            std::memcpy(&sample, bytes + 2 * i, 2);
            ring[(w + i) & mask] = sample;
        }
        written.store(w + samples, std::memory_order_release);
        if (result == MPG123_OK || result == MPG123_NEW_FORMAT) return true;
        if (result != MPG123_DONE)
            Trace(std::string("accompaniment: decoding stopped early: ") +
                  mpg123_strerror(decoder.Handle()) + "\n");
        decoderDone.store(true, std::memory_order_release);
        return true;
    }

    // The decoding thread: keeps the queue full, and watches that the device still takes it.
    void Run() {
        while (!stop.load()) {
            if (!DecodeChunk()) std::this_thread::sleep_for(kNap);
            const int64_t now = NowNs();
            const long r = rate.load();
            const bool starting = r > 0 && handedFrames.load() * 1000 / r < kStartingMs;
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

        if (n > 0 && p.stalled.load() && !done) {
            // The device is back: the clock is bound to the frames heard again. The position
            // never goes back, so it waits where it stands until the sound reaches it.
            p.stalled.store(false);
            p.freeRunning.store(false);
            p.sound.store(true);
            p.resumed.store(true);
        }
        if (n > 0 && !p.freeRunning.load()) {
            // When this block's first frame will be heard, on the steady clock.
            double ahead = timeInfo ? timeInfo->outputBufferDacTime - timeInfo->currentTime : -1;
            if (!(ahead >= 0 && ahead < 2)) ahead = p.latency;
            const int64_t start = p.handedFrames.load();
            const long rate = p.rate.load();
            p.originNs.store(now + int64_t(ahead * 1e9) - start * 1'000'000'000 / rate);
            p.handedFrames.store(start + int64_t(n));
        }
        if (done && n == available) p.freeRunning.store(true);  // the last sample is on its way
        return paContinue;
    }
};

CMp3Player::CMp3Player(Output output) : m_output(output), m_pPlayback(new Playback) {}

CMp3Player::~CMp3Player() {
    std::lock_guard lock(m_control);
    StopLocked();
}

bool CMp3Player::Open(const std::string& path) {
    std::string error;
    {
        std::lock_guard lock(m_control);
        StopLocked();
        m_bOpen = false;
        m_nLength = 0;
        m_clockState = ClockState(PlaysOf(m_clockState) + 1, false, 0);
        const int length = Mp3LengthMs(path, error);
        if (length >= 0) {
            m_path = path;
            m_nLength = length;
            m_bOpen = true;
            return true;
        }
        m_path.clear();
    }
    // Outside the lock: the message box waits for the user.
    ShowMessage("伴奏文件“" + path + "”无法打开：" + error + "。", MessageIcon::Exclamation);
    return false;
}

void CMp3Player::Play() {
    std::lock_guard lock(m_control);
    StopLocked();
    if (!m_bOpen) return;
    const uint64_t plays = PlaysOf(m_clockState) + 1;
    m_clockState = ClockState(plays, false, 0);
    Playback& p = *m_pPlayback;
    p.originNs = kUnset;
    p.handedFrames = 0;
    p.freeRunning = false;
    p.stalled = false;
    p.resumed = false;
    p.sound = false;
    p.decoderDone = false;
    p.stop = false;
    p.written = 0;
    p.read = 0;
    if (m_output == Output::None || !StartSound()) {
        p.originNs = NowNs();
        p.freeRunning = true;
    }
    m_clockState = ClockState(plays, true, 0);
}

bool CMp3Player::StartSound() {
    Playback& p = *m_pPlayback;
    QuietAlsaProbes();

    auto fail = [&](const std::string& why) {
        Trace("accompaniment: no sound for " + m_path + " (" + why +
              "); the clock runs without it\n");
        if (p.stream) Pa_CloseStream(p.stream);
        p.stream = nullptr;
        if (p.portAudio) Pa_Terminate();
        p.portAudio = false;
        p.decoder.Close();
        return false;
    };

    PaError result = Pa_Initialize();
    if (result != paNoError) return fail(std::string("Pa_Initialize: ") + Pa_GetErrorText(result));
    p.portAudio = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) return fail("no default output device");

    // The file's own format if the device takes it; else stereo, then the device's own rate.
    std::string error;
    if (!p.decoder.Open(m_path, 0, 0, error)) return fail(error);
    const long fileRate = p.decoder.Rate();
    const int fileChannels = p.decoder.Channels();
    PaStreamParameters params{};
    params.device = device;
    params.sampleFormat = paInt16;
    params.suggestedLatency = info->defaultHighOutputLatency;
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
    if ((rate != fileRate || params.channelCount != fileChannels) &&
        !p.decoder.Open(m_path, rate, params.channelCount, error))
        return fail(error);

    p.channels = params.channelCount;
    p.rate = rate;
    std::size_t size = 1;
    while (size <
           std::max<std::size_t>(std::size_t(rate) * std::size_t(p.channels) / 2, 4 * kChunkBytes))
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
    while (p.DecodeChunk()) {
    }
    p.lastCallbackNs = NowNs();
    result = Pa_StartStream(p.stream);
    if (result != paNoError) return fail(std::string("Pa_StartStream: ") + Pa_GetErrorText(result));
    p.sound = true;
    p.thread = std::thread([&p] { p.Run(); });
    return true;
}

int CMp3Player::Length() const { return m_nLength; }

int CMp3Player::Position() const {
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

int CMp3Player::Speed() const { return m_bOpen ? kNormalSpeed : 0; }

void CMp3Player::Stop() {
    std::lock_guard lock(m_control);
    StopLocked();
}

bool CMp3Player::HasSound() const { return m_pPlayback->sound; }

void CMp3Player::StopLocked() {
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
    if (p.portAudio) Pa_Terminate();
    p.portAudio = false;
    p.decoder.Close();
    // HasSound() tells of the last Play until the next.
}

}  // namespace platform
