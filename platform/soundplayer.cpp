#include "platform/soundplayer.h"

#include <portaudio.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "platform/portaudioinit.h"
#include "platform/wavedata.h"

namespace platform {
namespace {

bool Play(const WaveData& wave, const std::string& path) {
    if (InitializePortAudio() != paNoError) {
        Trace("sound: no audio output for " + path + "\n");
        return false;
    }
    PaStream* stream = nullptr;
    PaError error = Pa_OpenDefaultStream(&stream, 0, int(wave.nChannels), paInt16, wave.nRate,
                                         paFramesPerBufferUnspecified, nullptr, nullptr);
    if (error == paNoError) error = Pa_StartStream(stream);
    if (error == paNoError) {
        const std::size_t frames = wave.data.size() / (std::size_t{2} * wave.nChannels);
        constexpr std::size_t kPiece = 1024;
        for (std::size_t at = 0; at < frames && error == paNoError; at += kPiece) {
            const std::size_t count = std::min(kPiece, frames - at);
            error = Pa_WriteStream(stream, wave.data.data() + at * 2 * wave.nChannels,
                                   static_cast<unsigned long>(count));
            if (error == paOutputUnderflowed) error = paNoError;
        }
        Pa_StopStream(stream);
    }
    if (stream) Pa_CloseStream(stream);
    TerminatePortAudio();
    if (error != paNoError) Trace("sound: " + path + ": " + Pa_GetErrorText(error) + "\n");
    return error == paNoError;
}

// One thread plays the sounds asked for without waiting, in turn; it ends with the program.
class SoundThread {
public:
    ~SoundThread() {
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
            m_queue.clear();
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

    void Add(WaveData wave, std::string path) {
        std::lock_guard lock(m_mutex);
        m_queue.emplace_back(std::move(wave), std::move(path));
        if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
        m_wake.notify_all();
    }

private:
    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
            if (m_bStop) return;
            auto [wave, path] = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            Play(wave, path);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<WaveData, std::string>> m_queue;
    bool m_bStop = false;
    std::thread m_thread;
};

}  // namespace

bool PlaySoundFile(const std::string& path, bool wait) {
    WaveData wave;
    std::string error;
    if (!ReadWaveData(path, wave, error) || wave.nBits != 16) {
        Trace("sound: " + (error.empty() ? path + ": not 16-bit PCM" : error) + "\n");
        return false;
    }
    if (wait) return Play(wave, path);
    static SoundThread player;
    player.Add(std::move(wave), path);
    return true;
}

}  // namespace platform
