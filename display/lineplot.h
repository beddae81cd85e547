// The picture of one sung line for the review: the reference melody as note bars on a semitone
// grid named by the singer's notes, the pitch curve the engine heard coloured as the marker
// coloured it (hit, near miss, miss), the syllables under their notes, and a title with the
// line's result and key. Drawn into an image, so the review page and the command line share it.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSize>

#include "engine/linereview.h"

class CLinePlot {
public:
    static const QColor kHitColour;  // the marker's colours
    static const QColor kNearColour;
    static const QColor kMissColour;
    static const QColor kNoteColour;  // the reference's bars

    // roleOffset: the singer offset the song was sung with (120 or 80), for the note names.
    CLinePlot(const engine::LineReview& review, int roleOffset, QSize size = QSize(960, 360));

    QImage Draw() const;
    // Where a value at a time (seconds from the line's start) lies in the picture.
    QPointF Point(double t, double value) const;
    // The plot's area (inside the margins and below the title).
    QRectF Area() const { return m_area; }

private:
    const engine::LineReview& m_review;
    int m_nRoleOffset;
    QSize m_size;
    QRectF m_area;
    double m_low = 0, m_high = 0;  // semitones (reference scale) at the bottom and the top
};
