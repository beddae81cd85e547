// The singing evaluation engine: the reference data of the song being sung, the capture buffers,
// the evaluation state, and the routines that judge the singing buffer by buffer. It owns no
// window; what it shows and the session routines it calls go through a CEngineView. Everything
// runs on the thread that handles the capture buffers, except the playback poller.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "engine/engineview.h"
#include "engine/linescore.h"
#include "platform/capturedevice.h"
#include "platform/player.h"
#include "platform/waveformat.h"

namespace engine {

inline constexpr int kPitchCapacity = 3840;       // values of m_pPitch
inline constexpr int kCaptureBuffers = 4;         // buffers circulating through the device
inline constexpr int kCaptureBufferBytes = 3840;  // 960 stereo 16-bit frames, 0.12 s at 8000/s
inline constexpr int kCaptureSamples = kCaptureBufferBytes / 2;
inline constexpr int kLastLineTail = 135;              // sung values the last line does not align
inline constexpr int32_t kMaxReferencePitch = 100000;  // largest magnitude of a reference value
inline constexpr int kMaxLatencyMs = 1000;             // largest microphone latency taken
inline constexpr int kHalfBufferMs = 60;               // half the 0.12 s of a capture buffer
// The format every capture of the program records in: 8000 frames/s, stereo, 16-bit PCM.
inline constexpr platform::WaveFormat kCaptureFormat{
    platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};

// The index of the reference value of a line that the music plays at the centre of a capture
// buffer: floor((clockMs − latencyMs − 60 − startMs) / 15), where clockMs is the accompaniment's
// position when the device handed the buffer back and startMs the line's start, rounded to the
// millisecond. Integer arithmetic, so every machine gets the same index; held in the int range.
int ReferenceIndex(int64_t clockMs, int latencyMs, float lineStart);

// What the device thread tells the evaluation about a buffer it handed back, by value: which of
// the engine's buffers, how many bytes, its clock stamp, and the capture generation it belongs to.
struct CaptureNotice {
    int nIndex = -1;
    uint32_t nBytes = 0;
    int32_t nClockMs = platform::kNoClockStamp;
    unsigned nGeneration = 0;
};

class CSingingEngine {
public:
    explicit CSingingEngine(CEngineView& view);
    ~CSingingEngine();
    CSingingEngine(const CSingingEngine&) = delete;
    CSingingEngine& operator=(const CSingingEngine&) = delete;

    // Reads the reference data of a song (its folder name) from "歌曲/单曲/<song>/", or from
    // "歌曲/串烧歌曲/<song>/" when m_bMedley is set, below the library folder: the point count N
    // from "断点", N start and N end times (seconds) from "qidian" and "endpoint", and the records
    // of lines 0 to N − 2 from the files "1" to "N−1", each a count M followed by M pitch values.
    // Allocates the working arrays zero-filled. On success m_pRefRecord is at the start of
    // m_pReference. On any failure it shows a message naming the file and the problem, releases
    // everything (m_nPoints becomes 0) and returns false.
    bool LoadReference(const std::string& song);

    // Moves m_pRefRecord back to the start of m_pReference, then releases the times, the line
    // samples, the working arrays and the records, setting each pointer to null. m_pLineCounts
    // stays until the next load or the end of the engine: the display may still read it.
    void FreeReference();

    // Shows the grade word of a line score on the grade label; returns the score unchanged.
    float ShowGrade(float score);

    // --- capture device ---
    // Allocates the buffers; false after "Memory error!" with the warning beep.
    bool AllocateCaptureBuffers();
    // The device the buffers go to (owned by the caller, outliving the engine's use of it).
    void SetCaptureDevice(platform::CCaptureDevice* device) { m_hWaveIn = device; }
    // Opens the device as 16-bit stereo PCM at 8000 frames/s; every buffer it hands back goes to
    // notice, which brings it to the evaluation's thread. False after "Audio can not be open!"
    // with the warning beep.
    bool OpenCapture(platform::CCaptureDevice::Notice notice);
    // Prepares and queues every buffer, in index order.
    void QueueCaptureBuffers();
    void StartCapture();
    // Resets the device (every queued buffer comes back) and unprepares the buffers; notices of
    // the buffers handed back until then belong to an earlier generation.
    void ResetCapture();
    // The notice of a buffer the device has just handed back; safe on the device's thread.
    CaptureNotice MakeNotice(const platform::WaveHeader* header) const;

    // --- evaluation ---
    // The evaluation state at the start of a song (times, counters, cursor); allocates the work
    // block when it is missing.
    void BeginSession();
    // Releases the work block (when the user stops singing).
    void ReleaseWork();
    // Handles a buffer the device handed back, then hands it back to the device.
    void OnWaveInData(platform::WaveHeader* header);
    // The same for a notice brought over from the device's thread. A notice from before the last
    // reset is dropped: its buffer may be queued and filling again.
    void OnCaptureNotice(const CaptureNotice& notice);
    // The next medley song: stops this one, loads and starts the next, and restarts the display.
    // False when the next song cannot be sung: the session has ended then (the loader has said why).
    bool StartNextSong();
    // Classifies one in-line buffer against the reference value under the marker.
    void CompareBuffer(const int32_t* ref, int count, const int32_t* pitch, int frames, int voiced);
    // Shows the singer's pitch between lines.
    void ShowIdlePitch(const int32_t* pitch, int frames);

    // The microphone latency L in milliseconds (0 to kMaxLatencyMs): a buffer's sound reached the
    // microphone this long before the device handed the buffer back.
    void SetLatencyMs(int milliseconds);

    // --- playback poller ---
    // One round of the poller: asks the player for position and speed, sets m_fTime and the
    // display's time, then the whole seconds and the time bar. False (nothing changed) when the
    // player is not playing.
    bool PollPlaybackTime(const platform::CPlayer& player);
    // Runs the poller every 50 ms on its own thread until StopTimeThread.
    void StartTimeThread(const platform::CPlayer* player);
    // Asks the poller to stop and waits for it; harmless when it is not running.
    void StopTimeThread();

    // The folder that holds "歌曲" ("" is the working directory).
    void SetLibraryFolder(const std::string& folder) { m_strLibrary = folder; }
    // The song folder LoadReference reads, as messages name it.
    std::string SongFolder(const std::string& song) const;

    // The file and problem of the last failed load, for tools that list problems.
    const std::string& LoadProblemFile() const { return m_strProblemFile; }
    const std::string& LoadProblem() const { return m_strProblem; }

    int m_bMedley = 0;  // songs come from the medley folder

    // The song's reference data, valid between a successful LoadReference and FreeReference.
    int m_nPoints = 0;                // N; lines 0 to N − 2
    float* m_pStartTimes = nullptr;   // [N] start time of each line, seconds
    float* m_pEndTimes = nullptr;     // [N] end time of each line, seconds
    int* m_pLineSamples = nullptr;    // [N] samples taken in each line, filled while singing
    int* m_pLineCounts = nullptr;     // [N] value count M of each line record
    int32_t* m_pReference = nullptr;  // [S + N] the line records back to back: M, M values, …
    int32_t* m_pRefRecord = nullptr;  // the record of the line being sung
    int32_t* m_pPitch = nullptr;      // [kPitchCapacity] pitch values of one buffer
    int32_t* m_pSung = nullptr;       // [kSungCapacity] the line's sung sequence

    // Capture buffers and device.
    platform::CCaptureDevice* m_hWaveIn = nullptr;
    platform::WaveFormat m_wfx{};
    int m_nWaveBuffers = kCaptureBuffers;
    platform::WaveHeader* m_pWaveHeaders = nullptr;  // [m_nWaveBuffers]
    char** m_pWaveData = nullptr;                    // [m_nWaveBuffers] blocks of 3840 bytes

    // Evaluation state (see BeginSession for the values a song starts with).
    int m_nLine = 0;                     // current line
    std::atomic<float> m_fTime{0.0f};    // playback time, seconds (written by the poller)
    std::atomic<int> m_nTimeSeconds{0};  // whole seconds of m_fTime
    int m_nLineBuffers = 0;              // full buffers the current line spans
    int m_nLineRemainder = 0;            // samples of the line beyond them
    int m_nTake = 0;                     // samples taken from the current buffer
    int m_nBuffersUsed = 0;              // full buffers consumed in the line
    int16_t* m_pWork = nullptr;          // [kCaptureSamples] the first channel of a buffer
    int m_nFrames = 0;                   // values in m_pPitch
    int m_bHighOffset = 1;               // singer offset: 120 when set, else 80
    int m_nVoicedBuffers = 0;            // buffers of the line with a voiced value
    int m_nRefIndex = 0;                 // reference index played at the buffer's centre
    int m_nLatencyMs = 0;                // microphone latency L, ms
    int m_nHits = 0;                     // hit buffers of the line
    int m_nNears = 0;                    // near-miss buffers of the line
    int m_nSung = 0;                     // values in m_pSung
    int32_t m_nKeyOffset = 0;            // how far the singer sings above the reference
    int32_t m_aKeyEstimates[3] = {};     // key-offset estimates of the line
    int m_nKeyEstimates = 0;
    int m_bPrevVoiced = 0;   // the previous compared buffer had a voiced mean
    int m_nFirstVoiced = 0;  // first voiced frame of the line's first voiced buffer
    int m_bHit = 0, m_bNear = 0, m_bFar = 0;  // marker flags of the last buffer
    float m_fLineScore = 0.0f;                // score of the last finished line
    float m_fAlignScore = 0.0f;               // its alignment score
    float m_fTotal = 0.0f;                    // sum of line scores; at the end their mean
    int m_bGradeShown = 0;                    // a grade is on show
    int m_nMedleySong = 0;                    // current song of a medley, 0 to 3
    int m_nMedleyLines = 0;                   // lines of the medley songs finished so far

private:
    // The line path of one buffer: the line's samples filtered, tracked and compared, the grade
    // cleared half-way through the next line, the line scored at its end.
    void HandleBuffer(platform::WaveHeader* header, uint32_t bytes, int32_t clockMs);
    void LinePath(const int16_t* samples, int line, float time, int32_t clockMs);
    void ScoreLine(int line);
    void EndOfSong();
    void AppendSung(int32_t value, int times);
    void AppendSung(const int32_t* values, int count);
    void MoveLineBar(int frames, int count);
    void ReleaseCaptureBuffers();

    // Release everything, remember the problem and show it; both return false.
    bool Fail(const std::string& file, const std::string& problem);
    bool FailLineFile(const std::string& file, const std::string& problem);  // "模板数据为空…"
    bool FailMemory();
    void ReleaseAll();

    CEngineView& m_view;
    std::string m_strLibrary;
    std::thread m_timeThread;
    std::mutex m_timeMutex;
    std::condition_variable m_timeWake;
    bool m_bStopTime = false;
    std::string m_strProblemFile;
    std::string m_strProblem;
    std::atomic<unsigned> m_nCaptureGeneration{0};
    bool m_bSongOver = false;  // the song's last line is scored; its next step is due
};

}  // namespace engine
