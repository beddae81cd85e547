#include "platform/portaudiocapture.h"

#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "platform/portaudioinit.h"
#include "platform/quietalsa.h"

namespace platform {
namespace {

// The capture whose delivery thread this is: a notice that resets or starts the device from
// inside a delivery must not wait for that same delivery to end.
thread_local const CPortAudioCapture* t_pDelivering = nullptr;

// Frames of the ring: 2 s of the stream, in at most 512 blocks.
constexpr std::size_t kRingSeconds = 2;
constexpr std::size_t kRingBlocks = 512;

std::string Failure(const char* what, PaError error) {
    return std::string(what) + ": " + Pa_GetErrorText(error);
}

}  // namespace

CPortAudioCapture::CPortAudioCapture(std::string deviceName)
    : m_strDeviceName(std::move(deviceName)) {}

CPortAudioCapture::~CPortAudioCapture() {
    Close();
    StopDelivery();
    if (m_bWakeMade) sem_destroy(&m_wake);
}

std::vector<std::string> CPortAudioCapture::InputDeviceNames() {
    QuietAlsaProbes();
    std::vector<std::string> names;
    if (InitializePortAudio() != paNoError) return names;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxInputChannels < 1 || !info->name) continue;
        if (std::find(names.begin(), names.end(), info->name) == names.end())
            names.emplace_back(info->name);
    }
    TerminatePortAudio();
    return names;
}

namespace {

// The first input device of that name, or paNoDevice.
PaDeviceIndex FindInputDevice(const std::string& name) {
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxInputChannels > 0 && info->name && name == info->name) return i;
    }
    return paNoDevice;
}

}  // namespace

bool CPortAudioCapture::OpenStream(const WaveFormat& format, std::string& error) {
    if (!IsRecordablePcm(format, error)) return false;
    QuietAlsaProbes();

    m_strFallback.clear();
    PaError result = InitializePortAudio();
    if (result != paNoError) {  // PortAudio is not initialised then: no Pa_Terminate
        error = Failure("Pa_Initialize", result);
        return false;
    }
    m_nFrameBytes = format.nBlockAlign;
    m_nRate = format.nSamplesPerSec;
    m_bStopping = false;
    // Opens one device; false with the reason in why.
    auto open = [&](PaDeviceIndex device, std::string& why) {
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (!info) {
            why = "no such input device";
            return false;
        }
        PaStreamParameters input{};
        input.device = device;
        input.channelCount = format.nChannels;
        input.sampleFormat = paInt16;
        input.suggestedLatency = info->defaultLowInputLatency;
        input.hostApiSpecificStreamInfo = nullptr;
        PaStream* stream = nullptr;
        const PaError opened = Pa_OpenStream(&stream, &input, nullptr, format.nSamplesPerSec,
                                             paFramesPerBufferUnspecified, paNoFlag,
                                             &CPortAudioCapture::Callback, this);
        if (opened != paNoError) {
            why = Failure("Pa_OpenStream", opened);
            return false;
        }
        // The callback's thread asks for real-time scheduling where ALSA runs it: a busy
        // machine must not make the recording overrun.
        if (const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
            host && host->type == paALSA)
            PaAlsa_EnableRealtimeScheduling(stream, 1);
        m_pStream = stream;
        return true;
    };

    std::string why;
    bool opened = false;
    if (!m_strDeviceName.empty()) {
        opened = open(FindInputDevice(m_strDeviceName), why);
        if (!opened) m_strFallback = "\"" + m_strDeviceName + "\": " + why;
    }
    if (!opened) {
        const PaDeviceIndex device = Pa_GetDefaultInputDevice();
        opened = device != paNoDevice && open(device, why);
        if (device == paNoDevice) why = "no default input device";
    }
    if (!opened) {
        TerminatePortAudio();
        m_strFallback.clear();
        error = why;
        return false;
    }
    // The hand-over from the callback, made before the stream can run.
    const std::size_t ringBytes =
        std::max<std::size_t>(kRingSeconds * format.nSamplesPerSec * m_nFrameBytes, 1 << 16);
    m_pRing = std::make_unique<CBlockRing>(ringBytes, kRingBlocks);
    m_block.assign(ringBytes, 0);
    if (!m_bWakeMade) m_bWakeMade = sem_init(&m_wake, 0, 0) == 0;
    m_bQuit = false;
    m_delivery = std::thread([this] { DeliveryLoop(); });
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(m_pStream);
    m_nLatencyMs = streamInfo && streamInfo->inputLatency > 0
                       ? static_cast<int>(std::lround(streamInfo->inputLatency * 1000.0))
                       : 0;
    return true;
}

bool CPortAudioCapture::StartStream(std::string& error) {
    if (!m_pStream) {
        error = "the stream is not open";
        return false;
    }
    // A stream stopped by the callback's own end has ended but is not stopped yet.
    if (Pa_IsStreamStopped(m_pStream) == 0) Pa_StopStream(m_pStream);
    {
        // Nothing of an earlier start is handed over now (the callback is not running).
        std::unique_lock lock(m_delivering, std::defer_lock);
        if (t_pDelivering != this) lock.lock();
        m_pRing->Clear();
        m_age.Restart(m_nRate);
        m_bStopping = false;
    }
    const PaError result = Pa_StartStream(m_pStream);
    if (result != paNoError) {
        error = Failure("Pa_StartStream", result);
        return false;
    }
    return true;
}

void CPortAudioCapture::StopStream() {
    if (!m_pStream) return;
    m_bStopping = true;
    // Waits for a running callback to return; the callback never waits for anyone.
    if (Pa_IsStreamStopped(m_pStream) == 0) Pa_StopStream(m_pStream);
    // No Deliver after this returns: the delivery under way ends first, and what is left in
    // the ring is forgotten (inside a delivery, the delivery thread drops it itself).
    if (t_pDelivering == this) return;
    std::lock_guard lock(m_delivering);
    m_pRing->Clear();
}

void CPortAudioCapture::StopDelivery() {
    if (!m_delivery.joinable()) return;
    m_bQuit = true;
    sem_post(&m_wake);
    m_delivery.join();
}

void CPortAudioCapture::CloseStream() {
    if (!m_pStream) return;
    Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
    m_nLatencyMs = 0;
    TerminatePortAudio();
    StopDelivery();
}

void CPortAudioCapture::DeliveryLoop() {
    t_pDelivering = this;
    while (!m_bQuit) {
        while (sem_wait(&m_wake) != 0) {
        }  // interrupted: wait again
        std::lock_guard lock(m_delivering);
        int32_t stamp = kNoClockStamp;
        while (!m_bQuit && !m_bStopping) {
            const std::size_t count = m_pRing->Pop(m_block.data(), m_block.size(), stamp);
            if (count == 0) break;
            DeliverStamped(m_block.data(), count, stamp);
        }
        if (m_bStopping) m_pRing->Clear();  // stopped from a notice: the callback has ended
    }
    t_pDelivering = nullptr;
}

int CPortAudioCapture::Callback(const void* input, void*, unsigned long frames,
                                const PaStreamCallbackTimeInfo*, unsigned long statusFlags,
                                void* user) {
    auto* self = static_cast<CPortAudioCapture*>(user);
    if (self->m_bStopping) return paComplete;
    if (input) {
        // The block's last sample was recorded some time before now: its stamp is the clock then.
        const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
        const int64_t ageNs = self->m_age.BlockArrived(nowNs, static_cast<int64_t>(frames),
                                                       (statusFlags & paInputOverflow) != 0);
        int32_t stamp = self->ReadStampClock();
        if (stamp != kNoClockStamp)
            stamp = static_cast<int32_t>(stamp - (ageNs + 500'000) / 1'000'000);
        if (self->m_pRing->Push(static_cast<const char*>(input), frames * self->m_nFrameBytes,
                                stamp))
            sem_post(&self->m_wake);
    }
    return self->m_bStopping ? paComplete : paContinue;
}

}  // namespace platform
