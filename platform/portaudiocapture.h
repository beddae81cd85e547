// The microphone: a PortAudio input device chosen by name (PortAudio's default input device when
// none is named), recorded through a callback stream in the opened format (16-bit PCM only). A
// named device that is gone, or will not open, gives way to the default device, and the device
// says so (FellBack).
//
// Each block is stamped with the clock at the time its last sample was recorded, which a sound
// server that fell behind at the start leaves well before the time it arrives (CCaptureAge).
//
// PortAudio's callback runs on a real-time thread: it only reads the stamp clock, copies the block
// into a preallocated ring (CBlockRing) and wakes the delivery thread with a semaphore; no lock,
// allocation or notice there. The delivery thread fills the queued buffers (DeliverStamped) and
// runs the notices. A notice may reset and start the device again, but must not close it.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/blockring.h"
#include "platform/captureage.h"
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
    // Hands the ring's blocks to DeliverStamped until CloseStream.
    void DeliveryLoop();
    void StopDelivery();

    // PortAudio's stream callback (the flags are a PaStreamCallbackFlags).
    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* timeInfo, unsigned long statusFlags,
                        void* user);

    const std::string m_strDeviceName;
    std::string m_strFallback;  // set by OpenStream
    void* m_pStream = nullptr;  // the PaStream, open between OpenStream and CloseStream
    std::size_t m_nFrameBytes = 0;
    int64_t m_nRate = 0;  // frames per second of the open stream
    // The callback's own: how long ago each block's last sample was recorded.
    CCaptureAge m_age;
    std::atomic<int> m_nLatencyMs{0};
    // Set by StopStream: the callback hands over nothing more and ends the stream.
    std::atomic<bool> m_bStopping{false};

    std::unique_ptr<CBlockRing> m_pRing;  // made by OpenStream, for the stream's life
    std::vector<char> m_block;            // the delivery thread's copy of one block
    sem_t m_wake{};                       // posted by the callback for every block
    bool m_bWakeMade = false;
    std::thread m_delivery;
    std::atomic<bool> m_bQuit{false};
    std::mutex m_delivering;  // held by the delivery thread while it delivers a block
};

}  // namespace platform
