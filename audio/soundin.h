// Recording from the default capture device on a worker thread of its own, and the pieces that
// the playback thread (soundout.h) shares with it: the wave device both talk to and the worker
// thread with its message queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/buffer.h"
#include "audio/soundbase.h"
#include "platform/capturedevice.h"
#include "platform/waveformat.h"

// A wave device in the manner of the classic wave API: the program prepares buffers described by
// headers, queues them, and gets every one back through the notice given at opening (on a thread
// of the device's choosing) once it is filled (capture) or played (playback). A reset stops the
// stream and returns every queued buffer at once, in queue order, before it returns. Results are
// PortAudio error codes, paNoError (0) for success.
class CWaveDevice {
public:
    using Notice = std::function<void(platform::WaveHeader*)>;

    virtual ~CWaveDevice();

    // Opens the stream in the given format. A capture stream starts with Start; a playback stream
    // plays each buffer as soon as it is written.
    virtual int Open(const platform::WaveFormat& format, Notice notice) = 0;
    // Marks a header as usable; an error for a header without memory or one that is queued.
    virtual int Prepare(platform::WaveHeader* pHeader) = 0;
    // Marks a returned header as unusable; an error while it is queued.
    virtual int Unprepare(platform::WaveHeader* pHeader) = 0;
    // Queues a prepared header: to be filled (capture) or played (playback).
    virtual int Add(platform::WaveHeader* pHeader) = 0;
    virtual int Start() = 0;
    // Stops the stream and returns every queued buffer through the notice.
    virtual int Reset() = 0;
    // Resets and closes the stream.
    virtual int Close() = 0;
    virtual bool IsOpen() const = 0;
    // The device's text for one of its results.
    virtual std::string ErrorText(int nResult) const;
};

// The default capture (bInput) or playback device through PortAudio, 8- or 16-bit PCM.
std::unique_ptr<CWaveDevice> MakePortAudioWaveDevice(bool bInput);

// A worker thread with its own message queue, the way a framework thread receives thread
// messages. The derived class starts it at the end of its constructor and ends it at the start
// of its destructor, so that no message is handled by a half-made or half-destroyed object.
class CSoundThread {
public:
    CSoundThread(const CSoundThread&) = delete;
    CSoundThread& operator=(const CSoundThread&) = delete;

    // Queues a message for the worker; messages are handled one at a time in the order posted.
    void PostThreadMessage(unsigned nMessage, void* pParam);

protected:
    CSoundThread();
    virtual ~CSoundThread();

    // Starts the worker and returns once it has recorded its identity in m_dwThreadId.
    void CreateThread();
    // Asks the worker to end once it has handled the messages posted before, and joins it.
    void EndThread();
    // Takes, without waiting, a message the worker left unhandled; false when there is none.
    bool TakeMessage(unsigned& nMessage, void*& pParam);

    // Called on the worker thread for each message.
    virtual void OnThreadMessage(unsigned nMessage, void* pParam) = 0;

    std::thread::id m_dwThreadId;  // the worker, recorded by the worker itself

private:
    void Run();

    struct Message {
        unsigned nMessage;
        void* pParam;
    };
    std::mutex m_mutex;
    std::condition_variable m_cvPosted;
    std::deque<Message> m_messages;
    bool m_bStarted = false;  // the worker has recorded its identity
    std::thread m_thread;
};

// Messages of the worker threads; the parameter is the header of the buffer.
inline constexpr unsigned MM_WIM_DATA = 0x3C0;  // a recorded buffer came back
inline constexpr unsigned MM_WOM_DONE = 0x3BD;  // a played buffer came back

// Records from the default capture device into three circulating buffers of block alignment ×
// buffer size bytes and hands each filled buffer to m_pfnCallback on the worker thread. The
// callback must not keep the buffer: its memory goes straight back to the device.
class CSoundIn : public CSoundThread, public CSoundBase {
public:
    using Callback = void (*)(CBuffer* pBuffer, void* pParam);

    // Starts the worker thread. Without a device, records from PortAudio's default input.
    explicit CSoundIn(std::unique_ptr<CWaveDevice> pDevice = nullptr);
    // Stops recording, ends and joins the worker; buffers still out are released.
    ~CSoundIn() override;

    // False, with nothing changed, while recording or without a callback and its parameter. With
    // a format, copies it first. Opens the device, queues three buffers and starts recording;
    // a device error is shown ("in Start()") and gives false.
    virtual bool Start(const platform::WaveFormat* pFormat = nullptr);
    // Resets the device, clears the flag, gives the worker 500 ms to release the buffers that
    // come back and closes the device. A reset error is shown ("in Stop()") and leaves the
    // recording on.
    virtual void Stop();

    // Allocates a buffer and its header and queues it; returns the count of queued buffers before
    // it (unchanged after an error, which is shown; 0 when there is no memory for the header).
    int AddInputBufferToQueue();

    bool IsRecording() const { return m_bRecording; }
    int QueuedBuffers() const { return m_nQueuedBuffers; }

    Callback m_pfnCallback = nullptr;  // receives each recorded buffer
    void* m_pCallbackParam = nullptr;  // passed back to it; must not be null

protected:
    void OnThreadMessage(unsigned nMessage, void* pParam) override;
    // A filled buffer came back (worker thread).
    void OnWIM_DATA(platform::WaveHeader* pHeader);
    // Shows "WAVEIN:<code>:<text> <where>".
    void WaveInErrorMsg(int nResult, const char* pszWhere);
    // Releases a header and its sample memory and uncounts it.
    void ReleaseBuffer(platform::WaveHeader* pHeader);

    // Written by the owner, read by the worker.
    std::atomic<bool> m_bRecording{false};
    std::unique_ptr<CWaveDevice> m_hWaveIn;
    std::atomic<int> m_nQueuedBuffers{0};
};
