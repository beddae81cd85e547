#include "app/songlistdelegate.h"

#include <QPainter>

void CSongListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    const QString scores = index.data(kScoresRole).toString();
    if (scores.isEmpty()) return;
    painter->save();
    QFont font = option.font;
    font.setPointSizeF(font.pointSizeF() * 0.85);
    painter->setFont(font);
    painter->setPen(QColor(150, 110, 170));
    painter->drawText(option.rect.adjusted(0, 0, -6, 0), Qt::AlignRight | Qt::AlignVCenter, scores);
    painter->restore();
}
