#include "display/lineplot.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>
#include <cmath>

#include "display/fonts.h"
#include "engine/linereview.h"

const QColor CLinePlot::kHitColour(10, 192, 14);
const QColor CLinePlot::kNearColour(189, 189, 0);
const QColor CLinePlot::kMissColour(160, 20, 30);
const QColor CLinePlot::kNoteColour(176, 150, 226);

namespace {

const QColor kBackground(250, 246, 255);
const QColor kGrid(228, 220, 240);
const QColor kOctaveGrid(196, 184, 220);
const QColor kText(64, 32, 96);
const QColor kJudgedBand(120, 200, 140);  // the part of a line that was judged

constexpr int kLeft = 56, kRight = 16, kTop = 44, kBottom = 40;

QColor ColourOf(engine::Verdict verdict) {
    switch (verdict) {
        case engine::Verdict::Hit:
            return CLinePlot::kHitColour;
        case engine::Verdict::Near:
            return CLinePlot::kNearColour;
        case engine::Verdict::Miss:
            return CLinePlot::kMissColour;
        case engine::Verdict::Neutral:
            break;
    }
    return QColor(150, 150, 150);
}

}  // namespace

CLinePlot::CLinePlot(const engine::LineReview& review, int roleOffset, QSize size)
    : m_review(review), m_nRoleOffset(roleOffset), m_size(size) {
    m_area = QRectF(kLeft, kTop, std::max(1, size.width() - kLeft - kRight),
                    std::max(1, size.height() - kTop - kBottom));
    // The reference's notes decide the range; the heard curve widens it up to an octave more.
    double low = 1e9, high = -1e9;
    for (const auto& note : review.notes) {
        low = std::min(low, note.value / 10.0);
        high = std::max(high, note.value / 10.0);
    }
    if (low > high) low = high = 60.0;
    const double noteLow = low, noteHigh = high;
    for (const auto& point : review.heard) {
        low = std::min(low, std::max(point.value / 10.0, noteLow - 12.0));
        high = std::max(high, std::min(point.value / 10.0, noteHigh + 12.0));
    }
    m_low = std::floor(low) - 2.0;
    m_high = std::ceil(high) + 2.0;
}

QPointF CLinePlot::Point(double t, double value) const {
    const double duration = std::max(m_review.duration, 0.1);
    const double x = m_area.left() + m_area.width() * t / duration;
    const double y = m_area.bottom() - m_area.height() * (value / 10.0 - m_low) / (m_high - m_low);
    return {x, y};
}

QImage CLinePlot::Draw() const {
    QImage image(m_size, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QFont small = display::MakeFont(QStringLiteral("Arial"), 11, 0, 400);
    const QFont title = display::MakeFont(QStringLiteral("Arial"), 15, 0, 700);

    // The semitone grid, named by the singer's notes; each C a little darker.
    painter.setFont(small);
    const double semitone = m_area.height() / (m_high - m_low);
    for (int s = static_cast<int>(m_low); s <= static_cast<int>(m_high); ++s) {
        const double y = Point(0, s * 10.0).y();
        const std::string name = engine::NoteName(s * 10, m_nRoleOffset);
        const bool c = name[0] == 'C' && name.find("♯") == std::string::npos;
        painter.setPen(QPen(c ? kOctaveGrid : kGrid, 1));
        painter.drawLine(QPointF(m_area.left(), y), QPointF(m_area.right(), y));
        if (semitone >= 9 || c) {
            painter.setPen(kText);
            painter.drawText(QRectF(0, y - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                             QString::fromStdString(name));
        }
    }

    // The part of the line that was judged: a band along the bottom of the plot.
    if (m_review.judgedTo > m_review.judgedFrom) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kJudgedBand);
        const QPointF a = Point(m_review.judgedFrom, 0), b = Point(m_review.judgedTo, 0);
        painter.drawRect(
            QRectF(QPointF(a.x(), m_area.bottom() - 4), QPointF(b.x(), m_area.bottom())));
    }

    // The reference's notes, and their syllables under the plot.
    for (const auto& note : m_review.notes) {
        const QPointF a = Point(note.start, note.value + 5.0),
                      b = Point(note.end, note.value - 5.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kNoteColour);
        painter.drawRoundedRect(QRectF(a, b), 3, 3);
        if (!note.strLyric.empty()) {
            painter.setPen(kText);
            painter.drawText(QRectF(a.x(), m_area.bottom() + 4, std::max(b.x() - a.x(), 12.0), 18),
                             Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(note.strLyric));
        }
    }

    // The heard curve: dots in their buffer's colour, joined where they follow each other closely.
    const engine::ReviewPoint* previous = nullptr;
    for (const auto& point : m_review.heard) {
        const QPointF here = Point(point.t, point.value);
        const QColor colour = ColourOf(point.verdict);
        if (previous && point.t - previous->t < 0.03) {
            painter.setPen(QPen(colour, 2));
            painter.drawLine(Point(previous->t, previous->value), here);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(here, 2.5, 2.5);
        previous = &point;
    }

    // The title: the line, its result and its key.
    const engine::LineReport& report = m_review.report;
    painter.setFont(title);
    painter.setPen(kText);
    const QString text =
        QStringLiteral("第 %1 句   %2 %3   命中 %4 · 接近 %5 · 准确 %6%   %7")
            .arg(m_review.nLine + 1)
            .arg(static_cast<double>(report.fScore), 0, 'f', 1)
            .arg(QString::fromStdString(report.strGrade))
            .arg(report.nHits)
            .arg(report.nNears)
            .arg(static_cast<int>(std::lround(m_review.inTune * 100)))
            .arg(QString::fromStdString(engine::KeyOffsetWords(report.nKeyOffset)));
    painter.drawText(QRectF(kLeft, 6, m_size.width() - kLeft - kRight, kTop - 12),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}
