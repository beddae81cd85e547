// The review's line picture, checked at its key points: a note bar where its note plays, the
// heard curve at its pitch in its verdict's colour.
#include "display/lineplot.h"

#include <gtest/gtest.h>

namespace {

engine::LineReview MadeLine() {
    engine::LineReview review;
    review.duration = 3.0;
    review.notes = {{0.5, 1.5, 600, "海"}, {1.5, 2.5, 640, "边"}};
    for (double t = 0.6; t < 1.4; t += 0.0116)
        review.heard.push_back({t, 600, engine::Verdict::Hit});
    for (double t = 1.6; t < 2.4; t += 0.0116)
        review.heard.push_back({t, 670, engine::Verdict::Miss});
    review.report.fScore = 62.5f;
    review.report.strGrade = "Good";
    return review;
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 30 && std::abs(a.green() - b.green()) < 30 &&
           std::abs(a.blue() - b.blue()) < 30;
}

TEST(LinePlot, DrawsTheNotesAndTheHeardCurveWhereTheyBelong) {
    const engine::LineReview review = MadeLine();
    const CLinePlot plot(review, 120);
    const QImage image = plot.Draw();
    ASSERT_EQ(image.size(), QSize(960, 360));
    // The first note's bar, away from the curve, in the note colour; the curve on it in the hit
    // colour; the second note sung three semitones high, in the miss colour above its bar.
    EXPECT_TRUE(Near(image.pixelColor(plot.Point(0.52, 600).toPoint()), CLinePlot::kNoteColour));
    EXPECT_TRUE(Near(image.pixelColor(plot.Point(1.0, 600).toPoint()), CLinePlot::kHitColour));
    EXPECT_TRUE(Near(image.pixelColor(plot.Point(2.0, 670).toPoint()), CLinePlot::kMissColour));
    EXPECT_TRUE(Near(image.pixelColor(plot.Point(2.0, 640).toPoint()), CLinePlot::kNoteColour));
    // One semitone is the same height everywhere, and higher notes lie higher.
    EXPECT_NEAR(plot.Point(0, 600).y() - plot.Point(0, 610).y(),
                plot.Point(0, 660).y() - plot.Point(0, 670).y(), 1e-9);
    EXPECT_GT(plot.Point(0, 600).y(), plot.Point(0, 640).y());
    EXPECT_TRUE(plot.Area().contains(plot.Point(2.9, 670)));
}

}  // namespace
