// The singing evaluation engine: the reference data of the song being sung, the per-session
// working arrays, and the routines that judge the singing. It owns no window; what it shows goes
// through a CEngineView. Everything runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engineview.h"
#include "engine/linescore.h"

namespace engine {

inline constexpr int kPitchCapacity = 3840;  // values of m_pPitch
inline constexpr int32_t kMaxReferencePitch = 100000;  // largest magnitude of a reference value

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

    // The folder that holds "歌曲" ("" is the working directory).
    void SetLibraryFolder(const std::string& folder) { m_strLibrary = folder; }
    // The song folder LoadReference reads, as messages name it.
    std::string SongFolder(const std::string& song) const;

    // The file and problem of the last failed load, for tools that list problems.
    const std::string& LoadProblemFile() const { return m_strProblemFile; }
    const std::string& LoadProblem() const { return m_strProblem; }

    int m_bMedley = 0;  // songs come from the medley folder

    // The song's reference data, valid between a successful LoadReference and FreeReference.
    int m_nPoints = 0;                  // N; lines 0 to N − 2
    float* m_pStartTimes = nullptr;     // [N] start time of each line, seconds
    float* m_pEndTimes = nullptr;       // [N] end time of each line, seconds
    int* m_pLineSamples = nullptr;      // [N] samples taken in each line, filled while singing
    int* m_pLineCounts = nullptr;       // [N] value count M of each line record
    int32_t* m_pReference = nullptr;    // [S + N] the line records back to back: M, M values, …
    int32_t* m_pRefRecord = nullptr;    // the record of the line being sung
    int32_t* m_pPitch = nullptr;        // [kPitchCapacity] pitch values of one buffer
    int32_t* m_pSung = nullptr;         // [kSungCapacity] the line's sung sequence

private:
    // Release everything, remember the problem and show it; both return false.
    bool Fail(const std::string& file, const std::string& problem);
    bool FailLineFile(const std::string& file, const std::string& problem);  // "模板数据为空…"
    bool FailMemory();
    void ReleaseAll();

    CEngineView& m_view;
    std::string m_strLibrary;
    std::string m_strProblemFile;
    std::string m_strProblem;
};

}  // namespace engine
