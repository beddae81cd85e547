#include "platform/portaudiocapture.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>

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

CPortAudioCapture::~CPortAudioCapture() { Close(); }

bool CPortAudioCapture::OpenStream(const WaveFormat& format, std::string& error) {
    if (!IsRecordablePcm(format, error)) return false;
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsa); });

    PaError result = Pa_Initialize();
    if (result != paNoError) {  // PortAudio is not initialised then: no Pa_Terminate
        error = Failure("Pa_Initialize", result);
        return false;
    }
    const PaDeviceIndex device = Pa_GetDefaultInputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) {
        Pa_Terminate();
        error = "no default input device";
        return false;
    }
    PaStreamParameters input{};
    input.device = device;
    input.channelCount = format.nChannels;
    input.sampleFormat = paInt16;
    input.suggestedLatency = info->defaultLowInputLatency;
    input.hostApiSpecificStreamInfo = nullptr;

    m_nFrameBytes = format.nBlockAlign;
    m_bStopping = false;
    PaStream* stream = nullptr;
    result =
        Pa_OpenStream(&stream, &input, nullptr, format.nSamplesPerSec, paFramesPerBufferUnspecified,
                      paNoFlag, &CPortAudioCapture::Callback, this);
    if (result != paNoError) {
        Pa_Terminate();
        error = Failure("Pa_OpenStream", result);
        return false;
    }
    m_pStream = stream;
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
