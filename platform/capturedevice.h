// A capture device: a PCM input stream that fills buffers the program queues on it.
//
// The program prepares fixed-size buffers, queues them, starts the stream and gets every filled
// buffer back through the notice it gave at opening, on a thread of the device's choosing (the
// receiver forwards it to the thread that runs the evaluation). A reset stops the stream and
// returns every queued buffer, the partly filled one with its recorded count and the rest empty.
// A buffer handed back is owned by the program until it queues it again.
//
// This class holds the queue; every backend's destructor calls Close. The backends (the microphone
// through PortAudio, a WAV file played in real time, samples fed by hand) only produce bytes of the
// opened format and pass them to Deliver.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/waveformat.h"

namespace platform {

inline constexpr uint32_t kWaveHeaderDone = 0x01;      // filled, or returned by a reset
inline constexpr uint32_t kWaveHeaderPrepared = 0x02;  // may be queued
inline constexpr uint32_t kWaveHeaderInQueue = 0x10;   // owned by the device
inline constexpr int32_t kNoClockStamp = INT32_MIN;    // nClockMs of a buffer nobody stamped

// One capture buffer: the program's memory and what the device recorded into it.
struct WaveHeader {
    char* lpData = nullptr;        // the buffer's memory
    uint32_t dwBufferLength = 0;   // its size in bytes
    uint32_t dwBytesRecorded = 0;  // bytes the device wrote
    uintptr_t dwUser = 0;          // free for the program
    uint32_t dwFlags = 0;          // kWaveHeader… flags
    uint32_t dwLoops = 0;          // kept as the program sets it
    // The stamp clock's reading (the accompaniment's position, ms) when the device handed the
    // buffer back full; kNoClockStamp without a stamp clock.
    int32_t nClockMs = kNoClockStamp;
};

class CCaptureDevice {
public:
    // Receives each buffer the device hands back (filled, or returned by a reset).
    using Notice = std::function<void(WaveHeader*)>;
    // Read at the moment a buffer becomes full, on the device's thread: it must be quick and
    // must not lock or allocate. Returns milliseconds, or kNoClockStamp when it has no time.
    using StampClock = std::function<int32_t()>;

    virtual ~CCaptureDevice();
    CCaptureDevice(const CCaptureDevice&) = delete;
    CCaptureDevice& operator=(const CCaptureDevice&) = delete;

    // Opens the stream in the given format; false (with the reason in LastError) when the
    // backend cannot. Opening an open device fails.
    bool Open(const WaveFormat& format, Notice notice);
    // Marks a buffer as usable; false for a buffer that is queued or has no memory.
    bool PrepareBuffer(WaveHeader* header);
    // Hands a prepared buffer to the device, which fills it in queue order; false (and nothing
    // happens) for a buffer that is not prepared, is already queued, or while the device is closed.
    bool AddBuffer(WaveHeader* header);
    // Starts filling the queued buffers.
    bool Start();
    // Stops the stream and returns every queued buffer through the notice, in queue order.
    bool Reset();
    // Makes a returned buffer unusable until it is prepared again; false while it is queued.
    bool UnprepareBuffer(WaveHeader* header);
    // Resets and closes the stream.
    void Close();

    // The clock each filled buffer is stamped with (none: kNoClockStamp). Set it while the
    // device is not started.
    void SetStampClock(StampClock clock);
    // What the stream reports as its input latency, in whole milliseconds (0 when unknown):
    // the time from a sound reaching the microphone to its buffer being handed back.
    virtual int InputLatencyMs() const { return 0; }

    bool IsOpen() const;
    const WaveFormat& Format() const { return m_format; }
    std::string LastError() const;

protected:
    CCaptureDevice() = default;

    // Backend operations, called with no lock held.
    virtual bool OpenStream(const WaveFormat& format, std::string& error) = 0;
    virtual bool StartStream(std::string& error) = 0;
    virtual void StopStream() = 0;  // no Deliver call is made after it returns
    virtual void CloseStream() = 0;

    // Whether a backend that records 16-bit PCM can take the format; sets error when not.
    static bool IsRecordablePcm(const WaveFormat& format, std::string& error);

    // Called by the backend with recorded bytes (whole frames). Fills the queued buffers in
    // order and hands back each one that becomes full; bytes with no buffer to go to are dropped.
    // Each full buffer is stamped with the stamp clock read now.
    void Deliver(const char* bytes, std::size_t count);
    // The same for bytes whose last one was recorded when the stamp clock read clockAtEnd (read
    // earlier, on the audio thread): a buffer that becomes full before the end of the bytes is
    // stamped that much earlier. kNoClockStamp leaves every buffer unstamped.
    void DeliverStamped(const char* bytes, std::size_t count, int32_t clockAtEnd);
    // The stamp clock's reading, without a lock: backends deliver only while the device is
    // started, and the clock is set only while it is not.
    int32_t ReadStampClock() const { return m_stampClock ? m_stampClock() : kNoClockStamp; }

private:
    mutable std::mutex m_mutex;  // guards everything below
    WaveFormat m_format{};
    Notice m_notice;
    StampClock m_stampClock;
    bool m_bOpen = false;
    bool m_bRunning = false;
    std::deque<WaveHeader*> m_queue;
    std::string m_strError;
};

}  // namespace platform
