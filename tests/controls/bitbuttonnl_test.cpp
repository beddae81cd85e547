#include "controls/bitbuttonnl.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resources.h"

namespace {

// A 246 × 44 picture of one colour with a 4 × 4 marker square at (10, 10).
QPixmap Face(const QColor& colour) {
    QImage image(246, 44, QImage::Format_ARGB32);
    image.fill(colour);
    QPainter(&image).fillRect(10, 10, 4, 4, Qt::black);
    return QPixmap::fromImage(image);
}

class BitButtonTest : public ::testing::Test {
protected:
    BitButtonTest() {
        parent.resize(800, 600);
        button = new CBitButtonNL(QStringLiteral("开始演唱"), &parent);
        button->setGeometry(282, 188, 184, 40);
        button->Attach();
        button->SetSoundPlayer([this](const QString& file, bool wait) {
            played.push_back(file.toStdString() + (wait ? " wait" : ""));
        });
        parent.show();
    }

    QImage Shot() { return button->grab().toImage(); }

    QWidget parent;
    CBitButtonNL* button = nullptr;
    std::vector<std::string> played;
};

TEST_F(BitButtonTest, FitToImageTakesTheNormalPicturesSize) {
    const QPoint where = button->pos();
    button->FitToImage();  // nothing to fit to yet
    EXPECT_EQ(button->size(), QSize(184, 40));
    ASSERT_TRUE(button->SetImages(Face(Qt::red), QPixmap(), Face(Qt::green)));
    button->FitToImage();
    EXPECT_EQ(button->size(), QSize(246, 44));
    EXPECT_EQ(button->pos(), where);
}

TEST_F(BitButtonTest, TheDialogsFacesMakeButtonsOf246By44) {
    for (const auto& [normal, hover] : {std::pair{res::kBitmapStart, res::kBitmapStartHover},
                                        {res::kBitmapSettings, res::kBitmapSettingsHover},
                                        {res::kBitmapHelp, res::kBitmapHelpHover},
                                        {res::kBitmapExit, res::kBitmapExitHover}}) {
        ASSERT_TRUE(button->LoadImages(normal, 0, hover, 0)) << normal;
        button->FitToImage();
        EXPECT_EQ(button->size(), QSize(246, 44)) << normal;
        EXPECT_FALSE(button->Image(CBitButtonNL::kHover).isNull()) << hover;
        EXPECT_TRUE(button->Image(CBitButtonNL::kPressed).isNull());
    }
}

TEST_F(BitButtonTest, WithoutTheNormalPictureNothingIsKept) {
    EXPECT_FALSE(button->SetImages(QPixmap(), Face(Qt::red), Face(Qt::green)));
    for (int slot = 0; slot < 4; ++slot) EXPECT_TRUE(button->Image(slot).isNull()) << slot;
}

TEST_F(BitButtonTest, HoverShowsTheHoverPictureAndPlaysItsSound) {
    button->SetImages(Face(Qt::red), QPixmap(), Face(Qt::green));
    button->FitToImage();
    button->SetButtonSound(QStringLiteral("hover.wav"), CBitButtonNL::kHoverSound);
    EXPECT_EQ(Shot().pixelColor(100, 30), QColor(Qt::red));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(button, &enter);
    EXPECT_TRUE(button->IsHovered());
    EXPECT_EQ(Shot().pixelColor(100, 30), QColor(Qt::green));
    EXPECT_EQ(played, std::vector<std::string>{"hover.wav"});
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->IsHovered());
    EXPECT_EQ(Shot().pixelColor(100, 30), QColor(Qt::red));
}

TEST_F(BitButtonTest, HoverFollowsTheMouseMovingWithTheLeftButtonUp) {
    button->SetImages(Face(Qt::red), QPixmap(), Face(Qt::green));
    button->FitToImage();
    auto move = [this](QPoint at, Qt::MouseButtons held) {
        QMouseEvent event(QEvent::MouseMove, QPointF(at), button->mapToGlobal(QPointF(at)),
                          Qt::NoButton, held, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    };
    // Entered with the left button held (a drag from elsewhere): no hover yet.
    move({20, 20}, Qt::LeftButton);
    EXPECT_FALSE(button->IsHovered());
    // The button is let go and the mouse moves on: hovered.
    move({22, 20}, Qt::NoButton);
    EXPECT_TRUE(button->IsHovered());
    EXPECT_EQ(Shot().pixelColor(100, 30), QColor(Qt::green));
    // Held again while hovered: still hovered; dragged out of the button: no longer.
    move({30, 20}, Qt::LeftButton);
    EXPECT_TRUE(button->IsHovered());
    move({300, 20}, Qt::LeftButton);
    EXPECT_FALSE(button->IsHovered());
}

TEST_F(BitButtonTest, ABitmapThatCannotBeLoadedReleasesThemAll) {
    ASSERT_TRUE(button->LoadImages(res::kBitmapStart, 0, res::kBitmapStartHover, 0));
    EXPECT_FALSE(button->LoadImages(res::kBitmapStart, 0, res::kBitmapStartHover, 99999));  // none
    for (int slot = 0; slot < 4; ++slot) EXPECT_TRUE(button->Image(slot).isNull()) << slot;
}

TEST_F(BitButtonTest, WithoutAPressedPictureThePressedButtonMovesOnePixel) {
    button->SetImages(Face(Qt::red));
    button->FitToImage();
    EXPECT_EQ(Shot().pixelColor(10, 10), QColor(Qt::black));
    button->setDown(true);
    const QImage pressed = Shot();
    EXPECT_EQ(pressed.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(pressed.pixelColor(11, 11), QColor(Qt::black));
    EXPECT_EQ(pressed.pixelColor(14, 14), QColor(Qt::black));
}

TEST_F(BitButtonTest, ADisabledButtonWithoutItsPictureIsGrey) {
    button->SetImages(Face(QColor(200, 40, 40)));
    button->setEnabled(false);
    const QColor shown = Shot().pixelColor(100, 30);
    EXPECT_EQ(shown.red(), shown.green());
    EXPECT_EQ(shown.green(), shown.blue());
}

TEST_F(BitButtonTest, AClickTakesTheFocusPlaysItsSoundAndReachesTheParent) {
    button->SetImages(Face(Qt::red));
    button->FitToImage();
    button->SetButtonSound(QStringLiteral("click.wav"), CBitButtonNL::kClickSound, false);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(50, 20));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(button->hasFocus() || !QApplication::focusWidget());
    EXPECT_EQ(played.back(), "click.wav wait");
    button->SetButtonSound(QString(), CBitButtonNL::kClickSound);
    EXPECT_TRUE(button->ButtonSound(CBitButtonNL::kClickSound).isEmpty());
}

TEST_F(BitButtonTest, TextAlignmentAcceptsOnlyLeftRightAndCentre) {
    button->SetTextAlignment(0);
    EXPECT_EQ(button->TextAlignment(), 0);
    button->SetTextAlignment(3);
    EXPECT_EQ(button->TextAlignment(), 0);
    button->SetTextAlignment(-1);
    EXPECT_EQ(button->TextAlignment(), 0);
    button->SetTextAlignment(1);
    EXPECT_EQ(button->TextAlignment(), 1);
}

TEST_F(BitButtonTest, TheCaptionIsDrawnOnlyWhenShown) {
    button->SetImages(Face(Qt::white));
    button->FitToImage();
    button->SetTextColours(Qt::blue, Qt::blue, Qt::blue);
    auto blue = [&] {
        const QImage image = Shot();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 20; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);  // the text is smoothed into the white
                count += c.blue() > 200 && c.red() < 150 && c.green() < 150;
            }
        return count;
    };
    EXPECT_EQ(blue(), 0);
    button->ShowText(true);
    EXPECT_GT(blue(), 20);
}

}  // namespace
