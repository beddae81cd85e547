#include "display/reviewpage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <string>

#include "display/fonts.h"
#include "display/linepicture.h"

namespace {

const QColor kPageColour(250, 246, 255);
const QColor kHeaderColour(255, 128, 192);

const char* const kButtonStyle =
    "QPushButton { background: #ff80c0; color: white; border: none; border-radius: 11px;"
    " padding: 4px 12px; } QPushButton:hover { background: #ff5aa8; }"
    " QPushButton:disabled { background: #e0d0e8; color: #a090b0; }";

QString Number(double value) { return QString::number(value, 'f', 1); }

// "第 3 句", with the song's number in a medley: "第 2 首第 3 句".
QString LineName(std::size_t song, int line, bool medley) {
    const QString name = QStringLiteral("第 %1 句").arg(line + 1);
    return medley ? QStringLiteral("第 %1 首").arg(song + 1) + name : name;
}

}  // namespace

CReviewPage::CReviewPage(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    m_summary = new QLabel(this);
    m_summary->setFont(display::MakeFont(QStringLiteral("黑体"), 18));
    m_summary->setStyleSheet(QStringLiteral("color: white;"));
    m_summary->setWordWrap(true);
    header->addWidget(m_summary, 1);
    auto* back = new QPushButton(QStringLiteral("返回"), this);
    back->setObjectName(QStringLiteral("reviewBack"));
    back->setStyleSheet(QString::fromLatin1(kButtonStyle));
    back->setCursor(Qt::PointingHandCursor);
    connect(back, &QPushButton::clicked, this, [this] {
        if (m_close) m_close();
    });
    auto* history = new QPushButton(QStringLiteral("历史"), this);
    history->setObjectName(QStringLiteral("reviewHistory"));
    history->setStyleSheet(QString::fromLatin1(kButtonStyle));
    history->setCursor(Qt::PointingHandCursor);
    connect(history, &QPushButton::clicked, this, [this] {
        if (m_history) m_history(0);
    });
    header->addWidget(history);
    header->addWidget(back);
    layout->addLayout(header);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_list = new QWidget;
    m_list->setObjectName(QStringLiteral("reviewList"));
    // One style sheet for the whole list: set on each button, it would be parsed for each.
    m_list->setStyleSheet(QStringLiteral("#reviewList { background: rgb(250, 246, 255); } ") +
                          QString::fromLatin1(kButtonStyle) +
                          QStringLiteral(" QLabel { color: rgb(64, 32, 96); }"));
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(6, 6, 6, 6);
    m_listLayout->setSpacing(10);
    m_listLayout->addStretch(1);
    m_scroll->setWidget(m_list);
    layout->addWidget(m_scroll, 1);
}

void CReviewPage::ClearRows() {
    for (Row& row : m_rows) {
        QWidget* box = row.picture->parentWidget();
        m_listLayout->removeWidget(box);
        delete box;
    }
    m_rows.clear();
}

void CReviewPage::Show(const engine::CSessionRecord& record, float finalScore, int roleOffset) {
    ClearRows();
    const bool medley = record.Songs().size() > 1;
    struct Extreme {
        float score = 0;
        QString name;
        bool set = false;
    } best, worst;
    int sung = 0, inTune = 0;
    for (std::size_t s = 0; s < record.Songs().size(); ++s) {
        for (const engine::LineReview& review : record.Reviews(s)) {
            const bool scored = review.report.strGrade.size() > 0;
            sung += review.nSungBuffers;
            inTune += review.nInTuneBuffers;
            const QString name = LineName(s, review.nLine, medley);
            if (scored) {
                const float score = review.report.fScore;
                if (!best.set || score > best.score) best = {score, name, true};
                if (!worst.set || score < worst.score) worst = {score, name, true};
            }

            Row row;
            row.nSong = s;
            row.nLine = review.nLine;
            auto* box = new QWidget(m_list);
            auto* rowLayout = new QHBoxLayout(box);
            rowLayout->setContentsMargins(0, 0, 0, 0);
            row.picture =
                new CLinePicture(review, roleOffset, QSize(kPictureWidth, kPictureHeight), box);
            rowLayout->addWidget(row.picture);

            auto* side = new QVBoxLayout;
            row.words = new QLabel(box);
            row.words->setFont(display::MakeFont(QStringLiteral("黑体"), 14));
            row.words->setWordWrap(true);
            QString words = name + QStringLiteral("\n");
            if (scored) {
                words += QStringLiteral("得分 %1　%2\n命中 %3　接近 %4\n")
                             .arg(Number(review.report.fScore),
                                  QString::fromStdString(review.report.strGrade))
                             .arg(review.report.nHits)
                             .arg(review.report.nNears);
                words += QString::fromStdString(engine::KeyOffsetWords(review.report.nKeyOffset));
            } else {
                words += QStringLiteral("没有唱完");
            }
            row.words->setText(words);
            side->addWidget(row.words, 1);
            auto button = [&](const QString& text, const LineAction& action) {
                auto* b = new QPushButton(text, box);
                b->setCursor(Qt::PointingHandCursor);
                const std::size_t song = s;
                const int line = review.nLine;
                connect(b, &QPushButton::clicked, this, [&action, song, line] {
                    if (action) action(song, line);
                });
                side->addWidget(b);
                return b;
            };
            row.take = button(QStringLiteral("听我唱的"), m_hearTake);
            row.take->setEnabled(!record.Take(s, review.nLine).empty());
            row.reference = button(QStringLiteral("听原曲旋律"), m_hearReference);
            row.practise = button(QStringLiteral("练习这一句"), m_practise);
            rowLayout->addLayout(side, 1);
            m_listLayout->insertWidget(m_listLayout->count() - 1, box);
            m_rows.push_back(row);
        }
    }
    QString summary = QStringLiteral("得分 %1").arg(Number(finalScore));
    if (best.set) {
        summary += QStringLiteral("　最好：%1（%2）").arg(best.name, Number(best.score));
        summary += QStringLiteral("　最差：%1（%2）").arg(worst.name, Number(worst.score));
    }
    const int share = sung > 0 ? (inTune * 100 + sung / 2) / sung : 0;
    summary += QStringLiteral("　音准 %1%").arg(share);
    m_summary->setText(summary);
    m_scroll->verticalScrollBar()->setValue(0);
    show();
    raise();
}

QString CReviewPage::SummaryText() const { return m_summary->text(); }

QString CReviewPage::RowText(int row) const {
    return row >= 0 && row < Rows() ? m_rows[static_cast<std::size_t>(row)].words->text()
                                    : QString();
}

QPushButton* CReviewPage::TakeButton(int row) const {
    return row >= 0 && row < Rows() ? m_rows[static_cast<std::size_t>(row)].take : nullptr;
}

QPushButton* CReviewPage::ReferenceButton(int row) const {
    return row >= 0 && row < Rows() ? m_rows[static_cast<std::size_t>(row)].reference : nullptr;
}

QPushButton* CReviewPage::PractiseButton(int row) const {
    return row >= 0 && row < Rows() ? m_rows[static_cast<std::size_t>(row)].practise : nullptr;
}

QRect CReviewPage::PictureRect(int row) const {
    if (row < 0 || row >= Rows()) return {};
    const QWidget* picture = m_rows[static_cast<std::size_t>(row)].picture;
    return QRect(picture->mapTo(this, QPoint(0, 0)), picture->size());
}

void CReviewPage::ShowRow(int row) {
    if (row < 0 || row >= Rows()) return;
    m_scroll->ensureWidgetVisible(m_rows[static_cast<std::size_t>(row)].picture, 0, 10);
}

void CReviewPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kPageColour);
    painter.fillRect(QRect(0, 0, width(), m_scroll->y() - 4), kHeaderColour);
}
