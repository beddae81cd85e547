#include "display/historypage.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

#include "display/fonts.h"

namespace {

const QColor kPageColour(250, 246, 255);
const QColor kHeaderColour(255, 128, 192);
const QColor kSongColour(214, 60, 140);
const QColor kPracticeColour(120, 90, 200);

QString When(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

CHistoryPage::CHistoryPage(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    auto* header = new QHBoxLayout;
    m_title = new QLabel(this);
    m_title->setFont(display::MakeFont(QStringLiteral("黑体"), 18));
    m_title->setStyleSheet(QStringLiteral("color: white;"));
    header->addWidget(m_title, 1);
    auto* back = new QPushButton(QStringLiteral("返回"), this);
    back->setObjectName(QStringLiteral("historyBack"));
    back->setStyleSheet(QStringLiteral(
        "QPushButton { background: #ff80c0; color: white; border: none; border-radius: 11px;"
        " padding: 4px 12px; } QPushButton:hover { background: #ff5aa8; }"));
    connect(back, &QPushButton::clicked, this, [this] {
        if (m_close) m_close();
    });
    header->addWidget(back);
    layout->addLayout(header);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setBackgroundBrush(kPageColour);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_songs = new QLineSeries;
    m_songs->setName(QStringLiteral("整首歌"));
    QPen pen(kSongColour);
    pen.setWidth(2);
    m_songs->setPen(pen);
    m_songs->setPointsVisible(true);
    m_practice = new QScatterSeries;
    m_practice->setName(QStringLiteral("练习"));
    m_practice->setColor(kPracticeColour);
    m_practice->setMarkerSize(9);
    m_chart->addSeries(m_songs);
    m_chart->addSeries(m_practice);
    m_time = new QDateTimeAxis;
    m_time->setFormat(QStringLiteral("MM-dd"));
    m_score = new QValueAxis;
    m_score->setRange(0, 100);
    m_score->setLabelFormat(QStringLiteral("%d"));
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_score, Qt::AlignLeft);
    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(m_songs), static_cast<QAbstractSeries*>(m_practice)}) {
        series->attachAxis(m_time);
        series->attachAxis(m_score);
    }
    m_view = new QChartView(m_chart, this);
    m_view->setRenderHint(QPainter::Antialiasing);

    auto* body = new QHBoxLayout;
    body->addWidget(m_view, 3);
    auto* side = new QVBoxLayout;
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    side->addWidget(m_list, 2);
    m_lines = new QLabel(this);
    m_lines->setWordWrap(true);
    m_lines->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lines->setStyleSheet(QStringLiteral("color: rgb(64, 32, 96);"));
    side->addWidget(m_lines, 1);
    body->addLayout(side, 2);
    layout->addLayout(body, 1);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || static_cast<std::size_t>(row) >= m_attempts.size()) {
            m_lines->clear();
            return;
        }
        const history::Attempt& attempt = m_attempts[static_cast<std::size_t>(row)];
        QString text;
        for (std::size_t i = 0; i < attempt.lineScores.size(); ++i) {
            const int line =
                attempt.nPracticeLine >= 0 ? attempt.nPracticeLine : static_cast<int>(i);
            text += QStringLiteral("第 %1 句　%2\n")
                        .arg(line + 1)
                        .arg(QString::number(double(attempt.lineScores[i]), 'f', 1));
        }
        m_lines->setText(text);
    });
}

void CHistoryPage::Show(const QString& songName, const std::vector<history::Attempt>& attempts) {
    m_title->setText(songName + QStringLiteral(" 的历史成绩"));
    m_attempts.assign(attempts.rbegin(), attempts.rend());
    QList<QPointF> songs, practice;
    songs.reserve(static_cast<qsizetype>(attempts.size()));
    for (const history::Attempt& attempt : attempts) {
        const QPointF point(static_cast<double>(attempt.nWhenMs), double(attempt.fScore));
        (attempt.nPracticeLine < 0 ? songs : practice).append(point);
    }
    m_songs->replace(songs);
    m_practice->replace(practice);
    if (!attempts.empty()) {
        const int64_t first = attempts.front().nWhenMs, last = attempts.back().nWhenMs;
        // A day either side, so that a single day's attempts spread over the axis.
        m_time->setRange(QDateTime::fromMSecsSinceEpoch(first - 43'200'000),
                         QDateTime::fromMSecsSinceEpoch(std::max(last, first) + 43'200'000));
    }
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    QStringList rows;
    rows.reserve(static_cast<qsizetype>(m_attempts.size()));
    for (const history::Attempt& attempt : m_attempts)
        rows.append(When(attempt.nWhenMs) + QStringLiteral("　") +
                    (attempt.nPracticeLine < 0
                         ? QStringLiteral("整首")
                         : QStringLiteral("练习第 %1 句").arg(attempt.nPracticeLine + 1)) +
                    QStringLiteral("　") + QString::number(double(attempt.fScore), 'f', 1));
    m_list->addItems(rows);
    m_list->setUpdatesEnabled(true);
    Pick(0);
    show();
    raise();
}

void CHistoryPage::Pick(int row) {
    if (row >= 0 && row < m_list->count()) m_list->setCurrentRow(row);
}

QString CHistoryPage::LineScoresText() const { return m_lines->text(); }

void CHistoryPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kPageColour);
    painter.fillRect(QRect(0, 0, width(), m_view->y() - 4), kHeaderColour);
}
