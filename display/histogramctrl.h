// The pitch and lyrics display of the singing screen: the reference melody scrolls in from the
// right as green dots with the lyric under its notes, and a chevron on the left shows the
// singer's pitch in the colour of the last comparison. Every 15 ms a tick reads the song's
// playback clock; the picture moves 3 pixels left for every 15 ms the clock has gone on since the
// last tick (so a late tick catches up) and the new content is drawn into an off-screen surface;
// a paint only copies the surface. What to draw is decided by engine::CHistogramModel.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/histogrammodel.h"

class CHistogramCtrl : public QWidget {
public:
    CHistogramCtrl();
    ~CHistogramCtrl() override;

    // Makes the window over rect of parent (client pixels) with the given id (its object name),
    // its surface, loads the lyric and restarts the feed. False when the surface cannot be made.
    bool Create(QWidget* parent, const QRect& rect, int id);
    // Makes the off-screen surface of the client size, black; false when one exists already.
    bool CreateSurface();
    // Stops the ticks and takes the window away; a later Create starts with a new surface.
    void DestroyDisplay();

    // The display starts over for a song whose clock starts at 0 (see CHistogramModel::Restart)
    // and the ticks run every 15 ms.
    void Restart();
    // The song's playback position in milliseconds (the accompaniment's), read on every tick.
    // Without a clock a tick draws nothing.
    void SetClock(std::function<int()> clock) { m_clock = std::move(clock); }
    // Loads the lyric of the song the main window names (see SetSongSource).
    bool LoadLyrics();
    void SetSongSource(std::function<engine::SongRef()> source) {
        m_songSource = std::move(source);
    }

    // The song being sung, shared with the session; kept for as long as it is shown.
    void SetSong(std::shared_ptr<const engine::CSong> song);
    void SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag);

    // One tick: reads the clock, moves the picture on to it, draws the dots and lyric units that
    // came into view, the marker and the strip; then a repaint is asked for.
    void DrawTick();

    const QImage& Surface() const { return m_surface; }
    bool IsTicking() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Scroll(int pixels);
    void DrawLyric(QPainter& painter, const engine::HistogramLyric& unit);

    // Made for the main dialog's 800 × 110 band, and made again by Create for another size.
    std::unique_ptr<engine::CHistogramModel> m_pModel;
    std::shared_ptr<const engine::CSong> m_song;  // as given, for a new model
    std::function<engine::SongRef()> m_songSource;
    std::function<int()> m_clock;
    QImage m_surface;
    QRect m_rcBar;
    QTimer m_timer;
    QFont m_fontLyric;
};
