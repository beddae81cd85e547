// What a session heard and decided, kept for the review after it: for each song its reference,
// its line reports, the record of every judged buffer, what each line took over from the song
// before it (for a practice of the line) and the singer's take of each line. Fed by the session's
// view as the engine reports; nothing is analysed a second time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/engineview.h"
#include "engine/judge.h"
#include "engine/linereview.h"
#include "engine/song.h"
#include "engine/songref.h"

namespace engine {

struct SongRecord {
    SongRef ref;
    std::shared_ptr<const CSong> song;
    std::vector<LineReport> lines;
    std::vector<BufferReport> buffers;
    std::vector<LineCarry> carries;           // by line, as each began
    std::vector<std::vector<int16_t>> takes;  // by line: its samples, 8000 per second
};

class CSessionRecord {
public:
    // The takes of a session keep at most this many samples in all (30 minutes); a line past it
    // keeps none.
    static constexpr std::size_t kMostTakeSamples = std::size_t{30} * 60 * 8000;

    // A new session: nothing recorded.
    void Clear();
    void SongLoaded(const SongRef& ref, std::shared_ptr<const CSong> song);
    void LineBegun(const LineCarry& carry);
    void LineAudio(int line, const int16_t* samples, int count);
    void BufferJudged(const BufferReport& report);
    void LineScored(const LineReport& report);

    const std::vector<SongRecord>& Songs() const { return m_songs; }
    // The reviews of a song's lines (BuildLineReviews).
    std::vector<LineReview> Reviews(std::size_t song) const;
    // The take of a line (empty when none was kept), and the carry it began with (null when the
    // song did not reach it).
    const std::vector<int16_t>& Take(std::size_t song, int line) const;
    const LineCarry* Carry(std::size_t song, int line) const;

private:
    std::vector<SongRecord> m_songs;
    std::size_t m_nTakeSamples = 0;
};

}  // namespace engine
