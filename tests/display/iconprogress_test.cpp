#include "display/iconprogress.h"

#include "app/controlids.h"
#include "res/resources.h"

#include <QApplication>
#include <QImage>
#include <QLabel>

#include <gtest/gtest.h>

#include <thread>

namespace {

// A parent with a placeholder control of the given id and rectangle (pixels).
class IconProgressTest : public ::testing::Test {
protected:
    CIconProgress& Make(const QRect& rect, int spacing = 4, int zigZag = 0,
                        int id = ids::kLineBar) {
        auto* placeholder = new QLabel(&parent);
        placeholder->setObjectName(QString::number(id));
        placeholder->setGeometry(rect);
        placeholder->show();
        bar.SubclassCreate(id, &parent, res::kIconTomato, spacing, Qt::black, zigZag);
        return bar;
    }

    // The icons drawn, told by how far right (or, stacked, how far up) the painting reaches: the
    // slots overlap, and the last one drawn lies on top.
    int IconsDrawn() {
        QApplication::processEvents();
        const QImage image = bar.grab().toImage();
        const QImage icon = res::LoadIconPixmap(res::kIconTomato).toImage();
        int iconEdge = -1;  // the icon's own right-most drawn column
        for (int x = 0; x < icon.width(); ++x)
            for (int y = 0; y < icon.height(); ++y)
                if (qAlpha(icon.pixel(x, y)) > 0) iconEdge = x;
        int edge = -1;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (image.pixelColor(x, y) != QColor(Qt::black)) edge = x;
        if (edge < 0) return 0;
        for (int n = 1; n <= bar.Slots(); ++n)
            if (bar.SlotOrigin(n - 1).x() + iconEdge == edge) return n;
        return -1;
    }

    QWidget parent;
    CIconProgress bar;
};

TEST_F(IconProgressTest, TakesThePlaceOfItsPlaceholder) {
    parent.show();
    Make(QRect(58, 446, 144, 24));
    EXPECT_EQ(bar.geometry(), QRect(58, 446, 144, 24));
    EXPECT_EQ(bar.objectName(), QString::number(ids::kLineBar));
    EXPECT_EQ(parent.findChild<QWidget*>(QString::number(ids::kLineBar)), &bar);
    EXPECT_FALSE(
        parent.findChild<QWidget*>(QString::number(ids::kLineBar) + "-replaced")->isVisible());
    EXPECT_TRUE(bar.isVisible());
    // 28 × 4 + 32 ≥ 144 first: 28 slots, centred.
    EXPECT_EQ(bar.Slots(), 28);
    EXPECT_FALSE(bar.IsVertical());
    EXPECT_EQ(bar.SlotOrigin(0), QPoint(2, -4));
    EXPECT_EQ(bar.SlotOrigin(27), QPoint(2 + 27 * 4, -4));
}

TEST_F(IconProgressTest, SeventeenSlotsShowSixteenIconsAt99) {
    Make(QRect(0, 0, 100, 32));
    ASSERT_EQ(bar.Slots(), 17);
    bar.SetRange32(0, 100);
    bar.SetPos(99);
    EXPECT_EQ(bar.IconsFor(99), 16);  // trunc(99 / (101 / 17))
    EXPECT_EQ(bar.Shown(), 16);
    EXPECT_EQ(IconsDrawn(), 16);
    bar.SetPos(100);
    EXPECT_EQ(bar.Shown(), 17);
    EXPECT_EQ(IconsDrawn(), 17);
    bar.SetPos(0);
    EXPECT_EQ(IconsDrawn(), 0);
}

TEST_F(IconProgressTest, PositionsAreHeldInTheRange) {
    Make(QRect(0, 0, 100, 32));
    EXPECT_EQ(bar.SetPos(-5), 0);
    EXPECT_EQ(bar.GetPos(), 0);
    EXPECT_EQ(bar.Shown(), 0);
    EXPECT_EQ(bar.SetPos(500), 0);
    EXPECT_EQ(bar.GetPos(), 100);
    EXPECT_EQ(bar.Shown(), 17);
    EXPECT_EQ(bar.OffsetPos(-30), 100);
    EXPECT_EQ(bar.SetStep(20), 10);
    EXPECT_EQ(bar.StepIt(), 70);
    EXPECT_EQ(bar.GetPos(), 90);
    bar.SetRange(-5, 40);  // sign-extended
    int lower = 0, upper = 0;
    bar.GetRange(lower, upper);
    EXPECT_EQ(lower, -5);
    EXPECT_EQ(upper, 40);
    EXPECT_EQ(bar.GetPos(), 40);
    EXPECT_EQ(bar.Shown(), 17);
}

TEST_F(IconProgressTest, ASquareControlStacksItsSlotsFromTheBottomUp) {
    Make(QRect(0, 0, 40, 40));
    EXPECT_TRUE(bar.IsVertical());
    ASSERT_EQ(bar.Slots(), 2);  // 2 × 4 + 32 ≥ 40
    // extent 36: start = (36 + 40) / 2 − 32 = 6; across = (40 − 32) / 2 = 4
    EXPECT_EQ(bar.SlotOrigin(0), QPoint(4, 6));
    EXPECT_EQ(bar.SlotOrigin(1), QPoint(4, 2));
}

TEST_F(IconProgressTest, SpacingZeroActsAsOne) {
    Make(QRect(0, 0, 40, 32), /*spacing=*/0);
    EXPECT_EQ(bar.Slots(), 8);  // 8 × 1 + 32 ≥ 40
    EXPECT_EQ(bar.SlotOrigin(1).x() - bar.SlotOrigin(0).x(), 1);
}

TEST_F(IconProgressTest, ZigZagLowersEverySecondSlot) {
    Make(QRect(0, 0, 100, 40), 4, /*zigZag=*/6);
    EXPECT_EQ(bar.SlotOrigin(0).y(), 1);  // (40 − 32 − 6) / 2
    EXPECT_EQ(bar.SlotOrigin(1).y(), 7);
    EXPECT_EQ(bar.SlotOrigin(2).y(), 1);
}

TEST_F(IconProgressTest, SetPosFromAnotherThreadRepaintsOnTheWidgetsThread) {
    Make(QRect(0, 0, 100, 32));
    std::thread poller([this] {
        for (int pos = 0; pos <= 60; ++pos) bar.SetPos(pos);
    });
    poller.join();
    EXPECT_EQ(bar.GetPos(), 60);
    EXPECT_EQ(IconsDrawn(), bar.IconsFor(60));
}

TEST_F(IconProgressTest, SetIconChangesTheSlotsFromAPositionOn) {
    Make(QRect(0, 0, 100, 32));
    bar.SetPos(100);
    const QImage before = bar.grab().toImage();
    bar.SetIcon(res::kIconGirl, 50);
    const QImage after = bar.grab().toImage();
    // Slots 0 to 7 keep the tomato (IconsFor(50) = 8); the others show the girl.
    const auto& icons = bar.Icons();
    ASSERT_EQ(icons.size(), 17);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(icons[i].cacheKey() == icons[0].cacheKey(), i < 8) << i;
    // The last slot lies on top of the others: the picture there changed.
    const QRect last(bar.SlotOrigin(16), QSize(32, 32));
    EXPECT_NE(before.copy(last), after.copy(last));
}

}  // namespace
