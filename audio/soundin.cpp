#include "audio/soundin.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "audio/errorprint.h"
#include "platform/messages.h"

using platform::WaveHeader;

namespace {

constexpr unsigned kQuitMessage = 0x0012;  // ends the worker's loop

// Opening and closing streams, and PortAudio's start and end, one thread at a time: a playback
// worker may close its device while the owner of a capture thread opens one.
std::mutex g_portAudioMutex;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// The default capture or playback device through PortAudio, with the queue of headers the wave
// device model asks for. The stream callback fills (capture) or plays (playback) the head of the
// queue and hands each finished buffer to the notice, from PortAudio's thread.
class CPortAudioWaveDevice : public CWaveDevice {
public:
    explicit CPortAudioWaveDevice(bool bInput) : m_bInput(bInput) {}
    ~CPortAudioWaveDevice() override { Close(); }

    int Open(const platform::WaveFormat& format, Notice notice) override {
        std::lock_guard control(m_control);
        if (m_pStream) return paDeviceUnavailable;
        if (format.nFormatTag != platform::kWaveFormatPcm ||
            (format.nBitsPerSample != 8 && format.nBitsPerSample != 16))
            return paSampleFormatNotSupported;
        if (format.nChannels == 0 ||
            format.nBlockAlign != format.nChannels * (format.nBitsPerSample / 8))
            return paInvalidChannelCount;
        if (format.nSamplesPerSec == 0) return paInvalidSampleRate;

        std::lock_guard global(g_portAudioMutex);
        static std::once_flag quiet;
        std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsa); });
        PaError result = Pa_Initialize();
        if (result != paNoError) return result;
        const PaDeviceIndex device =
            m_bInput ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (!info) {
            Pa_Terminate();
            return paDeviceUnavailable;
        }
        PaStreamParameters parameters{};
        parameters.device = device;
        parameters.channelCount = format.nChannels;
        parameters.sampleFormat = format.nBitsPerSample == 8 ? paUInt8 : paInt16;
        parameters.suggestedLatency =
            m_bInput ? info->defaultLowInputLatency : info->defaultHighOutputLatency;
        {
            std::lock_guard lock(m_mutex);
            m_nFrameBytes = format.nBlockAlign;
            m_nSilence = format.nBitsPerSample == 8 ? 0x80 : 0;
            m_notice = std::move(notice);
            m_bRunning = false;
            m_nPlayed = 0;
        }
        PaStream* stream = nullptr;
        result = Pa_OpenStream(&stream, m_bInput ? &parameters : nullptr,
                               m_bInput ? nullptr : &parameters, format.nSamplesPerSec,
                               paFramesPerBufferUnspecified, paNoFlag,
                               &CPortAudioWaveDevice::Callback, this);
        if (result != paNoError) {
            Pa_Terminate();
            std::lock_guard lock(m_mutex);
            m_notice = nullptr;
            return result;
        }
        m_pStream = stream;
        std::lock_guard lock(m_mutex);
        m_bOpen = true;
        return paNoError;
    }

    int Prepare(WaveHeader* pHeader) override {
        std::lock_guard lock(m_mutex);
        if (!pHeader || !pHeader->lpData || (pHeader->dwFlags & platform::kWaveHeaderInQueue))
            return paBadBufferPtr;
        pHeader->dwFlags |= platform::kWaveHeaderPrepared;
        return paNoError;
    }

    int Unprepare(WaveHeader* pHeader) override {
        std::lock_guard lock(m_mutex);
        if (!pHeader || (pHeader->dwFlags & platform::kWaveHeaderInQueue)) return paBadBufferPtr;
        pHeader->dwFlags &= ~platform::kWaveHeaderPrepared;
        return paNoError;
    }

    int Add(WaveHeader* pHeader) override {
        // A playback stream runs while it has buffers; one stopped by a reset starts again.
        std::unique_lock control(m_control, std::defer_lock);
        if (!m_bInput) control.lock();
        bool bStart = false;
        {
            std::lock_guard lock(m_mutex);
            if (!m_bOpen) return paBadStreamPtr;
            if (!pHeader || !(pHeader->dwFlags & platform::kWaveHeaderPrepared) ||
                (pHeader->dwFlags & platform::kWaveHeaderInQueue))
                return paBadBufferPtr;
            pHeader->dwFlags =
                (pHeader->dwFlags & ~platform::kWaveHeaderDone) | platform::kWaveHeaderInQueue;
            if (m_bInput) pHeader->dwBytesRecorded = 0;
            m_queue.push_back(pHeader);
            bStart = !m_bInput && !m_bRunning;
            if (bStart) m_bRunning = true;
        }
        return bStart ? StartStream() : paNoError;
    }

    int Start() override {
        std::lock_guard control(m_control);
        {
            std::lock_guard lock(m_mutex);
            if (!m_bOpen) return paBadStreamPtr;
            if (m_bRunning) return paNoError;
            m_bRunning = true;
        }
        return StartStream();
    }

    int Reset() override {
        std::lock_guard control(m_control);
        return ResetLocked();
    }

    int Close() override {
        std::lock_guard control(m_control);
        if (!m_pStream) return paBadStreamPtr;
        const PaError reset = ResetLocked();
        std::lock_guard global(g_portAudioMutex);
        const PaError result = Pa_CloseStream(m_pStream);
        m_pStream = nullptr;
        Pa_Terminate();
        std::lock_guard lock(m_mutex);
        m_bOpen = false;
        m_notice = nullptr;
        return result != paNoError ? result : reset;
    }

    bool IsOpen() const override {
        std::lock_guard lock(m_mutex);
        return m_bOpen;
    }

private:
    // With m_control held and m_bRunning set.
    int StartStream() {
        if (Pa_IsStreamStopped(m_pStream) == 0) Pa_StopStream(m_pStream);  // ended by itself
        const PaError result = Pa_StartStream(m_pStream);
        if (result != paNoError) {
            std::lock_guard lock(m_mutex);
            m_bRunning = false;
        }
        return result;
    }

    // With m_control held: stops the stream and returns every queued buffer.
    int ResetLocked() {
        if (!m_pStream) return paBadStreamPtr;
        PaError result = paNoError;
        if (Pa_IsStreamStopped(m_pStream) == 0) result = Pa_StopStream(m_pStream);
        std::vector<WaveHeader*> returned;
        Notice notice;
        {
            std::lock_guard lock(m_mutex);
            m_bRunning = false;
            m_nPlayed = 0;
            returned.assign(m_queue.begin(), m_queue.end());
            m_queue.clear();
            for (WaveHeader* pHeader : returned) Finish(pHeader);
            notice = m_notice;
        }
        for (WaveHeader* pHeader : returned)
            if (notice) notice(pHeader);
        return result;
    }

    static void Finish(WaveHeader* pHeader) {
        pHeader->dwFlags =
            (pHeader->dwFlags & ~platform::kWaveHeaderInQueue) | platform::kWaveHeaderDone;
    }

    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* user) {
        auto* self = static_cast<CPortAudioWaveDevice*>(user);
        std::vector<WaveHeader*> finished;
        Notice notice;
        {
            std::lock_guard lock(self->m_mutex);
            std::size_t count = frames * self->m_nFrameBytes;
            if (self->m_bInput) {
                const auto* bytes = static_cast<const char*>(input);
                while (bytes && count > 0 && self->m_bRunning && !self->m_queue.empty()) {
                    WaveHeader* pHeader = self->m_queue.front();
                    const std::size_t take = std::min<std::size_t>(
                        count, pHeader->dwBufferLength - pHeader->dwBytesRecorded);
                    std::memcpy(pHeader->lpData + pHeader->dwBytesRecorded, bytes, take);
                    pHeader->dwBytesRecorded += uint32_t(take);
                    bytes += take;
                    count -= take;
                    if (pHeader->dwBytesRecorded == pHeader->dwBufferLength) {
                        self->m_queue.pop_front();
                        Finish(pHeader);
                        finished.push_back(pHeader);
                    }
                }
            } else {
                // While PortAudio reports an underflow it asks for blocks faster than they are
                // played (just after the start, most of all with other streams running), and what
                // it gets then is lost: the buffers wait and it gets silence.
                auto* bytes = static_cast<char*>(output);
                while (count > 0 && !(flags & paOutputUnderflow) && !self->m_queue.empty()) {
                    WaveHeader* pHeader = self->m_queue.front();
                    const std::size_t take =
                        std::min<std::size_t>(count, pHeader->dwBufferLength - self->m_nPlayed);
                    std::memcpy(bytes, pHeader->lpData + self->m_nPlayed, take);
                    self->m_nPlayed += take;
                    bytes += take;
                    count -= take;
                    if (self->m_nPlayed == pHeader->dwBufferLength) {
                        self->m_queue.pop_front();
                        self->m_nPlayed = 0;
                        Finish(pHeader);
                        finished.push_back(pHeader);
                    }
                }
                std::memset(bytes, self->m_nSilence, count);  // nothing more to play
            }
            if (!finished.empty()) notice = self->m_notice;
        }
        for (WaveHeader* pHeader : finished)
            if (notice) notice(pHeader);
        return paContinue;
    }

    const bool m_bInput;
    std::mutex m_control;           // Open, Start, Reset, Close and starting playback, in turn
    PaStream* m_pStream = nullptr;  // guarded by m_control
    mutable std::mutex m_mutex;     // guards everything below, shared with the stream callback
    bool m_bOpen = false;
    bool m_bRunning = false;
    std::deque<WaveHeader*> m_queue;
    std::size_t m_nPlayed = 0;  // playback: bytes of the head buffer already played
    std::size_t m_nFrameBytes = 0;
    int m_nSilence = 0;
    Notice m_notice;
};

std::string Format(const char* pszFormat, int nValue) {
    char text[64];
    std::snprintf(text, sizeof text, pszFormat, nValue);
    return text;
}

}  // namespace

CWaveDevice::~CWaveDevice() = default;

std::string CWaveDevice::ErrorText(int nResult) const { return Pa_GetErrorText(nResult); }

std::unique_ptr<CWaveDevice> MakePortAudioWaveDevice(bool bInput) {
    return std::make_unique<CPortAudioWaveDevice>(bInput);
}

// ---- the worker thread

CSoundThread::CSoundThread() = default;

CSoundThread::~CSoundThread() {
    if (m_thread.joinable()) EndThread();
}

void CSoundThread::PostThreadMessage(unsigned nMessage, void* pParam) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({nMessage, pParam});
    }
    m_cvPosted.notify_all();  // shared with the owner's wait for the start
}

void CSoundThread::CreateThread() {
    m_thread = std::thread(&CSoundThread::Run, this);
    std::unique_lock lock(m_mutex);
    m_cvPosted.wait(lock, [this] { return m_bStarted; });
}

void CSoundThread::EndThread() {
    if (!m_thread.joinable()) return;
    PostThreadMessage(kQuitMessage, nullptr);
    m_thread.join();
}

bool CSoundThread::TakeMessage(unsigned& nMessage, void*& pParam) {
    std::lock_guard lock(m_mutex);
    while (!m_messages.empty()) {
        const Message message = m_messages.front();
        m_messages.pop_front();
        if (message.nMessage == kQuitMessage) continue;
        nMessage = message.nMessage;
        pParam = message.pParam;
        return true;
    }
    return false;
}

void CSoundThread::Run() {
    std::unique_lock lock(m_mutex);
    m_dwThreadId = std::this_thread::get_id();
    m_bStarted = true;
    m_cvPosted.notify_all();
    for (;;) {
        m_cvPosted.wait(lock, [this] { return !m_messages.empty(); });
        const Message message = m_messages.front();
        m_messages.pop_front();
        if (message.nMessage == kQuitMessage) return;
        lock.unlock();
        OnThreadMessage(message.nMessage, message.pParam);
        lock.lock();
    }
}

// ---- recording

CSoundIn::CSoundIn(std::unique_ptr<CWaveDevice> pDevice)
    : m_hWaveIn(pDevice ? std::move(pDevice) : MakePortAudioWaveDevice(true)) {
    CreateThread();
}

CSoundIn::~CSoundIn() {
    if (m_bRecording) Stop();
    EndThread();
    // Whatever the worker did not get to: a device left open gives its buffers back, and every
    // buffer still on the queue is released here.
    if (m_hWaveIn->IsOpen()) m_hWaveIn->Close();
    unsigned nMessage = 0;
    void* pParam = nullptr;
    while (TakeMessage(nMessage, pParam)) {
        if (nMessage != MM_WIM_DATA) continue;
        auto* pHeader = static_cast<WaveHeader*>(pParam);
        m_hWaveIn->Unprepare(pHeader);
        ReleaseBuffer(pHeader);
    }
}

bool CSoundIn::Start(const platform::WaveFormat* pFormat) {
    if (m_bRecording || !m_pfnCallback || !m_pCallbackParam) return false;
    if (pFormat) std::memcpy(&m_Format, pFormat, sizeof(platform::WaveFormat));
    int nResult = m_hWaveIn->Open(
        m_Format, [this](WaveHeader* pHeader) { PostThreadMessage(MM_WIM_DATA, pHeader); });
    if (nResult != paNoError) {
        WaveInErrorMsg(nResult, "in Start()");
        return false;
    }
    // Set before the device starts, so that no buffer filled at once is taken for a late one.
    m_bRecording = true;
    for (int i = 0; i < 3; ++i) AddInputBufferToQueue();
    nResult = m_hWaveIn->Start();
    if (nResult != paNoError) {
        WaveInErrorMsg(nResult, "in Start()");
        m_bRecording = false;
        m_hWaveIn->Close();  // the buffers come back to the worker, which releases them
        return false;
    }
    return true;
}

void CSoundIn::Stop() {
    if (!m_bRecording) return;
    int nResult = m_hWaveIn->Reset();
    if (nResult != paNoError) {
        WaveInErrorMsg(nResult, "in Stop()");
        return;
    }
    m_bRecording = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    nResult = m_hWaveIn->Close();
    if (nResult != paNoError) WaveInErrorMsg(nResult, "in Stop()");
}

int CSoundIn::AddInputBufferToQueue() {
    auto* pHeader = new (std::nothrow) WaveHeader{};
    if (!pHeader) return 0;
    CBuffer buffer(int32_t(m_Format.nBlockAlign) * m_nBufferSize, false);
    pHeader->lpData = reinterpret_cast<char*>(buffer.m_pData);
    pHeader->dwBufferLength = uint32_t(buffer.m_nSize);
    // Counted first: the buffer may come back before Add has returned.
    const int nBefore = m_nQueuedBuffers++;
    int nResult = m_hWaveIn->Prepare(pHeader);
    if (nResult == paNoError) {
        nResult = m_hWaveIn->Add(pHeader);
        if (nResult == paNoError) return nBefore;
        m_hWaveIn->Unprepare(pHeader);
    }
    WaveInErrorMsg(nResult, "in AddInputBufferToQueue()");
    ReleaseBuffer(pHeader);
    return nBefore;
}

void CSoundIn::OnThreadMessage(unsigned nMessage, void* pParam) {
    if (nMessage == MM_WIM_DATA) OnWIM_DATA(static_cast<WaveHeader*>(pParam));
}

void CSoundIn::OnWIM_DATA(WaveHeader* pHeader) {
    int nResult = m_hWaveIn->Unprepare(pHeader);
    if (nResult != paNoError) {
        WaveInErrorMsg(nResult, "in OnWIM_DATA()");
        return;
    }
    platform::Trace(Format("WIM_DATA %4d\n", int(pHeader->dwBytesRecorded)));
    if (m_bRecording) {
        CBuffer buffer(pHeader->lpData, int32_t(pHeader->dwBytesRecorded));
        m_pfnCallback(&buffer, m_pCallbackParam);
        nResult = m_hWaveIn->Prepare(pHeader);
        if (nResult == paNoError) {
            nResult = m_hWaveIn->Add(pHeader);
            if (nResult == paNoError) return;
            m_hWaveIn->Unprepare(pHeader);
        }
        WaveInErrorMsg(nResult, "in OnWIM_DATA()");
    }
    ReleaseBuffer(pHeader);
}

void CSoundIn::ReleaseBuffer(WaveHeader* pHeader) {
    delete[] reinterpret_cast<uint8_t*>(pHeader->lpData);
    delete pHeader;
    --m_nQueuedBuffers;
}

void CSoundIn::WaveInErrorMsg(int nResult, const char* pszWhere) {
    const std::string strText = m_hWaveIn->ErrorText(nResult).substr(0, 100);
    ErrorPrint("WAVEIN:%x:%s %s", unsigned(nResult), strText.c_str(), pszWhere);
}
