// The score of a finished song: a frameless 800 × 446 window over the stage, the score picture
// stretched over it and the mean line score written across it with one decimal, three times
// with a two-step shadow, and under it the judging level it was judged at ("评分：标准").
// Enter and Escape hide it, as its OK does. Its "回顾" button asks for the review of the song.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <functional>

class QPushButton;

class CScoreDlg : public QDialog {
public:
    explicit CScoreDlg(QWidget* parent);

    // Makes the window, hidden (once, after construction).
    void CreateModeless();
    void SetScore(float score) { m_fScore = score; }
    float Score() const { return m_fScore; }
    // The judging level's caption ("轻松", "标准", "严格"); empty shows none.
    void SetLevelCaption(const QString& caption) { m_strLevel = caption; }
    const QString& LevelCaption() const { return m_strLevel; }
    // Hides the dialog; harmless when it is not shown.
    void OnOK();
    // What "回顾" does (the dialog hides first); without it the button is not shown.
    void SetReview(std::function<void()> review);
    QPushButton* ReviewButton() const { return m_review; }

    // The text a score is shown as: "%0.1f".
    static QString ScoreText(float score);

    void accept() override { OnOK(); }
    void reject() override { OnOK(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Writes the score over the picture.
    void DrawScore(QPainter& painter, float score);

    QPushButton* m_review = nullptr;
    std::function<void()> m_onReview;
    float m_fScore = 0.0f;
    QString m_strLevel;
    QPixmap m_picture;
};
