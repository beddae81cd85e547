// The reference data of one song, loaded once and never changed afterwards: the start
// and end time of every lyric line and the line records of pitch values. The engine, the session
// and the display share one loaded song through a std::shared_ptr<const CSong>, so whoever still
// shows a song keeps it alive after the engine has let it go.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/problem.h"

namespace engine {

inline constexpr int32_t kMaxReferencePitch = 100000;  // largest magnitude of a reference value

// A lyric unit a song file gives with its note: the text (UTF-8) drawn under the value with index
// nIndex of its line.
struct SongLyric {
    int nIndex = 0;
    std::string strText;

    bool operator==(const SongLyric&) const = default;
};

// What a song is besides its reference data: its names, its accompaniment and, for songs whose
// file gives every note its syllable, the lyric units of each line. (A native song's lyric is its
// "Lyric" file, which the display reads by its own rule.)
struct SongInfo {
    std::string strTitle;
    std::string strArtist;
    std::string strFile;      // the song's own file (an UltraStar text; "" for a native song)
    std::string strAudio;     // the accompaniment's file
    int nAudioStartMs = 0;    // where the song's clock starts in that file
    int nAudioEndMs = -1;     // where its music ends (-1: the file's end)
    int nFadeMs = 0;          // the music fades in and out over this long
    bool bOwnLyrics = false;  // the lyric units below are the song's lyric
    std::vector<std::vector<SongLyric>> lyrics;  // [line], in the order of their notes
    int nParts = 1;                              // the parts a duet gives its singers
    std::vector<std::string> remarks;            // what a check of the song should mention
    // Where a preview of the song plays from in the accompaniment's file (-1: not given).
    int nPreviewStartMs = -1;
};

class CSong {
public:
    // Reads the song in folder ("…/歌曲/单曲/<song>"): the point count N from "断点", N start and
    // N end times (seconds) from "qidian" and "endpoint", and the records of lines 0 to N − 2
    // from the files "1" to "N−1", each a count M followed by M pitch values. Everything is
    // checked before anything is kept. On failure *problem says why and the result is null.
    static std::shared_ptr<const CSong> Load(const std::string& folder, Problem* problem);

    // A song made in memory (by the other loaders, tests and tools): records[k] holds the values
    // of line k.
    CSong(std::vector<float> starts, std::vector<float> ends,
          const std::vector<std::vector<int32_t>>& records, SongInfo info = {});

    int Points() const { return static_cast<int>(m_starts.size()); }  // N; lines 0 to N − 2
    float Start(int line) const { return m_starts[static_cast<std::size_t>(line)]; }
    float End(int line) const { return m_ends[static_cast<std::size_t>(line)]; }
    // The value count M of a line's record.
    int Count(int line) const { return m_counts[static_cast<std::size_t>(line)]; }
    // The line records back to back, M, M values, …, then one 0 cell for the unused last point.
    const int32_t* Records() const { return m_records.data(); }
    std::size_t RecordCells() const { return m_records.size(); }
    const SongInfo& Info() const { return m_info; }

private:
    std::vector<float> m_starts;
    std::vector<float> m_ends;
    std::vector<int> m_counts;       // [N] (the last point's is 0)
    std::vector<int32_t> m_records;  // [S + N]
    SongInfo m_info;
};

}  // namespace engine
