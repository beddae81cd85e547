// The song list's rows: the song's name on the left, cut short with "…" where the row ends; a
// quieter hint after it where another song of the list has the same name (what tells them
// apart); and, where the singer's history knows the song, its best score in a column of its own
// on the right, never under the name. A song that cannot be sung has its row greyed (the
// item's foreground) and "⚠" before its name. With a cover loader, each row begins with the
// song's cover, small (the default art while it is decoded, or when there is none). The first
// row of a group (the list ordered by artist, language or year) has a line above it and the
// group's name in the right-hand column, before the score.
#pragma once

#include <QStyledItemDelegate>

class CCoverLoader;

class CSongListDelegate : public QStyledItemDelegate {
public:
    // The role of an item's scores text ("最好 92.1"); none when the song is new.
    static constexpr int kScoresRole = Qt::UserRole + 1;
    // The role of the hint that tells it from songs of the same name ("Rock/Queen", "二重唱").
    static constexpr int kHintRole = Qt::UserRole + 2;

    // The role of the path of the song's cover (empty: none).
    static constexpr int kCoverRole = Qt::UserRole + 3;
    // The role of the group's name on the first row of a group (none on the others).
    static constexpr int kGroupRole = Qt::UserRole + 4;

    using QStyledItemDelegate::QStyledItemDelegate;
    // Rows show covers from the loader (it outlives the delegate's painting); nullptr: none.
    void SetCovers(CCoverLoader* covers) { m_covers = covers; }
    // The side of a row's cover for rows of a height.
    static int CoverSide(int rowHeight) { return rowHeight > 6 ? rowHeight - 4 : 0; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    CCoverLoader* m_covers = nullptr;
};
