#include "controls/hyperlink.h"

#include <QApplication>
#include <QCursor>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CutBrowserCommand, CutsAtThePlaceholder) {
    // A quoted placeholder goes with its quotes; the space before it stays.
    EXPECT_EQ(CHyperLink::CutBrowserCommand("\"/usr/bin/browser\" -nohome \"%1\""),
              "\"/usr/bin/browser\" -nohome ");
    EXPECT_EQ(CHyperLink::CutBrowserCommand("browser --new-window %1 --private"),
              "browser --new-window ");
    EXPECT_EQ(CHyperLink::CutBrowserCommand("browser"), "browser");
    // The quoted form is looked for first, wherever the bare one lies.
    EXPECT_EQ(CHyperLink::CutBrowserCommand("b %1x \"%1\""), "b %1x ");
}

class HyperLinkTest : public ::testing::Test {
protected:
    HyperLinkTest() {
        parent.resize(800, 600);
        link = new CHyperLink(QStringLiteral("更多歌曲下载请点击.....      "), &parent);
        link->setAlignment(Qt::AlignRight | Qt::AlignTop);
        link->setGeometry(550, 448, 250, 18);
        link->SetOpeners(
            [this](const QString& target) {
                opened.push_back(target.toStdString());
                return shellWorks;
            },
            [this](const QString& command) {
                started.push_back(command.toStdString());
                return true;
            });
    }

    QWidget parent;
    CHyperLink* link = nullptr;
    bool shellWorks = true;
    std::vector<std::string> opened, started;
};

TEST_F(HyperLinkTest, AnEmptyTargetTakesTheTextAndAnEmptyTextShowsTheTarget) {
    link->Attach();
    EXPECT_EQ(link->GetTarget(), QStringLiteral("更多歌曲下载请点击.....      "));

    CHyperLink bare(QString(), &parent);
    bare.SetTarget(QStringLiteral("https://example.org/songs"));
    bare.Attach();
    EXPECT_EQ(bare.text(), QStringLiteral("https://example.org/songs"));
    EXPECT_EQ(bare.toolTip(), QStringLiteral("https://example.org/songs"));
}

TEST_F(HyperLinkTest, FitsToItsTextKeepingTheRightEdge) {
    link->Attach();
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->geometry().right(), 799);
    EXPECT_EQ(link->width(),
              QFontMetrics(link->font()).size(Qt::TextSingleLine, link->text()).width());
    link->ShowUnderline(false);
    EXPECT_FALSE(link->font().underline());
}

TEST_F(HyperLinkTest, ColoursFollowHoverAndVisits) {
    link->Attach();
    EXPECT_EQ(link->TextColour(), QColor(0, 0, 255));
    link->MarkVisited();
    EXPECT_EQ(link->TextColour(), QColor(85, 26, 139));
    parent.show();
    QCursor::setPos(link->mapToGlobal(link->rect().center()));
    link->CheckHover();
    if (!link->IsHovered()) GTEST_SKIP() << "this platform does not move the cursor";
    EXPECT_EQ(link->TextColour(), QColor(255, 0, 0));
}

TEST_F(HyperLinkTest, HoverIsNoticedWithinATimerTick) {
    parent.show();
    link->Attach();
    QCursor::setPos(link->mapToGlobal(link->rect().center()));
    if (QCursor::pos() != link->mapToGlobal(link->rect().center()))
        GTEST_SKIP() << "this platform does not move the cursor";
    // Two ticks of 100 ms on an idle machine; the wait leaves room for a loaded one.
    EXPECT_TRUE(QTest::qWaitFor([&] { return link->IsHovered(); }, 60000));
    QCursor::setPos(link->mapToGlobal(QPoint(-50, -50)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !link->IsHovered(); }, 60000));
}

TEST_F(HyperLinkTest, EveryTimerTickRepaintsHoveredOrNot) {
    // Counts the paints the control gets.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    parent.show();
    link->Attach();
    QApplication::processEvents();
    link->installEventFilter(&counter);
    QCursor::setPos(QPoint(0, 0));  // away from the control
    for (int tick = 0; tick < 3; ++tick) link->CheckHover();
    EXPECT_EQ(counter.paints, 3);
    EXPECT_FALSE(link->IsHovered());
}

TEST_F(HyperLinkTest, AClickVisitsAndOpensTheTarget) {
    link->SetTarget(QStringLiteral("https://example.org/songs"));
    link->Attach();
    parent.show();
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    EXPECT_TRUE(link->GetVisited());
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/songs"});
    EXPECT_TRUE(started.empty());
}

TEST_F(HyperLinkTest, WhenTheDesktopCannotOpenItTheBrowserCommandRuns) {
    shellWorks = false;
    qputenv("BROWSER", "\"/opt/web/browser\" -nohome \"%1\"");
    EXPECT_TRUE(link->OpenTarget(QStringLiteral("https://example.org")));
    qunsetenv("BROWSER");
    EXPECT_EQ(started,
              std::vector<std::string>{"\"/opt/web/browser\" -nohome  https://example.org"});
}

}  // namespace
