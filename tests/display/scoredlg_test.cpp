#include "display/scoredlg.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(ScoreDlg, ShowsOneDecimal) {
    EXPECT_EQ(CScoreDlg::ScoreText(100.0f), "100.0");
    EXPECT_EQ(CScoreDlg::ScoreText(0.0f), "0.0");
    EXPECT_EQ(CScoreDlg::ScoreText(87.26f), "87.3");
}

class ScoreDlgTest : public ::testing::Test {
protected:
    ScoreDlgTest() : dialog(&owner) { dialog.CreateModeless(); }

    int Count(const QImage& image, const QColor& colour) const {
        int count = 0;
        for (int y = 100; y < 360; ++y)
            for (int x = 170; x < 640; ++x) count += image.pixelColor(x, y) == colour;
        return count;
    }

    QWidget owner;
    CScoreDlg dialog;
};

TEST_F(ScoreDlgTest, IsAHiddenFramelessWindowOfTheStagesSize) {
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.size(), QSize(800, 446));
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(dialog.isModal());
}

TEST_F(ScoreDlgTest, TheScoreIsWrittenInMagentaOverALightShadow) {
    dialog.SetScore(87.26f);
    const QImage image = dialog.grab().toImage();
    EXPECT_GT(Count(image, QColor(255, 0, 255)), 500);
    EXPECT_GT(Count(image, QColor(232, 232, 232)), 50);
    // The magenta layer lies 3 pixels right of and below the light one: its first column too.
    auto firstColumn = [&](const QColor& colour) {
        for (int x = 170; x < 640; ++x)
            for (int y = 100; y < 360; ++y)
                if (image.pixelColor(x, y) == colour) return x;
        return -1;
    };
    EXPECT_EQ(firstColumn(QColor(255, 0, 255)) - firstColumn(QColor(232, 232, 232)), 3);
}

TEST_F(ScoreDlgTest, ARepaintDrawsTheSameScore) {
    dialog.SetScore(42.0f);
    const QImage first = dialog.grab().toImage();
    const QImage second = dialog.grab().toImage();
    EXPECT_EQ(first, second);
    dialog.SetScore(43.0f);
    EXPECT_NE(dialog.grab().toImage(), first);
}

TEST_F(ScoreDlgTest, EnterAndEscapeHideIt) {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        dialog.show();
        ASSERT_TRUE(dialog.isVisible());
        QTest::keyClick(&dialog, key);
        EXPECT_FALSE(dialog.isVisible()) << key;
    }
    dialog.OnOK();  // hiding a hidden dialog is harmless
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
