#include "app/songlistdelegate.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "display/coverloader.h"

namespace {

constexpr int kMargin = 4;  // pixels between the row's edges and its text
constexpr int kGap = 8;     // pixels between the name, the hint and the scores

// Where a row's parts go within its text area: the name and the hint as they are drawn (elided
// to their rectangles) and the scores' rectangle (empty without scores).
struct Layout {
    QRect name, hint, scores;
    QString nameText, hintText;
};

QColor Mix(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                            static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                            static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

// The smaller font of the hint and the scores.
QFont QuietFont(const QFont& font) {
    QFont quiet = font;
    if (font.pixelSize() > 0)
        quiet.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pixelSize() * 0.8))));
    else
        quiet.setPointSizeF(font.pointSizeF() * 0.8);
    return quiet;
}

Layout Lay(const QRect& area, const QFontMetrics& nameFont, const QFontMetrics& quietFont,
           const QString& name, const QString& hint, const QString& scores) {
    Layout layout;
    int right = area.right() + 1;  // the end of what the name and the hint may take
    if (!scores.isEmpty()) {
        const int width = std::min(quietFont.horizontalAdvance(scores), area.width());
        layout.scores = QRect(right - width, area.top(), width, area.height());
        right = layout.scores.left() - kGap;
    }
    const int available = std::max(0, right - area.left());
    // The hint takes what it needs when all fits, else at most two fifths; the name the rest.
    int hintWidth = 0;
    if (!hint.isEmpty()) {
        const int wanted = quietFont.horizontalAdvance(hint);
        const int spare = available - kGap - nameFont.horizontalAdvance(name);
        hintWidth = std::min(wanted, std::max(spare, available * 2 / 5));
    }
    const int nameWidth = std::max(0, available - (hintWidth > 0 ? hintWidth + kGap : 0));
    layout.nameText = nameFont.elidedText(name, Qt::ElideRight, nameWidth);
    layout.name = QRect(area.left(), area.top(), nameWidth, area.height());
    if (hintWidth > 0) {
        layout.hintText = quietFont.elidedText(hint, Qt::ElideRight, hintWidth);
        const int drawn = nameFont.horizontalAdvance(layout.nameText);
        layout.hint = QRect(area.left() + drawn + kGap, area.top(), hintWidth, area.height());
    }
    return layout;
}

}  // namespace

void CSongListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString name = item.text;
    // The row's ground (selection, hover, focus) as the style draws it; the texts follow.
    item.text.clear();
    const QWidget* widget = item.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const bool selected = (item.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group =
        (item.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    const QColor text =
        item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor ground =
        item.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
    const QFont quiet = QuietFont(item.font);
    QRect area = item.rect.adjusted(kMargin, 0, -kMargin, 0);
    if (const int side = CoverSide(item.rect.height()); m_covers && side > 0) {
        // The cover, asked for as the row shows (decoded elsewhere; repainted when it comes).
        const QImage cover = m_covers->PictureOrDefault(index.data(kCoverRole).toString(), side);
        const QRect square(area.left(), item.rect.top() + (item.rect.height() - side) / 2, side,
                           side);
        painter->drawImage(square.left() + (side - cover.width()) / 2,
                           square.top() + (side - cover.height()) / 2, cover);
        area.setLeft(square.right() + 1 + kMargin);
    }
    // The group's name (on its first row) and the score share the right-hand column.
    // (A long artist's name takes at most a third of the row.)
    const QString groupName = QFontMetrics(quiet).elidedText(index.data(kGroupRole).toString(),
                                                             Qt::ElideRight, area.width() / 3);
    QString column = index.data(kScoresRole).toString();
    if (!groupName.isEmpty())
        column = column.isEmpty() ? groupName : groupName + QStringLiteral("  ") + column;
    const Layout layout = Lay(area, QFontMetrics(item.font), QFontMetrics(quiet), name,
                              index.data(kHintRole).toString(), column);
    painter->save();
    painter->setFont(item.font);
    painter->setPen(text);
    painter->drawText(layout.name, Qt::AlignLeft | Qt::AlignVCenter, layout.nameText);
    painter->setFont(quiet);
    if (!layout.hintText.isEmpty()) {
        painter->setPen(Mix(text, ground, 0.45));
        painter->drawText(layout.hint, Qt::AlignLeft | Qt::AlignVCenter, layout.hintText);
    }
    if (!layout.scores.isEmpty()) {
        painter->setPen(selected ? text : QColor(150, 110, 170));
        painter->drawText(
            layout.scores, Qt::AlignRight | Qt::AlignVCenter,
            QFontMetrics(quiet).elidedText(column, Qt::ElideLeft, layout.scores.width()));
    }
    if (!groupName.isEmpty()) {
        painter->setPen(Mix(text, ground, 0.6));
        painter->drawLine(item.rect.left(), item.rect.top(), item.rect.right(), item.rect.top());
    }
    painter->restore();
}
