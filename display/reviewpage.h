// The review after a song: a page over the stage in the program's look. At the top the song's
// score, its best and worst lines and the share of it sung in tune; below, every line of the song
// (or of the four medley songs) as a picture (CLinePlot) with its score, grade, hits, near misses
// and key in words, and three buttons: hear your own take of the line, hear the reference melody,
// practise the line. The page only shows and asks; whoever owns it plays and practises.
#pragma once

#include <QImage>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <vector>

#include "engine/linereview.h"
#include "engine/sessionrecord.h"

class CLinePicture;
class QLabel;
class QScrollArea;
class QVBoxLayout;

class CReviewPage : public QWidget {
public:
    // What a line's buttons ask for: the song (0 to 3) and its line.
    using LineAction = std::function<void(std::size_t song, int line)>;

    explicit CReviewPage(QWidget* parent);

    void SetHearTake(LineAction action) { m_hearTake = std::move(action); }
    void SetHearReference(LineAction action) { m_hearReference = std::move(action); }
    void SetPractise(LineAction action) { m_practise = std::move(action); }
    void SetClose(std::function<void()> action) { m_close = std::move(action); }
    // What "历史" in the header does: the history of the song (0 to 3) shown first.
    void SetHistory(std::function<void(std::size_t song)> action) { m_history = std::move(action); }

    // Shows the review of a session's record: its final score, the role's singer offset (120 or
    // 80) for the note names.
    void Show(const engine::CSessionRecord& record, float finalScore, int roleOffset);

    // The summary's words, and each row's: for the tests and for whoever reads them out.
    QString SummaryText() const;
    int Rows() const { return static_cast<int>(m_rows.size()); }
    QString RowText(int row) const;
    // A row's buttons, and where its picture lies in the page (after a layout), scaled from the
    // plot's own size.
    QPushButton* TakeButton(int row) const;
    QPushButton* ReferenceButton(int row) const;
    QPushButton* PractiseButton(int row) const;
    QRect PictureRect(int row) const;
    // Scrolls a row into sight.
    void ShowRow(int row);

    // The size a line's picture is drawn at on the page.
    static constexpr int kPictureWidth = 560;
    static constexpr int kPictureHeight = 210;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Row {
        std::size_t nSong = 0;
        int nLine = 0;
        CLinePicture* picture = nullptr;
        QLabel* words = nullptr;
        QPushButton* take = nullptr;
        QPushButton* reference = nullptr;
        QPushButton* practise = nullptr;
    };
    void ClearRows();

    QLabel* m_summary = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_listLayout = nullptr;
    std::vector<Row> m_rows;
    LineAction m_hearTake, m_hearReference, m_practise;
    std::function<void()> m_close;
    std::function<void(std::size_t)> m_history;
};
