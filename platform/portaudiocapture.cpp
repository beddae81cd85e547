#include "platform/portaudiocapture.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace platform {
namespace {

// The capture whose callback is running on this thread: a notice that resets the device from
// inside the callback must not wait for that same callback to end.
thread_local const CPortAudioCapture* t_pInCallback = nullptr;

// PortAudio probes every ALSA device it can name, and on a machine without sound cards ALSA
// reports each failed probe on standard error. The program does not use ALSA otherwise.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::string Failure(const char* what, PaError error) {
    return std::string(what) + ": " + Pa_GetErrorText(error);
}

}  // namespace

CPortAudioCapture::CPortAudioCapture(std::string deviceName)
    : m_strDeviceName(std::move(deviceName)) {}

CPortAudioCapture::~CPortAudioCapture() { Close(); }

std::vector<std::string> CPortAudioCapture::InputDeviceNames() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsa); });
    std::vector<std::string> names;
    if (Pa_Initialize() != paNoError) return names;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxInputChannels < 1 || !info->name) continue;
        if (std::find(names.begin(), names.end(), info->name) == names.end())
            names.emplace_back(info->name);
    }
    Pa_Terminate();
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
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsa); });

    m_strFallback.clear();
    PaError result = Pa_Initialize();
    if (result != paNoError) {  // PortAudio is not initialised then: no Pa_Terminate
        error = Failure("Pa_Initialize", result);
        return false;
    }
    m_nFrameBytes = format.nBlockAlign;
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
        Pa_Terminate();
        m_strFallback.clear();
        error = why;
        return false;
    }
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
    if (t_pInCallback == this) {  // reset and started again by a notice: the stream goes on
        m_bStopping = false;
        return true;
    }
    // A stream stopped from inside its own callback has ended but is not stopped yet.
    if (Pa_IsStreamStopped(m_pStream) == 0) Pa_StopStream(m_pStream);
    m_bStopping = false;
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
    // Inside the callback the stream cannot be waited for; the callback delivers nothing more
    // and ends the stream when it returns.
    if (t_pInCallback == this) return;
    // Waits for a running callback to return.
    if (Pa_IsStreamStopped(m_pStream) == 0) Pa_StopStream(m_pStream);
}

void CPortAudioCapture::CloseStream() {
    if (!m_pStream) return;
    Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
    m_nLatencyMs = 0;
    Pa_Terminate();
}

int CPortAudioCapture::Callback(const void* input, void*, unsigned long frames,
                                const PaStreamCallbackTimeInfo*, unsigned long, void* user) {
    auto* self = static_cast<CPortAudioCapture*>(user);
    if (self->m_bStopping) return paComplete;
    if (input) {
        t_pInCallback = self;
        self->Deliver(static_cast<const char*>(input), frames * self->m_nFrameBytes);
        t_pInCallback = nullptr;
    }
    return self->m_bStopping ? paComplete : paContinue;
}

}  // namespace platform
