#include "engine/singingengine.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "engine/alignment.h"
#include "engine/bandpass.h"
#include "engine/linescore.h"
#include "engine/numberscanner.h"
#include "engine/pitchcompare.h"
#include "engine/pitchtracker.h"
#include "engine/songfolder.h"
#include "platform/filebytes.h"
#include "platform/messages.h"

namespace engine {
namespace {

constexpr const char* kEmptyTemplate = "模板数据为空，请重新录制！";

template <typename T>
void Release(T*& pointer) {
    if (pointer) std::free(pointer);
    pointer = nullptr;
}

std::string Quoted(std::string_view token) {
    const std::string shown = PrintableToken(token);
    return shown.empty() ? std::string("一段内容") : "“" + shown + "”";
}

// "：第 3 个" before the name of a number, or only "：" when the file holds just the one.
std::string Ordinal(int index, int wanted) {
    return wanted == 1 ? "：" : "：第 " + std::to_string(index + 1) + " 个";
}

// What is wrong with a number that could not be read, as a message shows it.
std::string NumberProblem(CNumberScanner::Result result, std::string_view token, int index,
                          int wanted, const char* what) {
    switch (result) {
        case CNumberScanner::Result::End:
            return "：应有 " + std::to_string(wanted) + " 个" + what + "，只找到 " +
                   std::to_string(index) + " 个";
        case CNumberScanner::Result::NotANumber:
            return Ordinal(index, wanted) + what + Quoted(token) + "不是" +
                   (std::string_view(what) == "时间" ? "数字" : "整数");
        case CNumberScanner::Result::OutOfRange:
            return Ordinal(index, wanted) + what + Quoted(token) + "超出范围";
        case CNumberScanner::Result::Ok:
            break;
    }
    return {};
}

std::string Seconds(float seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(seconds));
    return text;
}

}  // namespace

CSingingEngine::CSingingEngine(CEngineView& view) : m_view(view) {}

CSingingEngine::~CSingingEngine() {
    StopTimeThread();
    if (m_hWaveIn && m_pWaveHeaders) ResetCapture();
    ReleaseCaptureBuffers();
    ReleaseWork();
    ReleaseAll();
}

std::string CSingingEngine::SongFolder(const std::string& song) const {
    return SongFolderPath(m_strLibrary, m_bMedley != 0, song);
}

bool CSingingEngine::Fail(const std::string& file, const std::string& problem) {
    ReleaseAll();
    m_strProblemFile = file;
    m_strProblem =
        problem.starts_with("：") ? problem.substr(std::string_view("：").size()) : problem;
    platform::ShowMessage("歌曲数据文件“" + file + "”" + problem + "。",
                          platform::MessageIcon::Exclamation);
    return false;
}

bool CSingingEngine::FailLineFile(const std::string& file, const std::string& problem) {
    ReleaseAll();
    m_strProblemFile = file;
    m_strProblem = problem + "（" + kEmptyTemplate + "）";
    platform::ShowMessage(kEmptyTemplate, platform::MessageIcon::Information);
    return false;
}

bool CSingingEngine::FailMemory() {
    ReleaseAll();
    m_strProblemFile.clear();
    m_strProblem = "erro memory";
    platform::MessageBeep(platform::MessageIcon::Exclamation);
    platform::ShowMessage("erro memory", platform::MessageIcon::Exclamation);
    return false;
}

bool CSingingEngine::LoadReference(const std::string& song) {
    ReleaseAll();
    m_strProblemFile.clear();
    m_strProblem.clear();
    const std::string folder = SongFolder(song) + "/";
    std::string bytes, problem;

    // The number of points N; a song of N points has N − 1 lines.
    const std::string pointsFile = folder + "断点";
    if (!platform::ReadFileBytes(pointsFile, bytes, problem)) return Fail(pointsFile, problem);
    int32_t points = 0;
    {
        CNumberScanner scanner(bytes);
        const auto result = scanner.NextInt(points);
        if (result != CNumberScanner::Result::Ok)
            return Fail(pointsFile, result == CNumberScanner::Result::End
                                        ? std::string("是空的，应当写有点数")
                                        : NumberProblem(result, scanner.LastToken(), 0, 1, "点数"));
        if (points < 2)
            return Fail(pointsFile,
                        "：点数为 " + std::to_string(points) + "，至少要有 2 个点（一句歌词）");
    }

    // N start and N end times. The files are read before any array of N elements is made, so a
    // damaged point count cannot ask for more memory than the files back.
    std::vector<float> times[2];
    const std::string timeFiles[2] = {folder + "qidian", folder + "endpoint"};
    for (int t = 0; t < 2; ++t) {
        if (!platform::ReadFileBytes(timeFiles[t], bytes, problem))
            return Fail(timeFiles[t], problem);
        CNumberScanner scanner(bytes);
        for (int i = 0; i < points; ++i) {
            float value = 0.0f;
            const auto result = scanner.NextFloat(value);
            if (result != CNumberScanner::Result::Ok)
                return Fail(timeFiles[t],
                            NumberProblem(result, scanner.LastToken(), i, points, "时间"));
            // No song lasts beyond 6 hours, and the song clock counts milliseconds in an int:
            // a time outside ±6 hours is damage, not a song. (Negative times within the bound
            // have always loaded and still do.)
            constexpr float kMaxSongSeconds = 6 * 60 * 60;
            if (!(value >= -kMaxSongSeconds && value <= kMaxSongSeconds))
                return Fail(timeFiles[t], Ordinal(i, points) + "时间 " + Seconds(value) +
                                              " 秒超出范围（-21600 到 21600 秒）");
            times[t].push_back(value);
        }
    }
    for (int k = 0; k + 1 < points; ++k)
        if (times[0][k] > times[1][k])
            return Fail(timeFiles[0], "：第 " + std::to_string(k + 1) + " 句的开始时间 " +
                                          Seconds(times[0][k]) + " 秒晚于“endpoint”中的结束时间 " +
                                          Seconds(times[1][k]) + " 秒");

    // The line records, each file read once and checked whole before anything is stored.
    std::vector<std::vector<int32_t>> records;
    int64_t total = points;  // S + N
    for (int i = 1; i < points; ++i) {
        const std::string lineFile = folder + std::to_string(i);
        if (!platform::ReadFileBytes(lineFile, bytes, problem))
            return FailLineFile(lineFile, problem);
        CNumberScanner scanner(bytes);
        int32_t count = 0;
        auto result = scanner.NextInt(count);
        if (result != CNumberScanner::Result::Ok)
            return Fail(lineFile,
                        result == CNumberScanner::Result::End
                            ? std::string("是空的，应当写有数值个数")
                            : NumberProblem(result, scanner.LastToken(), 0, 1, "数值个数"));
        if (count < 0)
            return Fail(lineFile, "：开头的数值个数为 " + std::to_string(count) + "，不能为负数");
        std::vector<int32_t> record;
        for (int k = 0; k < count; ++k) {
            int32_t value = 0;
            result = scanner.NextInt(value);
            if (result != CNumberScanner::Result::Ok)
                return Fail(lineFile,
                            NumberProblem(result, scanner.LastToken(), k, count, "音高数值"));
            if (value > kMaxReferencePitch || value < -kMaxReferencePitch)
                return Fail(lineFile, "：第 " + std::to_string(k + 1) + " 个音高数值 " +
                                          std::to_string(value) + " 超出范围（-" +
                                          std::to_string(kMaxReferencePitch) + " 到 " +
                                          std::to_string(kMaxReferencePitch) + "）");
            record.push_back(value);
        }
        total += count;
        records.push_back(std::move(record));
    }
    if (total > INT32_MAX) return FailMemory();

    // Everything is known to be sound: build the song.
    const std::size_t n = static_cast<std::size_t>(points);
    m_pStartTimes = static_cast<float*>(std::malloc(n * sizeof(float)));
    m_pEndTimes = static_cast<float*>(std::malloc(n * sizeof(float)));
    m_pLineSamples = static_cast<int*>(std::calloc(n, sizeof(int)));
    m_pLineCounts = static_cast<int*>(std::calloc(n, sizeof(int)));
    m_pReference = static_cast<int32_t*>(std::malloc(static_cast<std::size_t>(total) * 4));
    m_pPitch = static_cast<int32_t*>(std::calloc(kPitchCapacity, sizeof(int32_t)));
    m_pSung = static_cast<int32_t*>(std::calloc(kSungCapacity, sizeof(int32_t)));
    if (!m_pStartTimes || !m_pEndTimes || !m_pLineSamples || !m_pLineCounts || !m_pReference ||
        !m_pPitch || !m_pSung)
        return FailMemory();

    m_nPoints = points;
    for (std::size_t i = 0; i < n; ++i) {
        m_pStartTimes[i] = times[0][i];
        m_pEndTimes[i] = times[1][i];
    }
    int32_t* cell = m_pReference;
    for (std::size_t line = 0; line < records.size(); ++line) {
        const auto& record = records[line];
        *cell++ = static_cast<int32_t>(record.size());
        m_pLineCounts[line] = static_cast<int>(record.size());
        for (int32_t value : record) *cell++ = value;
    }
    *cell = 0;  // the cell of the unused last point
    m_pRefRecord = m_pReference;
    return true;
}

void CSingingEngine::FreeReference() {
    m_pRefRecord = m_pReference;
    Release(m_pStartTimes);
    Release(m_pEndTimes);
    Release(m_pLineSamples);
    Release(m_pPitch);
    Release(m_pSung);
    Release(m_pReference);
    m_pRefRecord = nullptr;
}

void CSingingEngine::ReleaseAll() {
    FreeReference();
    Release(m_pLineCounts);
    m_nPoints = 0;
}

float CSingingEngine::ShowGrade(float score) {
    m_view.SetGradeText(GradeWord(score));
    return score;
}

// ---------------------------------------------------------------------------------------------
// Capture device

bool CSingingEngine::AllocateCaptureBuffers() {
    if (m_pWaveHeaders) return true;
    m_pWaveData = static_cast<char**>(std::calloc(m_nWaveBuffers, sizeof(char*)));
    m_pWaveHeaders = static_cast<platform::WaveHeader*>(
        std::calloc(m_nWaveBuffers, sizeof(platform::WaveHeader)));
    bool ok = m_pWaveData && m_pWaveHeaders;
    for (int i = 0; ok && i < m_nWaveBuffers; ++i) {
        m_pWaveData[i] = static_cast<char*>(std::calloc(kCaptureBufferBytes, 1));
        ok = m_pWaveData[i] != nullptr;
    }
    if (ok) return true;
    ReleaseCaptureBuffers();
    platform::MessageBeep(platform::MessageIcon::Exclamation);
    platform::ShowMessage("Memory error!", platform::MessageIcon::Exclamation);
    return false;
}

void CSingingEngine::ReleaseCaptureBuffers() {
    if (m_pWaveData)
        for (int i = 0; i < m_nWaveBuffers; ++i) std::free(m_pWaveData[i]);
    Release(m_pWaveData);
    Release(m_pWaveHeaders);
}

bool CSingingEngine::OpenCapture(platform::CCaptureDevice::Notice notice) {
    m_wfx = kCaptureFormat;
    if (m_hWaveIn && m_hWaveIn->Open(m_wfx, std::move(notice))) return true;
    if (m_hWaveIn) platform::Trace("capture device: " + m_hWaveIn->LastError() + "\n");
    platform::MessageBeep(platform::MessageIcon::Exclamation);
    platform::ShowMessage("Audio can not be open!", platform::MessageIcon::Exclamation);
    return false;
}

void CSingingEngine::QueueCaptureBuffers() {
    if (!m_hWaveIn || !m_pWaveHeaders) return;
    for (int i = 0; i < m_nWaveBuffers; ++i) {
        platform::WaveHeader& header = m_pWaveHeaders[i];
        header = platform::WaveHeader{};
        header.lpData = m_pWaveData[i];
        header.dwUser = static_cast<uintptr_t>(i);
        header.dwBufferLength = kCaptureBufferBytes;
        header.dwLoops = 1;
        m_hWaveIn->PrepareBuffer(&header);
        m_hWaveIn->AddBuffer(&header);
    }
}

void CSingingEngine::StartCapture() {
    if (m_hWaveIn) m_hWaveIn->Start();
}

void CSingingEngine::ResetCapture() {
    if (!m_hWaveIn) return;
    m_hWaveIn->Reset();
    m_nCaptureGeneration.fetch_add(1);
    if (m_pWaveHeaders)
        for (int i = 0; i < m_nWaveBuffers; ++i) m_hWaveIn->UnprepareBuffer(&m_pWaveHeaders[i]);
}

// ---------------------------------------------------------------------------------------------
// Evaluation

CaptureNotice CSingingEngine::MakeNotice(const platform::WaveHeader* header) const {
    CaptureNotice notice;
    notice.nIndex = header->dwUser < static_cast<uintptr_t>(m_nWaveBuffers)
                        ? static_cast<int>(header->dwUser)
                        : -1;
    notice.nBytes = header->dwBytesRecorded;
    notice.nClockMs = header->nClockMs;
    notice.nGeneration = m_nCaptureGeneration.load();
    return notice;
}

void CSingingEngine::OnCaptureNotice(const CaptureNotice& notice) {
    if (notice.nGeneration != m_nCaptureGeneration.load() || !m_pWaveHeaders || notice.nIndex < 0 ||
        notice.nIndex >= m_nWaveBuffers)
        return;
    HandleBuffer(&m_pWaveHeaders[notice.nIndex], notice.nBytes, notice.nClockMs);
}

bool CSingingEngine::StartNextSong() {
    m_view.StopSinging();
    m_view.FreeReference();
    if (!m_view.StartSession()) {
        m_view.EndSession();
        return false;
    }
    m_view.RestartDisplay();
    return true;
}

void CSingingEngine::BeginSession() {
    m_bSongOver = false;
    m_pRefRecord = m_pReference;
    m_nLine = 0;
    m_fTime = 0.0f;
    m_nTake = 0;
    m_nBuffersUsed = 0;
    m_nFrames = 0;
    m_nVoicedBuffers = 0;
    m_nRefIndex = 0;
    m_nHits = 0;
    m_nNears = 0;
    m_nSung = 0;
    m_nKeyEstimates = 0;
    m_bHit = m_bNear = m_bFar = 0;
    m_fLineScore = 0.0f;
    m_fAlignScore = 0.0f;
    if (!m_pWork) m_pWork = static_cast<int16_t*>(std::calloc(kCaptureSamples, sizeof(int16_t)));
}

void CSingingEngine::ReleaseWork() { Release(m_pWork); }

void CSingingEngine::OnWaveInData(platform::WaveHeader* header) {
    HandleBuffer(header, header->dwBytesRecorded, header->nClockMs);
}

void CSingingEngine::HandleBuffer(platform::WaveHeader* header, uint32_t bytes, int32_t clockMs) {
    if (bytes < kCaptureBufferBytes) {
        platform::Trace("No useful data\n");
        return;
    }
    if (m_pStartTimes && m_pWork && !m_bSongOver) {
        const int line = m_nLine;
        const float time = m_fTime.load(std::memory_order_relaxed);
        if (time < m_pStartTimes[line]) {
            // Between lines: the whole buffer, both channels, only to show the singer's pitch.
            m_nFrames = TrackPitch(reinterpret_cast<const int16_t*>(header->lpData),
                                   kCaptureSamples, 8000, 256, 128, m_pPitch);
            ShowIdlePitch(m_pPitch, m_nFrames);
        } else {
            LinePath(reinterpret_cast<const int16_t*>(header->lpData), line, time, clockMs);
        }
        if (m_nLine > m_nPoints - 2) EndOfSong();
    }
    m_view.UpdateControls();
    // After the end of a song this has no effect: the buffer is unprepared, or already queued
    // again by the next song's start.
    if (m_hWaveIn) m_hWaveIn->AddBuffer(header);
}

namespace {

// trunc(x) as an int, held inside the int range.
int TruncToInt(double x) {
    if (!(x > INT_MIN)) return INT_MIN;
    if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(x);
}

}  // namespace

int ReferenceIndex(int64_t clockMs, int latencyMs, float lineStart) {
    const int64_t offset = clockMs - latencyMs - kHalfBufferMs - LineStartMs(lineStart);
    return static_cast<int>(
        std::clamp<int64_t>(FloorDiv(offset, kReferenceStepMs), INT_MIN, INT_MAX));
}

void CSingingEngine::SetLatencyMs(int milliseconds) {
    m_nLatencyMs = std::clamp(milliseconds, 0, kMaxLatencyMs);
}

void CSingingEngine::LinePath(const int16_t* samples, int line, float time, int32_t clockMs) {
    const float start = m_pStartTimes[line];
    const float end = m_pEndTimes[line];

    // Samples the line spans at 16000 per second; full buffers first, then the remainder.
    m_pLineSamples[line] = TruncToInt((end - start) * 8000 * 2);
    m_nLineBuffers = m_pLineSamples[line] / kCaptureSamples;
    m_nLineRemainder = m_pLineSamples[line] - kCaptureSamples * m_nLineBuffers;
    if (m_nBuffersUsed < m_nLineBuffers) {
        m_nTake = kCaptureSamples;
        ++m_nBuffersUsed;
    } else {
        m_nTake = m_nLineRemainder;
    }

    int taken = 0;
    for (int i = 0; i < m_nTake && i < kCaptureSamples; i += 2) m_pWork[taken++] = samples[i];

    if (taken > 256) {
        BandPassFilter(m_pWork, taken, kBandPass, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
        m_nFrames = TrackPitch(m_pWork, taken, 8000, 256, 128, m_pPitch);
        const int32_t offset = m_bHighOffset ? 120 : 80;
        int64_t sum = 0;
        for (int i = 0; i < m_nFrames; ++i) {
            if (m_pPitch[i] != 0) m_pPitch[i] += offset;
            sum += m_pPitch[i];
        }
        if (sum != 0) ++m_nVoicedBuffers;

        // The value the music plays at the buffer's centre. A buffer nobody stamped (fed by hand)
        // goes by the poller's time.
        const int64_t clock = clockMs != platform::kNoClockStamp
                                  ? int64_t{clockMs}
                                  : std::llround(static_cast<double>(time) * 1000.0);
        m_nRefIndex = ReferenceIndex(clock, m_nLatencyMs, start);
        if (m_nFrames != 0) {
            CompareBuffer(m_pRefRecord + 1, m_pRefRecord[0], m_pPitch, m_nFrames, m_nVoicedBuffers);
            BufferReport report;
            report.nLine = line;
            report.nRefIndex = m_nRefIndex;
            report.nClockMs = static_cast<int>(std::clamp<int64_t>(clock, INT_MIN, INT_MAX));
            report.bHit = m_bHit != 0;
            report.bNear = m_bNear != 0;
            report.bFar = m_bFar != 0;
            m_view.OnBufferJudged(report);
        }
    }

    // The grade of the previous line goes once this line is half over.
    if (m_bGradeShown && (start + end) / 2 < time) {
        m_view.SetGradeText(" ");
        m_bGradeShown = 0;
    }

    if (static_cast<double>(end) - 0.3 < time) ScoreLine(line);
}

void CSingingEngine::ScoreLine(int line) {
    const int count = m_pRefRecord[0];
    LineReport report;
    report.nLine = line;
    report.fStart = m_pStartTimes[line];
    report.fEnd = m_pEndTimes[line];
    report.nHits = m_nHits;
    report.nNears = m_nNears;
    report.nSung = m_nSung;

    float score = 0.0f;
    if (m_nSung != 0) {
        const int cut = CleanSungSequence(m_pRefRecord, m_pSung);
        int q = m_nSung - cut;
        if (line == m_nPoints - 2) q -= kLastLineTail;
        report.nCut = cut;
        if (q >= 1) {
            const float cost = AlignPitch(m_pSung + cut, q, m_pRefRecord + 1, count, kAlignFailed);
            m_fAlignScore = MapAlignCost(cost, q);
            score = LineScore(m_nHits, m_nNears, q, m_fAlignScore);
            report.bAligned = true;
            report.fCost = cost;
        }
    }
    report.fAlign = m_fAlignScore;

    m_aKeyEstimates[0] = m_aKeyEstimates[1] = m_aKeyEstimates[2] = 0;
    m_fLineScore = ShowGrade(score);
    m_bGradeShown = 1;
    m_nKeyEstimates = 0;
    m_nLineRemainder = 0;
    m_fTotal += m_fLineScore;
    m_nHits = 0;
    m_nNears = 0;
    m_view.SetLineBarPos(0);
    m_nBuffersUsed = 0;
    m_fAlignScore = 0.0f;
    m_nVoicedBuffers = 0;
    m_nSung = 0;
    m_pRefRecord += count + 1;
    ++m_nLine;

    report.fScore = m_fLineScore;
    report.strGrade = GradeWord(m_fLineScore);
    m_view.OnLineScored(report);
}

void CSingingEngine::EndOfSong() {
    m_bSongOver = true;
    if (m_bMedley && m_nMedleySong < 3) {
        m_nMedleyLines += m_nLine;
        ++m_nMedleySong;
        // The shell moves on to the next song (StartNextSong), at once or as a step of its own.
        m_view.NextSongDue();
        return;
    }
    if (m_bMedley) {
        m_nMedleyLines += m_nLine;
        m_fTotal = m_fTotal / static_cast<float>(m_nMedleyLines);
    } else {
        m_fTotal = m_fTotal / static_cast<float>(m_nPoints - 1);
    }
    char line[64];
    std::snprintf(line, sizeof line, "final score: %.1f\n", static_cast<double>(m_fTotal));
    platform::Trace(line);
    m_view.ShowScore();
    m_view.SetScore(m_fTotal);
    m_view.SetTimeBarPos(0);
    m_view.EndSession();
}

void CSingingEngine::AppendSung(int32_t value, int times) {
    for (int i = 0; i < times && m_nSung < kSungCapacity; ++i) m_pSung[m_nSung++] = value;
}

void CSingingEngine::AppendSung(const int32_t* values, int count) {
    for (int i = 0; i < count && m_nSung < kSungCapacity; ++i) m_pSung[m_nSung++] = values[i];
}

void CSingingEngine::MoveLineBar(int frames, int count) {
    const int h = m_nNears / 2 + m_nHits;
    m_view.SetLineBarPos(TruncToInt(static_cast<double>(int64_t{h} * frames) / count * 100.0));
}

void CSingingEngine::CompareBuffer(const int32_t* ref, int count, const int32_t* pitch, int frames,
                                   int voiced) {
    const int height = m_view.DisplayHeight();
    const int p = m_nRefIndex;
    int y = height / 2;
    int hit = 0, nearMiss = 0, far = 0;

    if (p <= 0 || p >= count || voiced == 0) {
        far = 1;  // outside the record, or nothing sung yet in this line: a neutral point
    } else if (voiced == 1) {
        m_nFirstVoiced = FirstVoicedFrame(pitch, frames);
        const int32_t d = MeanVoicedPitch(pitch, frames);
        if (d != 0 && ref[p] != 0) m_nKeyOffset = EstimateKeyOffset(d, p, ref, frames);
        const int64_t diff = std::llabs(int64_t{d} - ref[p]);
        if (diff < 25) {
            AppendSung(ref[p], frames - m_nFirstVoiced);
            ++m_nHits;
            MoveLineBar(frames, count);
            y = DisplayY(ref[p], height);
            hit = 1;
        } else {
            AppendSung(d, frames - m_nFirstVoiced);
            if (diff <= 50) {
                ++m_nNears;
                nearMiss = 1;
            } else {
                far = 1;
            }
            y = DisplayY(d, height);
        }
    } else if (const int32_t d = MeanVoicedPitch(pitch, frames); d != 0) {
        m_bPrevVoiced = 1;
        if (ref[p] != 0 && p > count / 12 && m_nKeyEstimates <= 3) {
            if (m_nKeyEstimates < 3) {
                m_aKeyEstimates[m_nKeyEstimates++] = EstimateKeyOffset(d, p, ref, frames);
            } else if (std::abs(m_aKeyEstimates[1]) < 100 && std::abs(m_aKeyEstimates[2]) < 100) {
                m_nKeyOffset = (m_aKeyEstimates[1] + m_aKeyEstimates[2]) / 2;
            }
        }
        y = DisplayY(d - m_nKeyOffset, height);
        if (ref[p] == 0) {
            AppendSung(pitch, frames);  // the reference rests but the singer sings
            ++m_nHits;
            hit = 1;
        } else {
            const int64_t diff = std::llabs(int64_t{ref[p]} + m_nKeyOffset - d);
            if (diff < 25) {
                AppendSung(ref[p], frames);
                ++m_nHits;
                hit = 1;
            } else {
                AppendSung(pitch, frames);
                if (diff <= 50) {
                    ++m_nNears;
                    nearMiss = 1;
                } else {
                    far = 1;
                }
            }
        }
        MoveLineBar(frames, count);
    } else {
        // A silent buffer: right after singing it is shown at the reference height.
        if (m_bPrevVoiced) {
            if (ref[p] != 0) {
                y = DisplayY(ref[p], height);
                hit = 1;
            } else if (p + 2 < count && ref[p + 2] != 0) {
                y = DisplayY(ref[p + 2], height);
                hit = 1;
            } else {
                far = 1;
            }
        } else {
            far = 1;
        }
        m_bPrevVoiced = 0;
    }

    m_bHit = hit;
    m_bNear = nearMiss;
    m_bFar = far;
    m_view.SetPitchMarker(y, m_bNear, m_bHit, m_bFar);
}

void CSingingEngine::ShowIdlePitch(const int32_t* pitch, int frames) {
    const int height = m_view.DisplayHeight();
    const int32_t d = MeanVoicedPitch(pitch, frames);
    const int y = d != 0 ? IdleDisplayY(d, height) : height * 4 / 5;
    m_view.SetPitchMarker(y, 0, 0, 1);
}

// ---------------------------------------------------------------------------------------------
// Playback poller

bool CSingingEngine::PollPlaybackTime(const platform::CPlayer& player) {
    if (player.Speed() < 1) return false;
    const int position = player.Position();
    const int speed = player.Speed();
    if (speed < 1) return false;  // stopped between the two questions
    const float time = static_cast<float>(static_cast<double>(position) / speed);
    m_fTime.store(time, std::memory_order_relaxed);
    m_nTimeSeconds.store(TruncToInt(time * 1.0), std::memory_order_relaxed);
    m_view.SetTimeBarPos(m_nTimeSeconds.load(std::memory_order_relaxed));
    return true;
}

void CSingingEngine::StartTimeThread(const platform::CPlayer* player) {
    StopTimeThread();
    if (!player) return;
    {
        std::lock_guard lock(m_timeMutex);
        m_bStopTime = false;
    }
    m_timeThread = std::thread([this, player] {
        using namespace std::chrono_literals;
        std::unique_lock lock(m_timeMutex);
        while (!m_bStopTime) {
            lock.unlock();
            const bool playing = PollPlaybackTime(*player);
            lock.lock();
            // Every 50 ms; while nothing plays, ask again soon without spinning.
            m_timeWake.wait_for(lock, playing ? 50ms : 5ms, [this] { return m_bStopTime; });
        }
    });
}

void CSingingEngine::StopTimeThread() {
    if (!m_timeThread.joinable()) return;
    {
        std::lock_guard lock(m_timeMutex);
        m_bStopTime = true;
    }
    m_timeWake.notify_all();
    m_timeThread.join();
}

}  // namespace engine
