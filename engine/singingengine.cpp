#include "engine/singingengine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "engine/alignment.h"
#include "engine/bandpass.h"
#include "engine/linescore.h"
#include "engine/pitchcompare.h"
#include "engine/pitchtracker.h"
#include "engine/strictjudge.h"
#include "platform/messages.h"

namespace engine {

CSingingEngine::CSingingEngine(CEngineView& view)
    : m_view(view),
      m_pitch(kPitchCapacity, 0),
      m_work(kCaptureSamples, 0),
      m_judge(MakeJudge(JudgingLevel::Easy)) {}

void CSingingEngine::SetJudgingLevel(JudgingLevel level) {
    if (level != m_judge->Level()) m_judge = MakeJudge(level);
}

// ---------------------------------------------------------------------------------------------
// Evaluation

void CSingingEngine::StartRun(bool medley) {
    m_nPracticeLine = -1;
    m_bMedley = medley;
    m_nMedleySong = 0;
    m_nMedleyLines = 0;
    m_fTotal = 0.0f;
}

void CSingingEngine::BeginSong(std::shared_ptr<const CSong> song) {
    ResetForSong(std::move(song));
    LineBegins();
}

void CSingingEngine::LineBegins() {
    if (!m_song || m_nLine > m_song->Points() - 2 || IsPractice()) return;
    if (m_judge->JudgesOnSongClock()) return;  // carried as the clock reaches each line
    LineCarry carry;
    carry.nLine = m_nLine;
    carry.tally = m_tally;
    carry.judge = m_judge->Clone();
    m_view.OnLineBegun(carry);
}

void CSingingEngine::ResetForSong(std::shared_ptr<const CSong> song) {
    m_song = std::move(song);
    m_bSongOver = false;
    m_pRefRecord = m_song ? m_song->Records() : nullptr;
    m_lineSamples.assign(m_song ? static_cast<std::size_t>(m_song->Points()) : 0, 0);
    std::fill(m_pitch.begin(), m_pitch.end(), 0);
    std::fill(m_tally.sung.begin(), m_tally.sung.end(), 0);
    m_nLine = 0;
    m_fTime = 0.0f;
    m_nTake = 0;
    m_nBuffersUsed = 0;
    m_nFrames = 0;
    m_nVoicedBuffers = 0;
    m_nRefIndex = 0;
    m_tally.nHits = 0;
    m_tally.nNears = 0;
    m_tally.nExpected = 0;
    m_tally.nSung = 0;
    m_tally.nKeyEstimates = 0;
    m_bHit = m_bNear = m_bFar = false;
    m_fLineScore = 0.0f;
    m_nNextCarry = 0;
    m_judge->BeginSong(m_song);
}

void CSingingEngine::BeginPractice(std::shared_ptr<const CSong> song, int line,
                                   const LineCarry* carry) {
    StartRun(false);
    ResetForSong(std::move(song));
    if (!m_song) return;
    line = std::clamp(line, 0, std::max(0, m_song->Points() - 2));
    for (int skipped = 0; skipped < line; ++skipped) m_pRefRecord += m_pRefRecord[0] + 1;
    m_nLine = line;
    m_nPracticeLine = line;
    if (carry && carry->nLine == line && carry->judge && carry->judge->Level() == Level()) {
        // The line takes up what the song had when it reached it; its own counts start at 0.
        m_judge = carry->judge->Clone();
        m_tally = carry->tally;
        m_tally.nHits = m_tally.nNears = m_tally.nExpected = m_tally.nSung = 0;
        m_tally.nKeyEstimates = 0;
    }
}

int PracticeStartMs(const CSong& song, int line) {
    constexpr int64_t kLeadMs = 2000;
    constexpr int64_t kGridMs = 600;
    const int64_t lead = LineStartMs(song.Start(line)) - kLeadMs;
    return static_cast<int>(std::clamp<int64_t>(FloorDiv(lead, kGridMs) * kGridMs, 0, INT_MAX));
}

void CSingingEngine::EndSong() {
    m_song.reset();
    m_pRefRecord = nullptr;
    m_lineSamples.clear();
}

int CSingingEngine::LineSamples(int line) const {
    return line >= 0 && static_cast<std::size_t>(line) < m_lineSamples.size()
               ? m_lineSamples[static_cast<std::size_t>(line)]
               : 0;
}

void CSingingEngine::ResetTime() {
    m_fTime = 0.0f;
    m_nTimeSeconds = 0;
}

CSingingEngine::Step CSingingEngine::HandleBuffer(const int16_t* samples, uint32_t bytes,
                                                  int32_t clockMs) {
    if (bytes < kCaptureBufferBytes) {
        platform::Trace("No useful data\n");
        return Step::Singing;
    }
    if (!m_song || m_bSongOver) return Step::Singing;
    const int line = m_nLine;
    const float time = m_fTime.load(std::memory_order_relaxed);
    if (m_judge->JudgesOnSongClock()) {
        ClockedPath(samples, time, clockMs);
    } else if (time < m_song->Start(line)) {
        // Between lines: the first channel, only to show the singer's pitch.
        int taken = 0;
        for (int i = 0; i < kCaptureSamples; i += 2)
            m_work[static_cast<std::size_t>(taken++)] = samples[i];
        m_nFrames = TrackPitch(m_work.data(), taken, 8000, 256, 128, m_pitch.data());
        ShowIdlePitch(m_pitch.data(), m_nFrames);
    } else {
        LinePath(samples, line, time, clockMs);
    }
    if (IsPractice() && m_nLine > m_nPracticeLine) {
        m_bSongOver = true;
        m_fTotal = m_fLineScore;
        return Step::Finished;
    }
    return m_nLine > m_song->Points() - 2 ? EndOfSong() : Step::Singing;
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
    const float start = m_song->Start(line);
    const float end = m_song->End(line);

    // Samples the line spans at 16000 per second; full buffers first, then the remainder.
    int& lineSamples = m_lineSamples[static_cast<std::size_t>(line)];
    lineSamples = TruncToInt((end - start) * 8000 * 2);
    m_nLineBuffers = lineSamples / kCaptureSamples;
    m_nLineRemainder = lineSamples - kCaptureSamples * m_nLineBuffers;
    if (m_nBuffersUsed < m_nLineBuffers) {
        m_nTake = kCaptureSamples;
        ++m_nBuffersUsed;
    } else {
        m_nTake = m_nLineRemainder;
    }

    int16_t* work = m_work.data();
    int32_t* pitch = m_pitch.data();
    int taken = 0;
    for (int i = 0; i < m_nTake && i < kCaptureSamples; i += 2) work[taken++] = samples[i];
    m_view.OnLineAudio(line, work, taken);

    if (taken > 256) {
        BandPassFilter(work, taken, kBandPass, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
        m_nFrames = m_judge->TrackLine(work, taken, pitch);
        const int32_t offset = m_bHighOffset ? 120 : 80;
        int64_t sum = 0;
        for (int i = 0; i < m_nFrames; ++i) {
            if (pitch[i] != 0) pitch[i] += offset;
            sum += pitch[i];
        }
        if (sum != 0) ++m_nVoicedBuffers;

        // The value the music plays at the buffer's centre. A buffer nobody stamped (fed by hand)
        // goes by the poller's time.
        const int64_t clock = clockMs != platform::kNoClockStamp
                                  ? int64_t{clockMs}
                                  : std::llround(static_cast<double>(time) * 1000.0);
        const int refIndex = ReferenceIndex(clock, m_nLatencyMs, start);
        m_nRefIndex = refIndex;
        if (m_nFrames != 0) {
            const int hitsBefore = m_tally.nHits, nearsBefore = m_tally.nNears;
            const int sungBefore = m_tally.nSung;
            CompareBuffer(m_pRefRecord + 1, m_pRefRecord[0], pitch, m_nFrames, m_nVoicedBuffers,
                          refIndex);
            BufferReport report;
            report.nLine = line;
            report.nRefIndex = m_nRefIndex;
            const int count = m_pRefRecord[0];
            report.nRefValue = refIndex >= 0 && refIndex < count ? m_pRefRecord[1 + refIndex] : 0;
            report.nClockMs = static_cast<int>(std::clamp<int64_t>(clock, INT_MIN, INT_MAX));
            report.bHit = m_bHit;
            report.bNear = m_bNear;
            report.bFar = m_bFar;
            report.bCountedHit = m_tally.nHits > hitsBefore;
            report.bCountedNear = m_tally.nNears > nearsBefore;
            report.nAppended = m_tally.nSung - sungBefore;
            report.nKeyOffset = m_tally.nKeyOffset;
            report.nFrames = std::min(m_nFrames, BufferReport::kMostFrames);
            for (int k = 0; k < report.nFrames; ++k)
                report.aHeard[k] = pitch[k] != 0 ? pitch[k] - m_tally.nKeyOffset : 0;
            m_view.OnBufferJudged(report);
        }
    }

    // The grade of the previous line goes once this line is half over.
    if (m_bGradeShown && (start + end) / 2 < time) {
        m_view.SetGradeText(" ");
        m_bGradeShown = false;
    }

    if (static_cast<double>(end) - 0.3 < time) {
        ScoreLine(line);
        // Lines shorter than a buffer: every one whose time has come is scored now.
        while (LinesLeft() && static_cast<double>(m_song->End(m_nLine)) - 0.3 < time)
            ScoreLine(m_nLine);
    }
}

bool CSingingEngine::LinesLeft() const {
    if (IsPractice()) return m_nLine == m_nPracticeLine;
    return m_nLine <= m_song->Points() - 2;
}

void CSingingEngine::CarryLinesDue(int64_t clockMs) {
    for (; m_nNextCarry <= m_song->Points() - 2; ++m_nNextCarry) {
        if (PracticeStartMs(*m_song, m_nNextCarry) >= clockMs) break;
        if (IsPractice()) continue;
        LineCarry carry;
        carry.nLine = m_nNextCarry;
        carry.tally = m_tally;
        carry.judge = m_judge->Clone();
        m_view.OnLineBegun(carry);
    }
}

void CSingingEngine::ClockedPath(const int16_t* samples, float time, int32_t clockMs) {
    const int64_t clock = clockMs != platform::kNoClockStamp
                              ? int64_t{clockMs}
                              : std::llround(static_cast<double>(time) * 1000.0);
    CarryLinesDue(clock);
    // Every line the singer has been heard past (after the delay) is scored before the buffer is
    // heard, however many ended since the last one.
    constexpr int kSlackMs = CStrictJudge::kTolerance * kReferenceStepMs;
    const int64_t moment = clock - m_nLatencyMs - kHalfBufferMs;  // at the buffer's centre
    auto heardPast = [&](int line) {
        return moment - kHalfBufferMs - m_judge->DelayMs() >=
               LineStartMs(m_song->End(line)) + kSlackMs;
    };
    while (LinesLeft() && heardPast(m_nLine)) ScoreLine(m_nLine);
    if (!LinesLeft()) return;

    // The buffer is the line's once its moment (after the delay) has reached the line, less the
    // slack a note is matched within; a practice takes it only where the song had finished the
    // line before.
    const int line = m_nLine;
    const float start = m_song->Start(line);
    const float end = m_song->End(line);
    m_lineSamples[static_cast<std::size_t>(line)] = TruncToInt((end - start) * 8000 * 2);
    const bool inLine = moment - m_judge->DelayMs() >= LineStartMs(start) - kSlackMs &&
                        (!IsPractice() || line == 0 || heardPast(line - 1));

    int16_t* work = m_work.data();
    int32_t* pitch = m_pitch.data();
    int taken = 0;
    for (int i = 0; i < kCaptureSamples; i += 2) work[taken++] = samples[i];
    if (inLine) m_view.OnLineAudio(line, work, taken);
    BandPassFilter(work, taken, kBandPass, 2, 70.0, 1000.0, 8000.0, kHammingWindow);
    m_nFrames = m_judge->TrackLine(work, taken, pitch);
    if (!inLine) ShowIdlePitch(pitch, m_nFrames);
    const int32_t offset = m_bHighOffset ? 120 : 80;
    int64_t sum = 0;
    for (int i = 0; i < m_nFrames; ++i) {
        if (pitch[i] != 0) pitch[i] += offset;
        sum += pitch[i];
    }
    if (inLine && sum != 0) ++m_nVoicedBuffers;

    const int refIndex = ReferenceIndex(clock, m_nLatencyMs, start);
    m_nRefIndex = refIndex;
    const int hitsBefore = m_tally.nHits, nearsBefore = m_tally.nNears;
    const int sungBefore = m_tally.nSung;
    const int count = m_pRefRecord[0];
    BufferInput in{m_pRefRecord + 1,      count, pitch, m_nFrames, m_nVoicedBuffers, refIndex,
                   m_view.DisplayHeight()};
    in.momentMs = moment;
    in.bInLine = inLine;
    const BufferVerdict verdict = m_judge->Compare(in, m_tally);
    if (inLine && m_nFrames != 0) {
        if (verdict.bMoveLineBar) MoveLineBar(m_nFrames, count);
        m_bHit = verdict.bHit;
        m_bNear = verdict.bNear;
        m_bFar = verdict.bFar;
        m_view.SetPitchMarker(verdict.y, m_bNear, m_bHit, m_bFar);
        BufferReport report;
        report.nLine = line;
        report.nRefIndex = refIndex;
        report.nRefValue = refIndex >= 0 && refIndex < count ? m_pRefRecord[1 + refIndex] : 0;
        report.nClockMs = static_cast<int>(std::clamp<int64_t>(clock, INT_MIN, INT_MAX));
        report.bHit = m_bHit;
        report.bNear = m_bNear;
        report.bFar = m_bFar;
        report.bCountedHit = m_tally.nHits > hitsBefore;
        report.bCountedNear = m_tally.nNears > nearsBefore;
        report.nAppended = m_tally.nSung - sungBefore;
        report.nKeyOffset = m_tally.nKeyOffset;
        report.nFrames = std::min(m_nFrames, BufferReport::kMostFrames);
        for (int k = 0; k < report.nFrames; ++k)
            report.aHeard[k] = pitch[k] != 0 ? pitch[k] - m_tally.nKeyOffset : 0;
        m_view.OnBufferJudged(report);
    }

    if (m_bGradeShown && (start + end) / 2 < time) {
        m_view.SetGradeText(" ");
        m_bGradeShown = false;
    }
    m_judge->ForgetBefore(LineStartMs(start) - 1000);
}

void CSingingEngine::ScoreLine(int line) {
    const int count = m_pRefRecord[0];
    LineReport report;
    report.nLine = line;
    report.fStart = m_song->Start(line);
    report.fEnd = m_song->End(line);
    report.nHits = m_tally.nHits;
    report.nNears = m_tally.nNears;
    report.nSung = m_tally.nSung;

    const LineJudgement judgement = m_judge->ScoreLine(
        {line, m_pRefRecord, LineStartMs(m_song->Start(line))}, m_tally, m_refScratch);
    const float score = judgement.fScore;
    report.nCut = judgement.nCut;
    report.bAligned = judgement.bAligned;
    report.fCost = judgement.fCost;
    report.fAlign = judgement.fAlign;

    m_tally.aKeyEstimates[0] = m_tally.aKeyEstimates[1] = m_tally.aKeyEstimates[2] = 0;
    m_view.SetGradeText(GradeWord(score));
    m_fLineScore = score;
    m_bGradeShown = true;
    m_tally.nKeyEstimates = 0;
    m_nLineRemainder = 0;
    m_fTotal += m_fLineScore;
    m_tally.nHits = 0;
    m_tally.nNears = 0;
    m_tally.nExpected = 0;
    m_view.SetLineBarPos(0);
    m_nBuffersUsed = 0;
    m_nVoicedBuffers = 0;
    m_tally.nSung = 0;
    m_pRefRecord += count + 1;
    ++m_nLine;

    report.fScore = m_fLineScore;
    report.nKeyOffset = m_tally.nKeyOffset;
    report.strGrade = GradeWord(m_fLineScore);
    m_view.OnLineScored(report);
    LineBegins();
}

CSingingEngine::Step CSingingEngine::EndOfSong() {
    m_bSongOver = true;
    if (m_bMedley && m_nMedleySong < 3) {
        m_nMedleyLines += m_nLine;
        ++m_nMedleySong;
        return Step::NextSong;
    }
    if (m_bMedley) {
        m_nMedleyLines += m_nLine;
        m_fTotal = m_fTotal / static_cast<float>(m_nMedleyLines);
    } else {
        m_fTotal = m_fTotal / static_cast<float>(m_song->Points() - 1);
    }
    char line[64];
    std::snprintf(line, sizeof line, "final score: %.1f\n", static_cast<double>(m_fTotal));
    platform::Trace(line);
    return Step::Finished;
}

void CSingingEngine::MoveLineBar(int frames, int count) {
    const int h = m_tally.nNears / 2 + m_tally.nHits;
    m_view.SetLineBarPos(TruncToInt(static_cast<double>(int64_t{h} * frames) / count * 100.0));
}

void CSingingEngine::CompareBuffer(const int32_t* ref, int count, const int32_t* pitch, int frames,
                                   int voiced, int refIndex) {
    m_nRefIndex = refIndex;
    const BufferInput in{ref, count, pitch, frames, voiced, refIndex, m_view.DisplayHeight()};
    const BufferVerdict verdict = m_judge->Compare(in, m_tally);
    if (verdict.bMoveLineBar) MoveLineBar(frames, count);
    m_bHit = verdict.bHit;
    m_bNear = verdict.bNear;
    m_bFar = verdict.bFar;
    m_view.SetPitchMarker(verdict.y, m_bNear, m_bHit, m_bFar);
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

}  // namespace engine
