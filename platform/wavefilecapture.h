// A WAVE file played as the microphone, in real time: for rehearsing without singing and for the
// tests. The file must hold 16-bit PCM at the opened rate, mono (recorded into every channel) or
// with the opened channel count. Its samples are read into memory when the stream opens; a thread
// then delivers them in blocks of 0.12 s, each when its time has come, and silence once the file
// has run out, as a microphone in a quiet room would. Stopping pauses the file: the next start
// goes on where it stopped; opening again starts from its beginning.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capturedevice.h"

namespace platform {

class CWaveFileCapture : public CCaptureDevice {
public:
    explicit CWaveFileCapture(std::string path);
    ~CWaveFileCapture() override;

protected:
    bool OpenStream(const WaveFormat& format, std::string& error) override;
    bool StartStream(std::string& error) override;
    void StopStream() override;
    void CloseStream() override;

private:
    // Reads the file's samples into m_samples, laid out in the opened format.
    bool Load(const WaveFormat& format, std::string& error);
    void Run();
    // Waits for the delivery thread unless called on it.
    void Join();

    const std::string m_strPath;
    std::vector<int16_t> m_samples;  // the file's frames in the opened format
    std::size_t m_nChannels = 0;     // opened channels
    uint32_t m_nRate = 0;            // opened frames per second
    std::size_t m_nBlockFrames = 0;  // frames of one 0.12 s block
    std::size_t m_nNextFrame = 0;    // the next frame to deliver; past the end: silence

    std::thread m_thread;
    std::mutex m_mutex;  // guards m_bStop
    std::condition_variable m_wake;
    bool m_bStop = false;
};

}  // namespace platform
