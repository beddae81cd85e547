// The microphone: PortAudio's default input device, recorded through a callback stream in the
// opened format (16-bit PCM only). The callback runs on PortAudio's own thread and passes every
// block it is given on to Deliver. A notice may reset the device from inside the callback, but
// must not close it there.
#pragma once

#include <atomic>
#include <string>

#include "platform/capturedevice.h"

struct PaStreamCallbackTimeInfo;

namespace platform {

class CPortAudioCapture : public CCaptureDevice {
public:
    CPortAudioCapture() = default;
    ~CPortAudioCapture() override;

protected:
    bool OpenStream(const WaveFormat& format, std::string& error) override;
    bool StartStream(std::string& error) override;
    void StopStream() override;
    void CloseStream() override;

private:
    // PortAudio's stream callback (the flags are a PaStreamCallbackFlags).
    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* timeInfo, unsigned long statusFlags,
                        void* user);

    void* m_pStream = nullptr;  // the PaStream, open between OpenStream and CloseStream
    std::size_t m_nFrameBytes = 0;
    // Set by StopStream: the callback delivers nothing more and ends the stream.
    std::atomic<bool> m_bStopping{false};
};

}  // namespace platform
