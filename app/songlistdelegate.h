// The song list's rows: the song's name as the list has always drawn it, and, where the singer's
// history knows the song, its best and last scores right-aligned in a quieter colour beside it.
#pragma once

#include <QStyledItemDelegate>

class CSongListDelegate : public QStyledItemDelegate {
public:
    // The role of an item's scores text ("最好 92.1 · 上次 85.0"); none when the song is new.
    static constexpr int kScoresRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
