// The reference data of one song, read from its folder and never changed afterwards: the start
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

class CSong {
public:
    // Reads the song in folder ("…/歌曲/单曲/<song>"): the point count N from "断点", N start and
    // N end times (seconds) from "qidian" and "endpoint", and the records of lines 0 to N − 2
    // from the files "1" to "N−1", each a count M followed by M pitch values. Everything is
    // checked before anything is kept. On failure *problem says why and the result is null.
    static std::shared_ptr<const CSong> Load(const std::string& folder, Problem* problem);

    // A song made in memory (for tests and tools): records[k] holds the values of line k.
    CSong(std::vector<float> starts, std::vector<float> ends,
          const std::vector<std::vector<int32_t>>& records);

    int Points() const { return static_cast<int>(m_starts.size()); }  // N; lines 0 to N − 2
    float Start(int line) const { return m_starts[static_cast<std::size_t>(line)]; }
    float End(int line) const { return m_ends[static_cast<std::size_t>(line)]; }
    // The value count M of a line's record.
    int Count(int line) const { return m_counts[static_cast<std::size_t>(line)]; }
    // The line records back to back, M, M values, …, then one 0 cell for the unused last point.
    const int32_t* Records() const { return m_records.data(); }
    std::size_t RecordCells() const { return m_records.size(); }

private:
    std::vector<float> m_starts;
    std::vector<float> m_ends;
    std::vector<int> m_counts;       // [N] (the last point's is 0)
    std::vector<int32_t> m_records;  // [S + N]
};

}  // namespace engine
