// A WAVE file played as the microphone, in real time: for rehearsing without singing and for the
// tests. The file must hold 16-bit PCM (plain or extensible) at the opened rate, mono (recorded
// into every channel) or with the opened channel count. Opening the stream opens the file and
// checks its format (never blocking: see CInputFile); a thread then reads and delivers its samples
// in blocks of 0.12 s, each when its time has come, and silence once the file has run out (or can
// no longer be read), as a microphone in a quiet room would. Only one block is in memory, however
// long the file. Stopping pauses the file: the next start goes on where it stopped; opening again
// starts from its beginning.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capturedevice.h"
#include "platform/wavereader.h"

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
    // Opens the file in m_reader and checks that it can be played in the opened format.
    bool Load(const WaveFormat& format, std::string& error);
    // Fills block (m_nBlockFrames frames in the opened format) with the file's next frames and
    // silence after them. On the delivery thread.
    void FillBlock(std::vector<int16_t>& block);
    void Run();
    // Waits for the delivery thread unless called on it.
    void Join();

    const std::string m_strPath;
    CWaveReader m_reader;              // the file, at the next frame to deliver
    std::vector<uint8_t> m_fileBlock;  // one block as the file stores it
    std::size_t m_nFileChannels = 0;   // channels of the file: 1 or m_nChannels
    std::size_t m_nChannels = 0;       // opened channels
    uint32_t m_nRate = 0;              // opened frames per second
    std::size_t m_nBlockFrames = 0;    // frames of one 0.12 s block

    std::thread m_thread;
    std::mutex m_mutex;  // guards m_bStop
    std::condition_variable m_wake;
    bool m_bStop = false;
};

}  // namespace platform
