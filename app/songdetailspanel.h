// The highlighted song of the list in more detail, beside the list: its cover, larger than the
// rows' (the default art when it has none or it cannot be shown), its title and artist (or a
// native song's name), and its length, year, genre and language where they are known.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include "library/songentry.h"

class CCoverLoader;

class CSongDetailsPanel : public QWidget {
public:
    CSongDetailsPanel(CCoverLoader& covers, QWidget* parent);

    // The song shown; nullptr shows none (the panel is then hidden by whoever shows it).
    void SetSong(const library::SongEntry* entry);
    bool HasSong() const { return !m_lines.isEmpty(); }
    // A cover has been decoded: the panel repaints when it is its song's.
    void OnCoverReady(const QString& path);

    // What the panel says: the title (or name), the artist (or empty), and the details line
    // ("3:45 · 1999 · Pop · English", only what is known).
    const QStringList& Lines() const { return m_lines; }
    const QString& CoverPath() const { return m_cover; }
    // The cover's side in pixels at the panel's present size.
    int CoverSide() const;

    static QString Details(const library::SongEntry& entry);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CCoverLoader& m_covers;
    QString m_cover;
    QStringList m_lines;
};
