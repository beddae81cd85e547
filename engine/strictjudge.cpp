#include "engine/strictjudge.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/pitchcompare.h"
#include "engine/pitchtracker.h"
#include "engine/precisepitchtracker.h"

namespace engine {
namespace {

constexpr int kOctave = 120;           // tenths of a semitone
constexpr int kMinVoiced = 3;          // voiced frames that make a buffer sung
constexpr int kMostFrames = 64;        // frames of a buffer looked at
constexpr float kPrior = 4.0f;         // votes the song starts with for no key and no delay
constexpr float kSwitchRatio = 1.2f;   // a better key and delay must have this many times the votes
constexpr float kSwitchMargin = 8.0f;  // and this many more
constexpr float kAgreement = 0.6f;     // and agree with this share of the frames sung on notes
constexpr double kNoteFull = 0.75;     // the share of a note sung on pitch that counts in full
constexpr int kNotePad = 1;            // reference values either side of a note its frames cover
constexpr int kEdge = 2;               // reference values at a note's ends its pitch is not read in
constexpr int kBriefNote = 10;         // reference values: a note shorter than this is brief
constexpr int kHalfBufferMs = 60;      // half a 0.12 s capture buffer

// x folded into [−60, 60): the same pitch class, in the octave nearest 0.
int32_t FoldOctave(int64_t x) {
    const int64_t r = ((x + kOctave / 2) % kOctave + kOctave) % kOctave;
    return static_cast<int32_t>(r - kOctave / 2);
}

// Milliseconds from a buffer's centre to frame k's centre (frames of 256, hop 128 at 11025 Hz; the
// buffer is 0.12 s long).
int FrameShiftMs(int k) {
    return static_cast<int>(std::lround((128.0 * k + 128.0) * 1000.0 / kTrackerRate)) -
           kHalfBufferMs;
}

// The middle of a note's sung distances (the upper one of an even count).
int32_t Middle(std::vector<int32_t>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

CStrictJudge::CStrictJudge(const StrictLimits& limits) : m_limits(limits) { BeginSong(nullptr); }

int CStrictJudge::TrackLine(const int16_t* samples, int count, int32_t* pitch) const {
    return TrackPitchPrecise(samples, count, 8000, 256, 128, pitch);
}

std::unique_ptr<CJudge> CStrictJudge::Clone() const {
    auto copy = std::make_unique<CStrictJudge>(m_limits);
    copy->m_song = m_song;
    copy->m_lines = m_lines;
    copy->m_votes = m_votes;
    copy->m_fVoiced = m_fVoiced;
    copy->m_nDelay = m_nDelay;
    copy->m_nKey = m_nKey;
    return copy;
}

void CStrictJudge::BeginSong(const std::shared_ptr<const CSong>& song) {
    for (auto& row : m_votes) row.fill(0.0f);
    Votes(0, 0) = kPrior;
    m_fVoiced = 0.0f;
    m_nDelay = 0;
    m_nKey = 0;
    m_heard.clear();
    m_heard.reserve(4096);
    m_nHint = 0;
    m_song = song;
    auto lines = std::make_shared<std::vector<SongLine>>();
    if (m_song) {
        const int32_t* record = m_song->Records();
        for (int line = 0; line + 1 < m_song->Points(); ++line) {
            lines->push_back(
                {LineStartMs(m_song->Start(line)), std::max(record[0], 0), record + 1});
            record += std::max(record[0], 0) + 1;
        }
    }
    m_lines = std::move(lines);
}

void CStrictJudge::ForgetBefore(int64_t ms) {
    if (m_heard.empty() || m_heard.front().ms >= ms) return;
    m_heard.erase(std::remove_if(m_heard.begin(), m_heard.end(),
                                 [ms](const Frame& frame) { return frame.ms < ms; }),
                  m_heard.end());
}

int32_t CStrictJudge::ValueAt(int64_t ms) {
    const std::vector<SongLine>& lines = *m_lines;
    if (lines.empty()) return 0;
    auto inside = [&](std::size_t i) {
        const SongLine& line = lines[i];
        return ms >= line.startMs && ms < line.startMs + int64_t{kStepMs} * line.count;
    };
    if (!inside(m_nHint)) {
        // The last line that starts at or before the moment.
        const auto after =
            std::upper_bound(lines.begin(), lines.end(), ms,
                             [](int64_t t, const SongLine& line) { return t < line.startMs; });
        if (after == lines.begin()) return 0;
        const auto i = static_cast<std::size_t>(after - lines.begin()) - 1;
        if (!inside(i)) return 0;
        m_nHint = i;
    }
    const SongLine& line = lines[m_nHint];
    return line.values[(ms - line.startMs) / kStepMs];
}

float& CStrictJudge::Votes(int delay, int key) {
    const int row = delay + kMaxDelay, column = (key % 12 + 12) % 12;
    return m_votes[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void CStrictJudge::Vote(const Frame* frames, int count) {
    for (int k = 0; k < count; ++k) {
        if (frames[k].value == 0) continue;
        bool voted = false;
        for (int delay = -kMaxDelay; delay <= kMaxDelay; ++delay) {
            const int32_t value = ValueAt(frames[k].ms - int64_t{kStepMs} * delay);
            if (value == 0) continue;
            voted = true;
            const int64_t semitones = FloorDiv(int64_t{frames[k].value} - value + 5, 10);
            Votes(delay, static_cast<int>(semitones % 12)) += 1.0f;
        }
        m_fVoiced += voted ? 1.0f : 0.0f;
    }
}

void CStrictJudge::Decide() {
    // The most voted pair; among equals, the smaller delay and key (0, 1, −1, 2, −2, …). The pair
    // in use gives way only to a clearly better one, so the key does not wander with each note.
    auto nth = [](int n) { return n % 2 == 1 ? (n + 1) / 2 : -(n / 2); };
    float best = -1.0f;
    int bestDelay = 0, bestKey = 0;
    for (int d = 0; d <= 2 * kMaxDelay; ++d) {
        for (int c = 0; c < 12; ++c) {
            const float v = Votes(nth(d), nth(c));
            if (v > best) {
                best = v;
                bestDelay = nth(d);
                bestKey = nth(c);  // −5..6
            }
        }
    }
    // A pair is believed only while it explains at least 60 % of what was sung where the music
    // has notes: another tune that matches the melody here and there teaches nothing, and the
    // song is then judged as written.
    const float enough = kAgreement * m_fVoiced;
    if (best > Votes(m_nDelay, m_nKey) * kSwitchRatio + kSwitchMargin && best >= enough) {
        m_nDelay = bestDelay;
        m_nKey = bestKey;
    } else if ((m_nDelay != 0 || m_nKey != 0) && Votes(m_nDelay, m_nKey) < enough) {
        m_nDelay = 0;
        m_nKey = 0;
    }
}

bool CStrictJudge::Nearest(int64_t ms, int64_t sung, int32_t& value, int32_t& distance) {
    bool found = false;
    // Nearest in time first (0, −1, 1, −2, 2, …), so that among equal distances the note playing
    // at the moment wins.
    for (int n = 0; n <= 2 * kTolerance; ++n) {
        const int step = n % 2 == 1 ? -(n + 1) / 2 : n / 2;
        const int32_t v = ValueAt(ms + int64_t{kStepMs} * step);
        if (v == 0) continue;
        const int32_t d = FoldOctave(sung - v);
        if (!found || std::abs(d) < std::abs(distance)) {
            found = true;
            value = v;
            distance = d;
        }
    }
    return found;
}

double CStrictJudge::FrameCredit(int32_t distance) const {
    const int32_t off = std::abs(distance);
    if (off < m_limits.nHitBelow) return 1.0;
    return off <= m_limits.nNearUpTo ? 0.5 : 0.0;
}

double CStrictJudge::StepCredit(int32_t step, int32_t error, bool brief) const {
    const int32_t off = std::abs(error);
    if (off < m_limits.nHitBelow || (brief && off <= m_limits.nNearUpTo)) return 1.0;
    // Near: the voice moved the way the melody does, by at least half a semitone.
    const int64_t sung = int64_t{step} + error;
    const bool sameWay = (step > 0 && sung >= 5) || (step < 0 && sung <= -5);
    return off <= m_limits.nNearUpTo && sameWay ? 0.5 : 0.0;
}

BufferVerdict CStrictJudge::Compare(const BufferInput& in, LineTally& tally) {
    BufferVerdict verdict;
    verdict.y = in.height / 2;
    verdict.bFar = true;

    Frame frames[kMostFrames];
    const int count = std::min(in.frames, kMostFrames);
    int32_t sorted[kMostFrames];
    int voiced = 0;
    for (int k = 0; k < count; ++k) {
        frames[k] = {in.momentMs + FrameShiftMs(k), in.pitch[k]};
        m_heard.push_back(frames[k]);
        if (in.pitch[k] != 0) sorted[voiced++] = in.pitch[k];
    }
    if (voiced >= kMinVoiced) {
        Vote(frames, count);
        Decide();
    }
    tally.nKeyOffset = 10 * m_nKey;
    if (!in.bInLine) return verdict;

    // What the marker shows: the buffer's middle value against the music at its centre.
    const int64_t centre = in.momentMs - DelayMs();
    const int32_t asked = ValueAt(centre);
    if (voiced < kMinVoiced) {
        // Silence where the music asks for a voice is a miss.
        if (asked != 0) {
            ++tally.nExpected;
            verdict.y = DisplayY(asked, in.height);
        }
        tally.bPrevVoiced = false;
        return verdict;
    }
    std::nth_element(sorted, sorted + voiced / 2, sorted + voiced);
    const int64_t sung = int64_t{sorted[voiced / 2]} - tally.nKeyOffset;
    int32_t home = 0, distance = 0;
    if (Nearest(centre, sung, home, distance)) {
        ++tally.nExpected;
        const double credit = FrameCredit(distance);
        if (credit == 1.0) {
            ++tally.nHits;
            verdict.bHit = true;
            verdict.bFar = false;
        } else if (credit > 0.0) {
            ++tally.nNears;
            verdict.bNear = true;
            verdict.bFar = false;
        }
        verdict.y = DisplayY(home + distance, in.height);
    } else {
        home = static_cast<int32_t>(sung);
        verdict.y = DisplayY(home, in.height);
    }
    // What was sung, after the key, in the octave of the music it is compared with.
    for (int k = 0; k < in.frames; ++k) {
        const int64_t value = int64_t{in.pitch[k]} - tally.nKeyOffset;
        tally.Append(in.pitch[k] == 0 ? 0 : home + FoldOctave(value - home), 1);
    }
    tally.bPrevVoiced = true;
    verdict.bMoveLineBar = true;
    return verdict;
}

void CStrictJudge::TallyNotes(const LineToScore& line, int count) {
    // The line's notes: runs of one value, parted where the song's file starts a note.
    m_notes.clear();
    const int32_t* ref = line.record + 1;
    m_starts.assign(static_cast<std::size_t>(count) + 1, 0);
    if (m_song && m_song->Info().bOwnLyrics && line.line >= 0 &&
        static_cast<std::size_t>(line.line) < m_song->Info().lyrics.size()) {
        for (const SongLyric& lyric : m_song->Info().lyrics[static_cast<std::size_t>(line.line)])
            if (lyric.nIndex >= 0 && lyric.nIndex < count)
                m_starts[static_cast<std::size_t>(lyric.nIndex)] = 1;
    }
    for (int i = 0; i < count;) {
        int j = i + 1;
        while (j < count && ref[j] == ref[i] && !m_starts[static_cast<std::size_t>(j)]) ++j;
        if (ref[i] != 0) {
            NoteTally note;
            note.from = i;
            note.to = j;
            note.value = ref[i];
            m_notes.push_back(std::move(note));
        }
        i = j;
    }
    if (m_notes.empty()) return;

    // Every frame heard on a note (or within kNotePad values of it) counts for it.
    const int64_t delay = DelayMs();
    for (const Frame& frame : m_heard) {
        const int64_t moment = frame.ms - delay;
        const int64_t j = FloorDiv(moment - line.startMs, kStepMs);
        if (j < -kNotePad || j >= count + kNotePad) continue;
        auto after = std::upper_bound(m_notes.begin(), m_notes.end(), j,
                                      [](int64_t at, const NoteTally& n) { return at < n.from; });
        double credit = 0.0;
        if (frame.value != 0) {
            int32_t value = 0, distance = 0;
            if (Nearest(moment, int64_t{frame.value} - int64_t{10} * m_nKey, value, distance))
                credit = FrameCredit(distance);
        }
        const bool hit = credit == 1.0, near = credit > 0.0 && !hit;
        // The note it falls in or after, and the next one when it lies just before it.
        for (auto note = after == m_notes.begin() ? after : after - 1;
             note != m_notes.end() && note <= after; ++note) {
            if (j < note->from - kNotePad || j >= note->to + kNotePad) continue;
            ++note->frames;
            note->hits += hit;
            note->nears += near;
            // Its pitch, from the frames clear of the glide into it and out of it; on a brief
            // note, from its second half, where the voice has left the note before.
            const bool core = note->to - note->from >= kBriefNote
                                  ? j >= note->from + kEdge && j < note->to - kEdge
                                  : j >= (note->from + note->to) / 2 && j < note->to;
            if (frame.value != 0 && core)
                note->offsets.push_back(
                    FoldOctave(int64_t{frame.value} - int64_t{10} * m_nKey - note->value));
        }
    }
}

double CStrictJudge::StepsFollowed() const {
    // The notes whose pitch was heard, in order: a note not heard is a note missed, not a step.
    std::vector<const NoteTally*>& heard = m_read;
    heard.clear();
    for (const NoteTally& note : m_notes)
        if (!note.offsets.empty()) heard.push_back(&note);
    bool moves = false;
    for (std::size_t n = 1; n < heard.size(); ++n) moves |= heard[n]->value != heard[n - 1]->value;
    // In a line that moves, a repeated note sung as a repeated note is neither a step followed
    // nor one missed; sung as a step, it is a step missed.
    double steps = 0.0, followed = 0.0;
    for (std::size_t n = 1; n < heard.size(); ++n) {
        const int32_t step = heard[n]->value - heard[n - 1]->value;
        std::vector<int32_t>& a = m_middle[0];
        std::vector<int32_t>& b = m_middle[1];
        a = heard[n - 1]->offsets;
        b = heard[n]->offsets;
        // The pitch of a short note is read less surely: its steps are judged at the near limit.
        const bool brief = heard[n - 1]->to - heard[n - 1]->from < kBriefNote ||
                           heard[n]->to - heard[n]->from < kBriefNote;
        const double credit = StepCredit(step, FoldOctave(int64_t{Middle(b)} - Middle(a)), brief);
        if (step != 0 || !moves || credit < 1.0) {
            steps += 1.0;
            followed += credit;
        }
    }
    return steps > 0.0 ? followed / steps : -1.0;
}

LineJudgement CStrictJudge::ScoreLine(const LineToScore& line, LineTally& /*tally*/,
                                      std::vector<int32_t>& /*scratch*/) {
    LineJudgement judgement;
    const int count = std::max(line.record[0], 0);
    TallyNotes(line, count);

    double weight = 0.0, onPitch = 0.0, read = 0.0;
    for (const NoteTally& note : m_notes) {
        if (note.frames == 0) continue;
        if (!note.offsets.empty()) read += note.to - note.from;
        // Three quarters of a note sung on it count in full; a note sung near it counts half.
        const double full = kNoteFull * note.frames;
        const double share = std::max(std::min(1.0, note.hits / full),
                                      0.5 * std::min(1.0, (note.hits + note.nears) / full));
        onPitch += share * (note.to - note.from);
        weight += note.to - note.from;
    }
    if (weight <= 0.0) return judgement;
    onPitch /= weight;

    // The steps between the notes heard, as far as the line was heard.
    const double steps = StepsFollowed();
    double movement = onPitch;  // a line of one note: its pitch is all there is to follow
    if (steps >= 0.0)
        movement =
            read / weight *
            std::clamp((steps - m_limits.fStepsNone) / (m_limits.fStepsFull - m_limits.fStepsNone),
                       0.0, 1.0);
    judgement.bAligned = true;
    judgement.fAlign = static_cast<float>(std::trunc(100.0 * movement));
    judgement.fScore = static_cast<float>(std::min(100.0, 50.0 * onPitch + 50.0 * movement));
    return judgement;
}

}  // namespace engine
