// Playing through the default playback device on a worker thread of its own: three buffers
// circulate, each filled by the owner's callback before it is played.
#pragma once

#include <atomic>
#include <memory>

#include "audio/buffer.h"
#include "audio/soundbase.h"
#include "audio/soundin.h"
#include "platform/capturedevice.h"
#include "platform/waveformat.h"

// The stream ends when the callback leaves a buffer of size 0 or when the owner stops it; the
// device is closed on the worker thread once every buffer has come back.
class CSoundOut : public CSoundThread, public CSoundBase {
public:
    // Fills the buffer it is given; may lower m_nSize, and 0 ends the stream.
    using Callback = void (*)(CBuffer* pBuffer, void* pParam);

    // Starts the worker thread. Without a device, plays through PortAudio's default output.
    explicit CSoundOut(std::unique_ptr<CWaveDevice> pDevice = nullptr);
    // Stops playing, ends and joins the worker; buffers still out are released and the device
    // closed.
    ~CSoundOut() override;

    // False while playing or without a callback and its parameter. With a format, copies it
    // first. Opens the device (an error is shown, "in start()", and gives false), then three
    // times lets the callback fill a new buffer of block alignment × buffer size bytes and
    // writes it, whatever size the callback left.
    virtual bool Start(const platform::WaveFormat* pFormat = nullptr);
    // Clears the flag, then resets the device so that every buffer comes back to be released
    // (a reset error is shown, "in stop()"). The device is closed when the last one is back.
    virtual void Stop();

    // Writes m_nSize bytes of the buffer's memory under a new header; returns the count of
    // queued buffers before it. A buffer the device refuses is shown ("in
    // AddOutputBufferToQueue()") and not counted; 0 when there is no memory for the header.
    int AddOutputBufferToQueue(CBuffer* pBuffer);

    bool IsPlaying() const { return m_bPlaying; }
    int QueuedBuffers() const { return m_nQueuedBuffers; }

    Callback m_pfnCallback = nullptr;  // fills each buffer
    void* m_pCallbackParam = nullptr;  // passed back to it; must not be null

protected:
    void OnThreadMessage(unsigned nMessage, void* pParam) override;
    // A played buffer came back (worker thread).
    void OnWOM_DONE(platform::WaveHeader* pHeader);
    // Shows "WAVEOUT:<code>:<text> <where>".
    void WaveOutErrorMsg(int nResult, const char* pszWhere);
    // Closes the device once nothing is queued and the stream is over.
    void CloseWhenDrained();
    // AddOutputBufferToQueue, telling whether the device took the buffer.
    bool WriteBuffer(CBuffer* pBuffer, int& nBefore);

    // Shared by the owner and the worker.
    std::atomic<bool> m_bPlaying{false};
    std::unique_ptr<CWaveDevice> m_hWaveOut;
    std::atomic<int> m_nQueuedBuffers{0};
};
