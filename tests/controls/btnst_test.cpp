#include "controls/btnst.h"

#include "platform/messages.h"
#include "res/resources.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

void PrintTo(const QColor& colour, std::ostream* out) {
    *out << "rgb(" << colour.red() << ", " << colour.green() << ", " << colour.blue() << ")";
}

namespace {

const QColor kOut(20, 40, 160), kIn(30, 150, 30), kFocus(140, 20, 140);
const QColor kLight(250, 250, 250), kMidlight(225, 225, 225), kDark(110, 110, 110),
    kShadow(35, 35, 35);

// A 12 × 12 icon: a 2-pixel transparent margin around 8 × 8 pixels of colour, no two alike.
QImage MakeIcon(int tint) {
    QImage icon(12, 12, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            icon.setPixel(x + 2, y + 2, qRgb(tint + 20 * x, 230 - 25 * y, 60 + 10 * (x + y)));
    return icon;
}

// The grey of a colour, by the luminance rule.
int Luminance(QRgb c) {
    return static_cast<int>(qRed(c) * 0.299 + qGreen(c) * 0.587 + qBlue(c) * 0.114);
}

// A parent that paints 4-pixel squares, different in its left and right halves.
class Backdrop : public QWidget {
public:
    static QColor At(int x, int y) {
        const bool odd = (x / 4 + y / 4) % 2;
        if (x < 100) return odd ? QColor(250, 120, 0) : QColor(0, 90, 160);
        return odd ? QColor(200, 200, 40) : QColor(160, 40, 160);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        for (int y = 0; y < height(); y += 4)
            for (int x = 0; x < width(); x += 4) painter.fillRect(x, y, 4, 4, At(x, y));
    }
};

class ButtonSTTest : public ::testing::Test {
protected:
    ButtonSTTest() {
        QPalette colours = parent.palette();
        colours.setColor(QPalette::Light, kLight);
        colours.setColor(QPalette::Midlight, kMidlight);
        colours.setColor(QPalette::Dark, kDark);
        colours.setColor(QPalette::Shadow, kShadow);
        parent.setPalette(colours);
        parent.resize(200, 100);
        button = new CButtonST(&parent);
        button->setGeometry(20, 20, 40, 30);
        button->setFocusPolicy(Qt::NoFocus);  // focus only where a test gives it
        button->SetStateColour(CButtonST::kColourIn, kIn, Qt::white, false);
        button->SetStateColour(CButtonST::kColourOut, kOut, Qt::yellow, false);
        button->SetStateColour(CButtonST::kColourFocus, kFocus, Qt::white, false);
        parent.show();
    }

    QImage Shot() {
        QApplication::processEvents();
        return button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    void Hover() {
        QEnterEvent enter(QPointF(5, 5), QPointF(25, 25), button->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(button, &enter);
    }
    void Leave() {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
    }
    // The first place where every opaque pixel of icon shows in the shot; (-1, -1) if none.
    static QPoint Find(const QImage& shot, const QImage& icon) {
        for (int y = 0; y + icon.height() <= shot.height(); ++y)
            for (int x = 0; x + icon.width() <= shot.width(); ++x)
                if (Matches(shot, icon, QPoint(x, y))) return {x, y};
        return {-1, -1};
    }
    static bool Matches(const QImage& shot, const QImage& icon, QPoint at) {
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                if (qAlpha(icon.pixel(x, y)) == 255 &&
                    shot.pixel(at.x() + x, at.y() + y) != icon.pixel(x, y))
                    return false;
        return true;
    }

    Backdrop parent;
    CButtonST* button;
};

TEST_F(ButtonSTTest, ASingleIconShowsInEveryStateAndMovesOnePixelWhileHeld) {
    const QImage icon = MakeIcon(40);
    button->SetIcons(QPixmap::fromImage(icon));
    const QPoint rest((40 - 12) / 2, (30 - 12) / 2);  // no text: centred
    EXPECT_EQ(Find(Shot(), icon), rest);
    Hover();
    EXPECT_EQ(Find(Shot(), icon), rest);
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(Find(Shot(), icon), rest + QPoint(1, 1));
    QTest::mouseRelease(button, Qt::LeftButton);
    Leave();
    EXPECT_EQ(Find(Shot(), icon), rest);
}

TEST_F(ButtonSTTest, TheOutIconShowsOnlyAtRest) {
    const QImage in = MakeIcon(40), out = MakeIcon(0);
    button->SetIcons(QPixmap::fromImage(in), QPixmap::fromImage(out));
    EXPECT_NE(Find(Shot(), out).x(), -1);
    Hover();
    EXPECT_NE(Find(Shot(), in).x(), -1);
    Leave();
    button->AttachStyle(CButtonST::kStyleAutoCheckBox);
    button->SetCheck(true);
    EXPECT_EQ(Find(Shot(), in), QPoint(14, 9)) << "checked shows the in icon, and does not move";
}

TEST_F(ButtonSTTest, ADisabledIconIsDrawnInTheGreyOfItsLuminance) {
    const QImage icon = MakeIcon(40);
    button->SetIcons(QPixmap::fromImage(icon));
    button->setEnabled(false);
    const QImage shot = Shot();
    for (int y = 2; y < 10; ++y)
        for (int x = 2; x < 10; ++x) {
            const int grey = Luminance(icon.pixel(x, y));
            ASSERT_EQ(shot.pixelColor(14 + x, 9 + y), QColor(grey, grey, grey)) << x << "," << y;
        }
}

TEST_F(ButtonSTTest, BitmapsAreDrawnThroughTheirMaskAndGreyWhenDisabledUnlessAskedNotTo) {
    QImage bitmap = MakeIcon(40).convertToFormat(QImage::Format_RGB32);
    const QRgb key = qRgb(255, 0, 255);
    for (int i = 0; i < 12; ++i) bitmap.setPixel(i, 0, key), bitmap.setPixel(0, i, key);
    button->SetBitmaps(QPixmap::fromImage(bitmap), key);
    QImage shot = Shot();
    EXPECT_EQ(shot.pixelColor(14, 9), kOut) << "the key colour is transparent";
    EXPECT_EQ(shot.pixel(14 + 5, 9 + 5), bitmap.pixel(5, 5));
    button->setEnabled(false);
    const int grey = Luminance(bitmap.pixel(5, 5));
    EXPECT_EQ(Shot().pixelColor(14 + 5, 9 + 5), QColor(grey, grey, grey));
    button->SetGreyDisabledBitmap(false);
    EXPECT_EQ(Shot().pixel(14 + 5, 9 + 5), bitmap.pixel(5, 5));
}

TEST(ButtonSTIcons, AResourceIconWithAGreyCopyShowsTheCopyAtRest) {
    const QImage icon =
        res::LoadIconPixmap(res::kIconBack).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(icon.isNull());
    QWidget parent;
    CButtonST button(&parent);
    button.setGeometry(0, 0, icon.width() + 20, icon.height() + 20);
    button.LoadIcons(res::kIconBack, CButtonST::kAutoGrey);
    button.SetStateColour(CButtonST::kColourOut, kOut, Qt::white);
    const QImage shot = button.grab().toImage();
    int checked = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) {
            if (qAlpha(icon.pixel(x, y)) != 255) continue;
            const int grey = Luminance(icon.pixel(x, y));
            ASSERT_EQ(shot.pixelColor(10 + x, 10 + y), QColor(grey, grey, grey)) << x << "," << y;
            ++checked;
        }
    EXPECT_GT(checked, 0);
}

TEST(ButtonSTIcons, AMissingIconLeavesTheButtonWithoutImagesAndSaysSo) {
    platform::MessageCapture capture;
    CButtonST button;
    button.resize(30, 30);
    button.SetStateColour(CButtonST::kColourOut, kOut, Qt::white);
    button.SetIcons(QPixmap::fromImage(MakeIcon(40)));
    button.LoadIcons(-12345, 0);
    EXPECT_EQ(capture.Traces(), std::vector<std::string>{"CButtonST: no icon -12345\n"});
    const QImage shot = button.grab().toImage();
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(shot.pixelColor(x, y), kOut);
}

// The frame of a button in a state, as the colours of its top-left and bottom-right pixels and
// of the pixels one further in.
struct Frame {
    const char* name;
    bool flat, showBorder, hover, press, focus;
    QColor outerTopLeft, outerBottomRight, innerTopLeft, innerBottomRight;
};

void PrintTo(const Frame& frame, std::ostream* out) { *out << frame.name; }

class ButtonSTFrame : public ButtonSTTest, public ::testing::WithParamInterface<Frame> {};

TEST_P(ButtonSTFrame, DrawsTheFrameOfTheState) {
    const Frame& f = GetParam();
    button->SetFlatStyle(f.flat);
    button->ShowBorder(f.showBorder);
    if (f.focus) {
        button->setFocusPolicy(Qt::StrongFocus);
        button->setFocus();
    }
    if (f.hover) Hover();
    if (f.press) QTest::mousePress(button, Qt::LeftButton);
    const QImage shot = Shot();
    EXPECT_EQ(shot.pixelColor(0, 0), f.outerTopLeft);
    EXPECT_EQ(shot.pixelColor(39, 29), f.outerBottomRight);
    EXPECT_EQ(shot.pixelColor(1, 1), f.innerTopLeft);
    EXPECT_EQ(shot.pixelColor(38, 28), f.innerBottomRight);
    if (f.press) QTest::mouseRelease(button, Qt::LeftButton);
}

INSTANTIATE_TEST_SUITE_P(
    States, ButtonSTFrame,
    ::testing::Values(
        Frame{"FlatAtRest", true, true, false, false, false, kOut, kOut, kOut, kOut},
        Frame{"FlatFocused", true, true, false, false, true, kFocus, kFocus, kFocus, kFocus},
        Frame{"FlatHover", true, true, true, false, false, kLight, kDark, kIn, kIn},
        Frame{"FlatPressed", true, true, false, true, false, kDark, kLight, kIn, kIn},
        Frame{"NoBorderHover", true, false, true, false, false, kIn, kIn, kIn, kIn},
        Frame{"NoBorderPressed", true, false, true, true, false, kIn, kIn, kIn, kIn},
        Frame{"RaisedAtRest", false, true, false, false, false, kLight, kShadow, kMidlight, kDark},
        Frame{"FocusedInBlack", false, true, false, false, true, Qt::black, Qt::black, kLight,
              kShadow},
        Frame{"SunkenPressed", false, true, false, true, false, kDark, kDark, kIn, kIn}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(ButtonSTTest, ATransparentButtonKeepsTheBackgroundOfItsFirstPaint) {
    const QImage icon = MakeIcon(40);
    button->SetIcons(QPixmap::fromImage(icon));
    button->SetTransparent();
    // A sibling below the button covers its left quarter, one above it its right quarter.
    QWidget below(&parent), above(&parent);
    below.setGeometry(0, 0, 30, 100);
    below.setStyleSheet("background: rgb(255, 0, 0)");
    below.stackUnder(button);
    above.setGeometry(50, 0, 100, 100);
    below.show();
    above.show();
    const auto showsParentAt = [&](const QImage& shot, QPoint origin) {
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                if (QRect(14 + 2, 9 + 2, 8, 8).contains(x, y)) continue;  // the icon's pixels
                const QPoint p = origin + QPoint(x, y);
                const QColor expected = p.x() < 30 ? QColor(255, 0, 0) : Backdrop::At(p.x(), p.y());
                if (shot.pixelColor(x, y) != expected) return false;
            }
        return true;
    };
    EXPECT_TRUE(showsParentAt(Shot(), {20, 20}));
    EXPECT_TRUE(Matches(Shot(), icon, {14, 9}));
    button->move(130, 50);
    EXPECT_TRUE(showsParentAt(Shot(), {20, 20})) << "moved, it still shows what it captured";
    button->SetTransparent();
    EXPECT_TRUE(showsParentAt(Shot(), {130, 50}));
}

TEST_F(ButtonSTTest, TextTakesTheForegroundOfTheStateAndIsEmbossedWhenDisabled) {
    button->setText("HHHH");
    const auto shows = [&](const QColor& colour) {
        const QImage shot = Shot();
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (shot.pixelColor(x, y) == colour) return true;
        return false;
    };
    EXPECT_TRUE(shows(Qt::yellow));
    EXPECT_FALSE(shows(Qt::white));
    Hover();
    EXPECT_TRUE(shows(Qt::white));
    EXPECT_FALSE(shows(Qt::yellow));
    button->setEnabled(false);
    EXPECT_TRUE(shows(kLight));
    EXPECT_TRUE(shows(kDark));
    EXPECT_FALSE(shows(Qt::yellow));
}

TEST_F(ButtonSTTest, ACheckBoxTogglesBeforeTheParentHearsOfTheClick) {
    std::vector<bool> heard;
    QObject::connect(button, &QAbstractButton::clicked,
                     [&] { heard.push_back(button->GetCheck()); });
    button->SetCheck(true);
    EXPECT_FALSE(button->GetCheck()) << "a push button has no check";
    button->AttachStyle(CButtonST::kStyleAutoCheckBox);
    EXPECT_TRUE(button->IsCheckBox());
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));
    button->SetCheck(true);
    EXPECT_EQ(Shot().pixelColor(20, 2), kIn) << "checked draws as pressed";
}

TEST_F(ButtonSTTest, TheStyleOfTheControlDecidesTheKind) {
    button->AttachStyle(0x50010000u | CButtonST::kStyleDefPushButton);
    EXPECT_TRUE(button->isDefault());
    EXPECT_FALSE(button->IsCheckBox());
    button->AttachStyle(CButtonST::kStyleCheckBox);
    EXPECT_FALSE(button->isDefault());
    EXPECT_TRUE(button->IsCheckBox());
}

TEST_F(ButtonSTTest, HoverFollowsTheMouseForFlatButtonsOnly) {
    Hover();
    EXPECT_TRUE(button->IsHover());
    EXPECT_EQ(Shot().pixelColor(20, 15), kIn);
    Leave();
    EXPECT_FALSE(button->IsHover());
    EXPECT_EQ(Shot().pixelColor(20, 15), kOut);
    QTest::mouseMove(button, {10, 10});  // the pointer really comes in
    EXPECT_TRUE(button->IsHover());
    QTest::mouseMove(&parent, {150, 80});
    EXPECT_FALSE(button->IsHover());
    Hover();
    button->setEnabled(false);
    EXPECT_FALSE(button->IsHover()) << "disabling ends it";
    button->setEnabled(true);
    button->SetFlatStyle(false);
    Hover();
    EXPECT_FALSE(button->IsHover());
}

TEST_F(ButtonSTTest, HoverNeedsTheLeftButtonUpToStartAndEndsWhenDraggedOut) {
    QMouseEvent drag(QEvent::MouseMove, QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &drag);
    EXPECT_FALSE(button->IsHover()) << "a press that began elsewhere";
    Hover();
    QTest::mousePress(button, Qt::LeftButton);
    QTest::mouseMove(button, {-30, 10});  // held, so the button still gets the moves
    EXPECT_FALSE(button->IsHover());
    QTest::mouseRelease(button, Qt::LeftButton, {}, {-30, 10});
}

TEST_F(ButtonSTTest, AClickOpensTheLinkTargetThroughTheOpener) {
    std::vector<QUrl> opened;
    button->SetLinkOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(opened.empty()) << "no target, nothing opened";
    button->SetLinkTarget("https://example.org/songs");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://example.org/songs"));
    button->AttachStyle(CButtonST::kStyleAutoCheckBox);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u) << "a check box only toggles";
    button->SetLinkTarget(QString(300, 'a'));
    EXPECT_EQ(button->LinkTarget().size(), CButtonST::kLinkTargetSize - 1);
}

TEST(BCMenu, LivesAndDiesWithItsButtonAndIsNeverOneOfOurs) {
    const int before = BCMenu::Alive();
    auto button = std::make_unique<CButtonST>();
    EXPECT_EQ(BCMenu::Alive(), before + 1);
    QMenu menu;
    EXPECT_FALSE(BCMenu::IsMenu(&menu));
    EXPECT_FALSE(BCMenu::IsMenu(nullptr));
    button.reset();
    EXPECT_EQ(BCMenu::Alive(), before);
}

// Where the image goes beside text, for each alignment: a 12 × 12 icon in a 100 × 40 button.
struct Placement {
    const char* name;
    int align;
    bool text;
    QPoint at;
};

void PrintTo(const Placement& placement, std::ostream* out) { *out << placement.name; }

class ButtonSTPlacement : public ButtonSTTest, public ::testing::WithParamInterface<Placement> {};

TEST_P(ButtonSTPlacement, PutsTheImageByTheAlignment) {
    const Placement& p = GetParam();
    const QImage icon = MakeIcon(40);
    button->resize(100, 40);
    button->SetIcons(QPixmap::fromImage(icon));
    button->SetImageAlignment(p.align);
    if (p.text) button->setText("x");
    EXPECT_EQ(Find(Shot(), icon), p.at);
}

INSTANTIATE_TEST_SUITE_P(
    Alignments, ButtonSTPlacement,
    ::testing::Values(Placement{"LeftOfText", CButtonST::kAlignLeft, true, {3, 14}},
                      Placement{"AboveText", CButtonST::kAlignTop, true, {44, 3}},
                      Placement{"RightOfText", CButtonST::kAlignRight, true, {85, 3}},
                      Placement{"CentredWithoutText", CButtonST::kAlignLeft, false, {44, 14}},
                      Placement{"RightStaysAtTheTop", CButtonST::kAlignRight, false, {44, 3}}),
    [](const auto& instance) { return std::string(instance.param.name); });

}  // namespace
