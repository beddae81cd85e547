// The check of each listed song's music, after a scan and on the library's worker: the song is
// read whole, its music file opened as the player opens it (platform::ProbeMusic), and a song
// whose music is missing, unreadable, of an unknown format or shorter than its last line gets
// that as its problem ("file: problem"), as `quorvel-score check` says it.
//
// What a look found is kept (CSongCache::MusicRecords) while the song's file and its music keep
// their sizes and modification times, so a song is looked at once. A first pass takes only what
// was kept (a few file times each), so the list shows at once; the second looks at the rest. A
// length that takes longer than a moment to count (a FLAC without its length) is judged by the
// container's estimate, within engine::kEstimateSlackMs.
#pragma once

#include <functional>
#include <vector>

#include "library/songcache.h"
#include "library/songentry.h"

namespace library {

class CMusicCheck {
public:
    // previous: what earlier checks found. cancelled: polled between songs.
    explicit CMusicCheck(const CSongCache& previous, std::function<bool()> cancelled = {})
        : m_previous(previous), m_cancelled(std::move(cancelled)) {}

    enum class Pass { Kept, All };
    // Marks the entries (those without a problem of their own) whose music cannot be sung and
    // gives them their music's length; the records of the songs looked at go into music. False when
    // cancelled before the end.
    bool Check(std::vector<SongEntry>& entries, Pass pass, CSongCache::Music& music);

private:
    const CSongCache& m_previous;
    std::function<bool()> m_cancelled;
};

}  // namespace library
