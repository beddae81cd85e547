// The bookkeeping of the pitch display, without any drawing: which line is fed in at the right
// edge, which reference value comes next, how many values have been fed, which line passes under
// the marker, which lyric unit belongs to the next note, and the marker's height and colour.
// CHistogramCtrl runs a tick every 15 ms and draws what Tick returns; the headless scorer steps
// the same object on a virtual clock.
//
// SetPlaybackTime may be called from the playback poller's thread; everything else belongs to the
// thread that runs the ticks.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace engine {

// The pen the marker is drawn with; with no flag set it is the 6-px pen of the reference dots.
enum class MarkerPen { Reference, Near, Hit, Far };

// What one tick puts on the display, after the surface has been scrolled 3 px to the left.
struct HistogramTick {
    bool bDot = false;  // a reference dot (a point of the 6-px reference pen)
    int nDotValue = 0;  // the reference value it shows
    int nDotX = 0;      // width − 50
    int nDotY = 0;      // DisplayY(nDotValue, height)

    bool bLyric = false;   // a lyric unit; never set for an empty unit
    std::string strLyric;  // its bytes, code page 936
    int nLyricX = 0;       // top-left corner of the text
    int nLyricY = 0;

    int nMarkerY = 0;  // the tip of the chevron, at x = 50
    MarkerPen pen = MarkerPen::Reference;

    bool bStrip = false;  // the left strip and the bar
};

class CHistogramModel {
public:
    // A display of width × height pixels (the main dialog's is 800 × 110).
    CHistogramModel(int width, int height);
    CHistogramModel(const CHistogramModel&) = delete;
    CHistogramModel& operator=(const CHistogramModel&) = delete;

    // The song being sung: its line records back to back (count n, then n values, for lines 0 to
    // N − 2), the start and end time of every point, and the point count N. Nothing is copied;
    // the data must outlive the song. With N < 2, or with any pointer null, there is no line:
    // no dot is drawn and nothing is read.
    void SetReferenceData(const int32_t* blocks, const float* starts, const float* ends,
                          int points);
    // Frames of every line, one entry per point (the engine's m_pLineCounts). Without them the
    // count at the head of the marker line's block is used.
    void SetLineCounts(const int* counts) { m_pLineCounts = counts; }

    // Starts the display over for a song: the feed at line 0, value 1, the marker far at y 80, the
    // lyric from its first byte. The line records, the zero run and the position from which the
    // next word's space is searched stay as they are (LoadLyrics clears that one).
    void Restart();

    void SetPlaybackTime(float seconds) { m_fTime.store(seconds, std::memory_order_relaxed); }
    void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag);

    // Loads the Lyric file of a song folder below the library folder ("歌曲/单曲/<song>/Lyric", or
    // "歌曲/串烧歌曲/<song>/Lyric" for a medley song) as one code page 936 string without line
    // breaks. An empty song name only shows a message. A file that cannot be read or is not text
    // shows a message naming it and leaves the lyric empty. Returns true when the file was read,
    // even when it held no text.
    bool LoadLyrics(const std::string& song, bool medley);
    // The folder that holds "歌曲" ("" is the working directory).
    void SetLibraryFolder(const std::string& folder) { m_strLibrary = folder; }

    // One 15 ms step of the display.
    HistogramTick Tick();

    int FramesFed() const { return m_nFed; }
    float LeadTicks() const { return m_fLeadTicks; }
    float LeadSeconds() const { return m_fLeadSeconds; }
    int FeedLine() const { return m_nFeedLine; }
    int MarkerLine() const { return m_nMarkerLine; }
    const std::string& Lyric() const { return m_strLyric; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    bool HasLines() const;
    int BlockCount() const;           // count of the current block, 0 without lines
    int BlockValue(int index) const;  // m_pBlock[index], 0 past the count or without lines
    int MarkerLineFrames() const;
    std::string NextLyricUnit(int r);  // the next unit, moving the lyric positions on

    const int m_nWidth;
    const int m_nHeight;
    std::string m_strLibrary;

    const int32_t* m_pBlocks = nullptr;  // first line record, as given
    const int32_t* m_pBlock = nullptr;   // the record of the line being fed
    int m_nBlockLine = 0;                // the line m_pBlock belongs to
    const float* m_pStarts = nullptr;
    const float* m_pEnds = nullptr;
    const int* m_pLineCounts = nullptr;
    int m_nStartCount = 0;  // N

    int m_nFeedLine = 0;
    int m_nIndex = 0;  // 1-based index of the next value in m_pBlock
    int m_nFed = 0;
    int m_nMarkerLine = 0;
    float m_fLeadTicks = 0.0f;
    float m_fLeadSeconds = 0.0f;
    std::atomic<float> m_fTime{0.0f};

    int m_nMarkerY = 0;
    int m_bNear = 0;
    int m_bHit = 0;
    int m_bFar = 1;

    std::string m_strLyric;  // code page 936, CR and LF removed
    int m_nCharPos = 0;
    int m_nWordSearch = 0;
    int m_nZeroRun = 0;
    int m_nPrevNoteEnd = 0;
    int m_bStripOn = 0;
};

}  // namespace engine
