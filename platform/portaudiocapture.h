// The microphone: a PortAudio input device chosen by name (PortAudio's default input device when
// none is named), recorded through a callback stream in the opened format (16-bit PCM only). A
// named device that is gone, or will not open, gives way to the default device, and the device
// says so (FellBack). The callback runs on PortAudio's own thread and passes every
// block it is given on to Deliver. A notice may reset the device from inside the callback, but
// must not close it there.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/capturedevice.h"

struct PaStreamCallbackTimeInfo;

namespace platform {

class CPortAudioCapture : public CCaptureDevice {
public:
    // deviceName: a name InputDeviceNames gave; empty for the default input device.
    explicit CPortAudioCapture(std::string deviceName = {});
    ~CPortAudioCapture() override;

    // The names of PortAudio's input devices, in PortAudio's order, each once (empty when
    // PortAudio cannot start or has none). Call it while no stream of the program is opening.
    static std::vector<std::string> InputDeviceNames();

    const std::string& DeviceName() const { return m_strDeviceName; }
    // Whether the last Open used the default device instead of the named one, and why.
    bool FellBack() const { return !m_strFallback.empty(); }
    const std::string& FallbackReason() const { return m_strFallback; }

    // The input latency PortAudio reports for the open stream (0 while closed).
    int InputLatencyMs() const override { return m_nLatencyMs; }

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

    const std::string m_strDeviceName;
    std::string m_strFallback;  // set by OpenStream
    void* m_pStream = nullptr;  // the PaStream, open between OpenStream and CloseStream
    std::size_t m_nFrameBytes = 0;
    std::atomic<int> m_nLatencyMs{0};
    // Set by StopStream: the callback delivers nothing more and ends the stream.
    std::atomic<bool> m_bStopping{false};
};

}  // namespace platform
