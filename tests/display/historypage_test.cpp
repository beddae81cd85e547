// A song's history page, offscreen: the chart puts each attempt where its time and score say, in
// the colour of its kind, and the list shows the newest first with its line scores.
#include "display/historypage.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <QLineSeries>
#include <QListWidget>
#include <QScatterSeries>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

history::Attempt At(int64_t when, float score, int line = -1) {
    history::Attempt attempt;
    attempt.nWhenMs = when;
    attempt.fScore = score;
    attempt.nPracticeLine = line;
    attempt.lineScores =
        line < 0 ? std::vector<float>{score - 5, score + 5} : std::vector<float>{score};
    return attempt;
}

// Whether a pixel within two of the point is about the colour.
bool ColourNear(const QImage& image, QPoint at, const QColor& colour) {
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const QColor seen = image.pixelColor(at + QPoint(dx, dy));
            if (std::abs(seen.red() - colour.red()) < 30 &&
                std::abs(seen.green() - colour.green()) < 30 &&
                std::abs(seen.blue() - colour.blue()) < 30)
                return true;
        }
    return false;
}

TEST(HistoryPage, TheChartAndTheListShowEveryAttempt) {
    QWidget parent;
    parent.resize(800, 446);
    CHistoryPage page(&parent);
    page.setGeometry(0, 0, 800, 446);
    const int64_t day = 86'400'000;
    const int64_t start = 1'780'000'000'000;  // in 2026
    const std::vector<history::Attempt> attempts = {At(start, 40.0f), At(start + day, 55.0f),
                                                    At(start + day + 3'600'000, 70.0f, 2),
                                                    At(start + 3 * day, 90.0f)};
    page.Show(QStringLiteral("海边"), attempts);
    parent.show();
    QApplication::processEvents();

    ASSERT_EQ(page.Songs()->count(), 3);
    ASSERT_EQ(page.Practice()->count(), 1);
    ASSERT_EQ(page.List()->count(), 4);
    EXPECT_TRUE(page.List()->item(0)->text().endsWith(QStringLiteral("整首　90.0")))
        << page.List()->item(0)->text().toStdString();
    EXPECT_TRUE(page.List()->item(1)->text().contains(QStringLiteral("练习第 3 句")));
    EXPECT_EQ(page.LineScoresText(), QStringLiteral("第 1 句　85.0\n第 2 句　95.0\n"));
    page.Pick(1);
    EXPECT_EQ(page.LineScoresText(), QStringLiteral("第 3 句　70.0\n"));

    // Where the chart says each point is, its colour is.
    const QImage shown = page.ChartView()->grab().toImage();
    auto where = [&](const history::Attempt& attempt, QAbstractSeries* series) {
        const QPointF scene = page.ChartView()->chart()->mapToPosition(
            QPointF(double(attempt.nWhenMs), double(attempt.fScore)), series);
        return page.ChartView()->mapFromScene(scene);
    };
    for (const std::size_t i : {0u, 1u, 3u})
        EXPECT_TRUE(ColourNear(shown, where(attempts[i], page.Songs()), page.Songs()->color()))
            << "attempt " << i;
    EXPECT_TRUE(ColourNear(shown, where(attempts[2], page.Practice()), page.Practice()->color()));
    // Where no attempt is, neither colour is.
    const QPointF empty = page.ChartView()->mapFromScene(page.ChartView()->chart()->mapToPosition(
        QPointF(double(start + 2 * day), 10.0), page.Songs()));
    EXPECT_FALSE(ColourNear(shown, empty.toPoint(), page.Songs()->color()));
    EXPECT_FALSE(ColourNear(shown, empty.toPoint(), page.Practice()->color()));
    // A score of 90 lies above one of 40.
    EXPECT_LT(where(attempts[3], page.Songs()).y(), where(attempts[0], page.Songs()).y());
}

}  // namespace
