// A song's history: a page over the stage with the song's whole-song scores over time as a line
// (Qt Charts) and its practice attempts as points, the attempts listed newest first, and the line
// scores of the attempt picked in the list.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

#include "history/historystore.h"

class QChart;
class QChartView;
class QLabel;
class QListWidget;
class QLineSeries;
class QScatterSeries;
class QDateTimeAxis;
class QValueAxis;

class CHistoryPage : public QWidget {
public:
    explicit CHistoryPage(QWidget* parent);

    void SetClose(std::function<void()> action) { m_close = std::move(action); }
    // Shows a song's attempts (oldest first, as the store gives them) under its name.
    void Show(const QString& songName, const std::vector<history::Attempt>& attempts);

    // What the page shows, for the tests: the points of the line (whole songs) and of the
    // practice attempts, the list's rows, and the line scores shown.
    QLineSeries* Songs() const { return m_songs; }
    QScatterSeries* Practice() const { return m_practice; }
    QListWidget* List() const { return m_list; }
    QString LineScoresText() const;
    QChartView* ChartView() const { return m_view; }
    // Picks a row of the list (0: the newest attempt).
    void Pick(int row);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_title = nullptr;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QLineSeries* m_songs = nullptr;
    QScatterSeries* m_practice = nullptr;
    QDateTimeAxis* m_time = nullptr;
    QValueAxis* m_score = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_lines = nullptr;
    std::vector<history::Attempt> m_attempts;  // newest first, as listed
    std::function<void()> m_close;
};
