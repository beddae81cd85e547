// The bookkeeping of the pitch display, without any drawing. The display runs on the song's
// playback clock: value j (from 0) of line k belongs to the song time
// lround(start[k] × 1000) + 15 j ms, and at playback time `now` its dot lies at
// x = 50 + 3 (time − now) / 15 px, so it reaches the marker tip (x = 50) when the music plays it.
//
// The picture moves 3 px for every 15 ms step of the clock. Advance is given the clock (about
// every 15 ms, but any interval works: after a late call the picture catches up in one move) and
// says what to draw: how far the picture moves, the dots that came into view at the feed edge
// (x = width − 50, 5 (width − 100) ms ahead of the clock), the lyric units of the notes entering,
// the marker and the strip. CHistogramCtrl draws it; the headless scorer steps the same object on
// a virtual clock. Everything belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/song.h"
#include "engine/songref.h"

namespace engine {

// The pen the marker is drawn with; with no flag set it is the 6-px pen of the reference dots.
enum class MarkerPen { Reference, Near, Hit, Far };

// A reference dot: a point of the 6-px reference pen centred on (nX, nY).
struct HistogramDot {
    int nLine = 0;   // the line it belongs to
    int nIndex = 0;  // its value's index in the line, from 0
    int nValue = 0;
    int nX = 0;  // 50 + floor((time − 15 floor(now / 15)) / 5)
    int nY = 0;  // DisplayY(nValue, height)
};

// A lyric unit under the note whose first value is (nLine, nIndex); never empty.
struct HistogramLyric {
    std::string strText;  // UTF-8
    int nLine = 0;
    int nIndex = 0;
    int nX = 0;  // top-left corner of the text: a little left of the note's first dot
    int nY = 0;  // 3 × height / 4
};

// What one call of Advance puts on the display. The picture first moves nScroll pixels to the
// left and the columns that came free on the right are cleared (nScroll == width clears the whole
// picture); then the dots, the lyric units, the marker and the strip are drawn.
struct HistogramFrame {
    int nScroll = 0;
    std::vector<HistogramDot> dots;      // in the order of the song
    std::vector<HistogramLyric> lyrics;  // in the order of the notes
    int nMarkerY = 0;                    // the tip of the chevron, at x = 50
    MarkerPen pen = MarkerPen::Reference;
    bool bStrip = false;  // the left strip and the bar
};

class CHistogramModel {
public:
    // A display of width × height pixels (the main dialog's is 800 × 110).
    CHistogramModel(int width, int height);
    CHistogramModel(const CHistogramModel&) = delete;
    CHistogramModel& operator=(const CHistogramModel&) = delete;

    // The song being sung, kept as long as the display shows it. A line's dots are its values, so
    // the end times are not read. A song that gives its own lyric units (SongInfo::bOwnLyrics)
    // shows each under the value it names, in place of units picked from the Lyric file. With no
    // song, or one of fewer than 2 points, there is no line: no dot is drawn. The song is drawn
    // from its first value again, the whole picture anew on the next Advance.
    void SetSong(std::shared_ptr<const CSong> song);

    // Starts the display over for a song whose clock starts at 0: the song from its first value,
    // the whole picture drawn anew on the first Advance with a clock of 0 or more, the marker far
    // at y 80, the lyric from its first byte, the strip from the second Advance on. The position
    // from which the next word's space is searched stays as it is (LoadLyrics clears it).
    void Restart();

    void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag);

    // Loads the "Lyric" file of a native song's folder as one code page 936 string without line
    // breaks. An empty song name only shows a message. A file that cannot be read or is not text
    // shows a message naming it and leaves the lyric empty. Returns true when the file was read,
    // even when it held no text. An UltraStar song has no such file: its lyric comes with its
    // notes (SetSong), and the lyric is left empty.
    bool LoadLyrics(const SongRef& song);

    // The display at playback time nowMs (the accompaniment's position). The picture moves one
    // 3-px step for every 15 ms step of floor(nowMs / 15) since the last step drawn, at most the
    // width; every value whose time has come within the lead is entered in the song's order, its
    // dot reported when it lies on the picture, and each note (a run of non-zero values of a
    // line) takes the next lyric unit when its first value enters, also when it is out of view,
    // so the lyric stays in step after a stall. A clock that has not reached the next step
    // (equal, or gone back) moves nothing and enters nothing: only the marker and the strip are
    // drawn; Restart is the way back to 0. Any clock value is safe. The frame stays valid until
    // the next call.
    const HistogramFrame& Advance(int nowMs);

    const std::string& Lyric() const { return m_strLyric; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    struct Line {
        int nOffset = 0;       // of its count in the records
        int nCount = 0;        // its values
        int64_t nStartMs = 0;  // lround(start × 1000)
    };

    void Rewind();             // the song from its first value
    void Enter(int64_t step);  // enters every value due at the step
    int Value(const Line& line, int index) const;
    std::string NextLyricUnit(int r);  // the next unit, moving the lyric positions on
    // The lyric units due when value (m_nLine, m_nIndex) enters at x.
    void EnterLyrics(int value, int64_t x);
    void PushLyric(std::string utf8, int64_t x);
    int NextSpace();  // the space that opens the next word (−1: none)

    const int m_nWidth;
    const int m_nHeight;
    const int64_t m_nLeadMs;  // from the feed edge to the marker tip

    std::shared_ptr<const CSong> m_song;
    std::vector<Line> m_lines;
    int m_nLine = 0;               // the next value to enter: its line
    int m_nIndex = 0;              // and its index in the line
    std::size_t m_nSongLyric = 0;  // the next of the line's own lyric units (bOwnLyrics)

    bool m_bFresh = true;     // the next Advance draws the whole picture
    int64_t m_nLastStep = 0;  // the step the picture shows

    int m_nMarkerY = 80;
    bool m_bNear = false;
    bool m_bHit = false;
    bool m_bFar = true;
    bool m_bStripOn = false;

    std::string m_strLyric;  // code page 936, CR and LF removed
    int m_nCharPos = 0;
    int m_nWordSearch = 0;
    // The space found at or after m_nSpaceFrom (−1: none), so that a lyric without spaces is
    // searched once, not once per note.
    int m_nSpaceFrom = -1;
    int m_nSpace = -1;

    HistogramFrame m_frame;
};

}  // namespace engine
