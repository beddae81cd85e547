#include "engine/linereview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/pitchtracker.h"

namespace engine {
namespace {

constexpr double kValueSeconds = 0.015;

Verdict VerdictOf(const BufferReport& buffer) {
    if (buffer.bCountedHit) return Verdict::Hit;
    if (buffer.bCountedNear) return Verdict::Near;
    if (buffer.bFar && buffer.nAppended > 0) return Verdict::Miss;
    return buffer.bHit ? Verdict::Hit : buffer.bNear ? Verdict::Near : Verdict::Neutral;
}

// Seconds from a buffer's centre to frame k's centre (frames of 256, hop 128 at 11025 Hz; a
// buffer lasts 0.12 s).
double FrameOffset(int k) { return (128.0 * k + 128.0) / kTrackerRate - 0.06; }

// The review of one line from its record (M, then M values), its report (null when it was not
// scored) and its judged buffers.
LineReview ReviewLine(const CSong& song, int line, const int32_t* record, const LineReport* report,
                      const BufferReport* first, const BufferReport* last) {
    const int count = record[0];
    LineReview review;
    review.nLine = line;
    review.duration = count * kValueSeconds;
    if (report) review.report = *report;
    const std::vector<SongLyric>* lyrics =
        static_cast<std::size_t>(line) < song.Info().lyrics.size()
            ? &song.Info().lyrics[static_cast<std::size_t>(line)]
            : nullptr;
    for (int i = 0; i < count;) {
        int j = i;
        while (j < count && record[1 + j] == record[1 + i]) ++j;
        if (record[1 + i] != 0) {
            ReviewNote note{i * kValueSeconds, j * kValueSeconds, record[1 + i], {}};
            if (lyrics)
                for (const SongLyric& lyric : *lyrics)
                    if (lyric.nIndex >= i && lyric.nIndex < j) note.strLyric += lyric.strText;
            review.notes.push_back(std::move(note));
        }
        i = j;
    }
    int sung = 0, inTune = 0;
    bool judged = false;
    for (const BufferReport* buffer = first; buffer != last; ++buffer) {
        if (buffer->nLine != line) continue;
        const Verdict verdict = VerdictOf(*buffer);
        const double centre = buffer->nRefIndex * kValueSeconds;
        const double from = std::clamp(centre - 0.06, 0.0, review.duration);
        const double to = std::clamp(centre + 0.06, 0.0, review.duration);
        review.judgedFrom = judged ? std::min(review.judgedFrom, from) : from;
        review.judgedTo = judged ? std::max(review.judgedTo, to) : to;
        judged = true;
        bool voiced = false;
        for (int k = 0; k < buffer->nFrames; ++k) {
            if (buffer->aHeard[k] == 0) continue;
            review.heard.push_back({centre + FrameOffset(k), buffer->aHeard[k], verdict});
            voiced = true;
        }
        if (voiced) {
            ++sung;
            inTune += verdict == Verdict::Hit;
        }
    }
    review.inTune = sung > 0 ? static_cast<double>(inTune) / sung : 0.0;
    review.nSungBuffers = sung;
    review.nInTuneBuffers = inTune;
    return review;
}

}  // namespace

std::vector<LineReview> BuildLineReviews(const CSong& song, const std::vector<LineReport>& lines,
                                         const std::vector<BufferReport>& buffers) {
    std::vector<LineReview> reviews;
    const int32_t* record = song.Records();
    std::size_t next = 0;  // the first buffer not yet placed
    for (int line = 0; line < song.Points() - 1; ++line) {
        const bool scored = static_cast<std::size_t>(line) < lines.size();
        std::size_t end = next;
        while (end < buffers.size() && buffers[end].nLine <= line) ++end;
        reviews.push_back(ReviewLine(song, line, record,
                                     scored ? &lines[static_cast<std::size_t>(line)] : nullptr,
                                     buffers.data() + next, buffers.data() + end));
        next = end;
        record += record[0] + 1;
        if (!scored) break;
    }
    return reviews;
}

LineReview BuildLineReview(const CSong& song, int line, const LineReport* report,
                           const std::vector<BufferReport>& buffers) {
    if (line < 0 || line > song.Points() - 2) return {};
    const int32_t* record = song.Records();
    for (int skipped = 0; skipped < line; ++skipped) record += record[0] + 1;
    return ReviewLine(song, line, record, report, buffers.data(), buffers.data() + buffers.size());
}

std::string KeyOffsetWords(int keyOffset) {
    const int halves = static_cast<int>(std::lround(std::abs(keyOffset) / 5.0));  // half semitones
    if (halves == 0) return "你唱的是原调";
    char amount[32];
    if (halves % 2 == 0)
        std::snprintf(amount, sizeof amount, "%d", halves / 2);
    else
        std::snprintf(amount, sizeof amount, "%.1f", halves / 2.0);
    return std::string(keyOffset > 0 ? "你比原调高了 " : "你比原调低了 ") + amount + " 个半音";
}

std::string NoteName(int32_t value, int roleOffset) {
    static const char* const kNames[12] = {"C",  "C♯", "D",  "D♯", "E",  "F",
                                           "F♯", "G",  "G♯", "A",  "A♯", "B"};
    const long midi = std::lround((static_cast<double>(value) - roleOffset) / 10.0);
    const long pitchClass = ((midi % 12) + 12) % 12;
    const long octave = (midi - pitchClass) / 12 - 1;
    return kNames[pitchClass] + std::to_string(octave);
}

}  // namespace engine
