// A line's picture (CLinePlot) as a widget of the review page: drawn the first time it is
// painted, so that opening the review of a long song draws only the lines in sight.
#pragma once

#include <QImage>
#include <QWidget>

#include "engine/linereview.h"

class CLinePicture : public QWidget {
public:
    CLinePicture(engine::LineReview review, int roleOffset, QSize size, QWidget* parent);
    // The picture (drawn now if it has not been yet).
    const QImage& Image();
    bool IsDrawn() const { return !m_image.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    engine::LineReview m_review;
    int m_nRoleOffset;
    QImage m_image;
};
