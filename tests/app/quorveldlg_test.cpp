// The main dialog driven as a user drives it, on the offscreen platform, in a song library made
// for the test.
#include "app/quorveldlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QInputDialog>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/controlids.h"
#include "app/judgingsettings.h"
#include "app/librarysettings.h"
#include "app/listsettings.h"
#include "app/songlistdelegate.h"
#include "display/historypage.h"
#include "display/lineplot.h"
#include "display/reviewpage.h"
#include "history/songhash.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "platform/wavefilecapture.h"
#include "res/resources.h"
#include "tests/library/ultrastartext.h"
#include "tests/support/brokencapture.h"
#include "tests/support/clockplayer.h"
#include "tests/support/performance.h"
#include "tests/support/tonewav.h"

namespace {

using namespace testing_support;

// A native song with its music (silence, a minute: longer than the test songs' lines), which
// the song list looks at.
std::filesystem::path SongWithMusic(const std::filesystem::path& library, const std::string& name,
                                    const SongFiles& files, bool medley = false) {
    const std::filesystem::path folder = WriteSong(library, name, files, medley);
    WriteTones((folder / "music.mp3").string(), {{0, 60.0}}, 8000);
    return folder;
}

class DialogTest : public ::testing::Test {
protected:
    DialogTest() : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(library.Path());
    }
    ~DialogTest() override { std::filesystem::current_path(m_previous); }

    // A dialog whose microphone is fed by hand (or plays a WAV file) and whose accompaniment is a
    // silent clock.
    std::unique_ptr<CQuorvelDlg> MakeDialog(const std::string& captureFile = "") {
        CQuorvelDlg::Devices devices;
        if (captureFile.empty())
            devices.makeCapture = [] { return std::make_unique<platform::CManualCapture>(); };
        else
            devices.makeCapture = [captureFile] {
                return std::make_unique<platform::CWaveFileCapture>(captureFile);
            };
        devices.makePlayer = [] { return std::make_unique<ClockPlayer>(); };
        auto dialog = std::make_unique<CQuorvelDlg>(std::move(devices));
        EXPECT_TRUE(dialog->OnInitDialog());
        dialog->show();
        return dialog;
    }

    static std::set<int> VisibleIds(const CQuorvelDlg& dialog) {
        std::set<int> ids;
        for (QWidget* child :
             dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            bool number = false;
            const int id = child->objectName().toInt(&number);
            if (number && child->isVisible()) ids.insert(id);
        }
        return ids;
    }

    static QString Box(const CQuorvelDlg& dialog, int id) {
        return static_cast<QLineEdit*>(dialog.Control(id))->text();
    }

    // A click on an entry of the song list (row −1: no entry is current any more).
    static void Pick(CQuorvelDlg& dialog, int row) {
        auto* list = static_cast<QListWidget*>(dialog.Control(ids::kSongList));
        if (row < 0) {
            list->setCurrentRow(-1);
            return;
        }
        QListWidgetItem* item = list->item(row);
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
    }

    // Songs with their music (silence, longer than their lines), which the list looks at.
    void Songs(bool medley, const std::vector<std::string>& names, int lines = 2) {
        unsigned seed = 1;
        for (const std::string& name : names)
            Music(
                WriteSong(library.Path(), name, SongFilesOf(MakeMelody(lines, 3, seed++)), medley) /
                    "music.mp3",
                5.0 + 10.0 * lines);
    }
    // An UltraStar song (ultrastartext.h) with its music.
    static void UltraStar(const std::filesystem::path& folder, const std::string& text) {
        WriteFile(folder / "song.txt", text);
        Music(folder / "song.mp3", 3.0);
    }
    static void Music(const std::filesystem::path& file, double seconds) {
        WriteTones(file.string(), {{0, seconds}}, 8000);
    }

    // Home → type choice → the list of the given kind, once the library's scan has shown in it.
    static void ToList(CQuorvelDlg& dialog, bool medley) {
        dialog.OnStartSinging();
        dialog.OnTypeChoiceClick(
            dialog.Control(medley ? ids::kMedleysPicture : ids::kSinglesPicture)
                ->geometry()
                .center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.IsSongListCurrent(); }, 120000))
            << "the library's scan did not end";
    }

    TemporaryFolder library;
    platform::MessageCapture messages;
    std::filesystem::path m_previous;
};

TEST_F(DialogTest, StartsOnTheHomeScreenWithItsFourButtons) {
    auto dialog = MakeDialog();
    EXPECT_EQ(VisibleIds(*dialog), (std::set<int>{ids::kStartButton, ids::kSettingsButton,
                                                  ids::kHelpButton, ids::kExitButton}));
    EXPECT_EQ(dialog->Screen(), 0);
    // The home background fills the client area (a corner no control covers).
    const QImage shown = dialog->grab().toImage();
    const QImage background = res::LoadBitmap(res::kBitmapHome).toImage();
    EXPECT_EQ(shown.pixelColor(5, 300), background.pixelColor(5, 300));
    EXPECT_EQ(shown.pixelColor(790, 20), background.pixelColor(790, 20));
    EXPECT_EQ(dialog->Control(ids::kStartButton)->size(), QSize(246, 44));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(DialogTest, WithoutAMicrophoneBothMessagesComeInOrder) {
    CQuorvelDlg::Devices devices;
    devices.makeCapture = [] { return std::make_unique<BrokenCapture>(); };
    CQuorvelDlg dialog(std::move(devices));
    EXPECT_TRUE(dialog.OnInitDialog()) << "the window is built whole all the same";
    EXPECT_EQ(messages.Messages(),
              (std::vector<std::string>{"Audio can not be open!", "打开录音设备出错！"}));
    EXPECT_EQ(messages.Captions().back(), "警告");
    // Its buttons do not crash the program.
    dialog.OnStartSinging();
    dialog.OnHelpPage();
    dialog.OnSettingsPage();
    dialog.OnConfirm();
    dialog.OnStopSinging();
}

TEST_F(DialogTest, TheScoreShowsWithoutTakingTheFocusAndTakesItWhenClicked) {
    auto dialog = MakeDialog();
    dialog->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == dialog->windowHandle(); }));
    dialog->ShowScore();
    CScoreDlg* score = dialog->ScoreDlg();
    ASSERT_TRUE(score->isVisible());
    EXPECT_EQ(QGuiApplication::focusWindow(), dialog->windowHandle()) << "the score took the focus";
    // A click on it gives it the focus (the offscreen platform activates any window asked to, so
    // the flag that would forbid it is checked too); Escape then hides it.
    EXPECT_FALSE(score->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    score->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == score->windowHandle(); }));
    QTest::keyClick(score, Qt::Key_Escape);
    EXPECT_FALSE(score->isVisible());
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogTest, EnterAndSpaceDoNothingAndEscapeEnds) {
    auto dialog = MakeDialog();
    dialog->Control(ids::kStartButton)->setFocus();
    QTest::keyClick(dialog->Control(ids::kStartButton), Qt::Key_Space);
    QTest::keyClick(dialog->Control(ids::kStartButton), Qt::Key_Return);
    EXPECT_EQ(dialog->Screen(), 0);
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(DialogTest, TheGradeIsPaintedOnBlackInItsColourOnlyWhileTheWindowIsInFront) {
    auto dialog = MakeDialog();
    QWidget* label = dialog->Control(ids::kGradeLabel);
    label->show();
    auto paintedIn = [&](const QColor& colour) {  // share of the label's pixels
        const QImage shot = dialog->grab().toImage();
        const QRect area = label->geometry();
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += shot.pixelColor(x, y) == colour;
        return double(count) / (area.width() * area.height());
    };
    auto inFront = [](QWidget* window) {
        window->activateWindow();
        return QTest::qWaitFor(
            [&] { return QGuiApplication::focusWindow() == window->windowHandle(); });
    };
    ASSERT_TRUE(inFront(dialog.get()));
    const struct {
        const char* word;
        QColor colour;
    } grades[] = {{"Perfect", QColor(255, 0, 0)},
                  {"Great", QColor(255, 0, 255)},
                  {"Good", QColor(255, 128, 0)},
                  {"Poor", QColor(0, 128, 0)},
                  {"Miss", QColor(128, 128, 128)}};
    for (const auto& [word, colour] : grades) {
        dialog->SetGradeText(word);
        EXPECT_GT(paintedIn(Qt::black), 0.5) << word;
        EXPECT_GT(paintedIn(colour), 0.01) << word;
    }
    dialog->SetGradeText("Perfect");

    // Another program's window in front: hollow, the dialog's background shows through.
    QWidget other;
    other.resize(100, 100);
    other.show();
    ASSERT_TRUE(inFront(&other));
    EXPECT_LT(paintedIn(Qt::black), 0.5);
    EXPECT_EQ(paintedIn(QColor(255, 0, 0)), 0.0);
    other.hide();
    ASSERT_TRUE(inFront(dialog.get()));
    EXPECT_GT(paintedIn(Qt::black), 0.5);
    EXPECT_GT(paintedIn(QColor(255, 0, 0)), 0.01);
}

TEST_F(DialogTest, OnlySubFoldersAreListed) {
    Songs(true, {"一", "二"});
    for (const char* file : {"a.txt", "b.mp3", "c"})
        WriteFile(library.Path() / "歌曲/串烧歌曲" / file, "x");
    auto dialog = MakeDialog();
    ToList(*dialog, true);
    auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
    std::set<QString> names;
    for (int i = 0; i < list->count(); ++i) names.insert(list->item(i)->text());
    EXPECT_EQ(names, (std::set<QString>{"一", "二"}));
    EXPECT_EQ(dialog->Screen(), 1);
}

TEST_F(DialogTest, PickingFillsTheEmptyBoxesInOrder) {
    Songs(true, {"a", "b", "c", "d", "e"});
    auto dialog = MakeDialog();
    ToList(*dialog, true);
    for (int row = 0; row < 5; ++row) Pick(*dialog, row);
    std::set<QString> boxes;
    for (int id : ids::kSongBoxes) {
        EXPECT_FALSE(Box(*dialog, id).isEmpty()) << id;
        boxes.insert(Box(*dialog, id));
    }
    EXPECT_EQ(boxes.size(), 4u);  // the fifth pick changed nothing
    const QString fifth =
        static_cast<QListWidget*>(dialog->Control(ids::kSongList))->item(4)->text();
    EXPECT_EQ(boxes.count(fifth), 0u);

    // Clearing the second box and picking again fills it.
    dialog->OnClearSong(1);
    Pick(*dialog, 4);
    EXPECT_EQ(Box(*dialog, ids::kSongBox2), fifth);
}

TEST_F(DialogTest, TheUsersSelectionPicksEvenTheHighlightedEntryButTabbingInDoesNot) {
    Songs(true, {"a", "b"});
    auto dialog = MakeDialog();
    ToList(*dialog, true);
    auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
    // Tabbing into the freshly filled list puts nothing into a box.
    dialog->activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == dialog->windowHandle(); }));
    list->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), list);
    ASSERT_NE(list->currentRow(), -1) << "the list gave no entry the focus";
    for (int id : ids::kSongBoxes) EXPECT_TRUE(Box(*dialog, id).isEmpty()) << id;
    // The same entry clicked twice goes into two boxes.
    Pick(*dialog, 0);
    Pick(*dialog, 0);
    const QString first = list->item(0)->text();
    EXPECT_EQ(Box(*dialog, ids::kSongBox1), first);
    EXPECT_EQ(Box(*dialog, ids::kSongBox2), first);
    // A key that selects the next entry picks it.
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Box(*dialog, ids::kSongBox3), list->item(1)->text());
    EXPECT_TRUE(Box(*dialog, ids::kSongBox4).isEmpty());
}

TEST_F(DialogTest, AMedleyOfThreeIsRefused) {
    Songs(true, {"a", "b", "c"});
    auto dialog = MakeDialog();
    ToList(*dialog, true);
    for (int row = 0; row < 3; ++row) Pick(*dialog, row);
    dialog->OnConfirm();
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"请选择四首要演唱的歌曲"});
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_EQ(dialog->Screen(), 1);
}

TEST_F(DialogTest, BackFromTheMedleyListLeavesTheSingleBoxEmpty) {
    Songs(true, {"a"});
    Songs(false, {"s"});
    auto dialog = MakeDialog();
    ToList(*dialog, true);
    Pick(*dialog, 0);
    ASSERT_FALSE(Box(*dialog, ids::kSongBox1).isEmpty());
    dialog->OnListBack();
    EXPECT_EQ(dialog->Screen(), 3);
    dialog->OnTypeChoiceClick(dialog->Control(ids::kSinglesPicture)->geometry().center());
    EXPECT_TRUE(Box(*dialog, ids::kSingleSongBox).isEmpty());
    EXPECT_EQ(VisibleIds(*dialog).count(ids::kSongBox1), 0u);
}

// The texts of the song list's rows, top to bottom.
std::vector<QString> Rows(const CQuorvelDlg& dialog) {
    auto* list = static_cast<QListWidget*>(dialog.Control(ids::kSongList));
    std::vector<QString> rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text());
    return rows;
}

TEST_F(DialogTest, TypingInTheSearchBoxFiltersTheListByArtistAndTitle) {
    Songs(false, {"Café del Mar", "稻香"});
    UltraStar(library.Path() / "歌曲/单曲/aerzte", UltraStarText("Die Ärzte", "Schrei nach Liebe"));
    WriteFile(library.Path() / "歌曲/单曲/broken/song.txt", "#TITLE:Kaputt\n#BPM:schnell\n");
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    auto* search = static_cast<QLineEdit*>(dialog->Control(ids::kSongSearch));
    ASSERT_TRUE(search->isVisible());
    // Sorted: Chinese names by pinyin, then the others; a song that cannot be read is marked.
    const QString ärzte = QStringLiteral("Die Ärzte - Schrei nach Liebe");
    EXPECT_EQ(Rows(*dialog),
              (std::vector<QString>{QStringLiteral("稻香"), QStringLiteral("⚠ broken"),
                                    QStringLiteral("Café del Mar"), ärzte}));
    auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
    EXPECT_NE(list->item(1)->toolTip().indexOf(QStringLiteral("broken/song.txt: ")), -1)
        << list->item(1)->toolTip().toStdString();
    EXPECT_EQ(list->item(0)->toolTip(), QStringLiteral("稻香"));  // the whole name, however long

    search->setFocus();
    QTest::keyClicks(search, QStringLiteral("ARZTE"));
    EXPECT_EQ(Rows(*dialog), std::vector<QString>{ärzte});
    search->clear();
    EXPECT_EQ(Rows(*dialog).size(), 4u);
    // Words in any order, the space typed into the box.
    QTest::keyClicks(search, QStringLiteral("liebe schrei"));
    EXPECT_EQ(search->text(), QStringLiteral("liebe schrei"));
    EXPECT_EQ(Rows(*dialog), std::vector<QString>{ärzte});
    search->clear();
    QTest::keyClicks(search, QStringLiteral("cafe"));
    EXPECT_EQ(Rows(*dialog), std::vector<QString>{QStringLiteral("Café del Mar")});
    search->setText(QStringLiteral("稻"));
    EXPECT_EQ(Rows(*dialog), std::vector<QString>{QStringLiteral("稻香")});
    search->setText(QStringLiteral("liebe cafe"));
    EXPECT_TRUE(Rows(*dialog).empty());
    for (int id : ids::kSongBoxes)
        EXPECT_TRUE(Box(*dialog, id).isEmpty()) << "typing picks nothing";

    // Back at the list, the search starts afresh.
    dialog->OnListBack();
    EXPECT_FALSE(search->isVisible());
    ToList(*dialog, false);
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_EQ(Rows(*dialog).size(), 4u);
}

// The highlighted song's cover and details show beside the list (the default art for a broken
// cover); the order chosen orders the list and is kept.
TEST_F(DialogTest, TheHighlightedSongShowsItsCoverAndDetailsAndTheOrderIsKept) {
    ASSERT_TRUE(CListSettings{}.Save());  // by name, whatever an earlier test chose
    const std::filesystem::path singles = library.Path() / "歌曲/单曲";
    QImage picture(40, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    std::filesystem::create_directories(singles / "b");
    ASSERT_TRUE(picture.save(QString::fromStdString((singles / "b/front.png").string())));
    UltraStar(singles / "b", UltraStarText("Zed", "Bravo",
                                           "#COVER:front.png\n#YEAR:1999\n"
                                           "#GENRE:Pop\n#LANGUAGE:English\n"));
    UltraStar(singles / "a", UltraStarText("Abe", "Charlie", "#COVER:front.jpg\n"));
    WriteFile(singles / "a/front.jpg", "not a picture");
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    ASSERT_EQ(Rows(*dialog), (std::vector<QString>{QStringLiteral("Abe - Charlie"),
                                                   QStringLiteral("Zed - Bravo")}));
    CSongDetailsPanel* details = dialog->DetailsPanel();
    EXPECT_FALSE(details->isVisible()) << "no song is highlighted yet";

    auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
    list->setCurrentRow(1);
    ASSERT_TRUE(details->isVisible());
    EXPECT_EQ(details->Lines(), (QStringList{QStringLiteral("Bravo"), QStringLiteral("Zed"),
                                             QStringLiteral("0:03 · 1999 · Pop · English")}));
    const int side = details->CoverSide();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QImage cover;
            return dialog->Covers()->Find(details->CoverPath(), side, cover) ==
                   CCoverLoader::State::Ready;
        },
        120000));
    QImage cover;
    dialog->Covers()->Find(details->CoverPath(), side, cover);
    EXPECT_EQ(cover.size(), QSize(side, side / 2));
    EXPECT_EQ(cover.pixelColor(side / 2, side / 4), QColor(Qt::red));
    // Its box is not covered; nor are the medley's four.
    EXPECT_FALSE(details->geometry().intersects(dialog->Control(ids::kSingleSongBox)->geometry()));

    list->setCurrentRow(0);
    EXPECT_EQ(details->Lines()[2], QStringLiteral("0:03"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QImage none;
            return dialog->Covers()->Find(details->CoverPath(), side, none) ==
                   CCoverLoader::State::Missing;
        },
        120000));
    EXPECT_EQ(dialog->Covers()->PictureOrDefault(details->CoverPath(), side),
              CCoverLoader::DefaultArt(side));

    dialog->OnOrderChosen(library::SongOrder::Artist);
    EXPECT_EQ(Rows(*dialog), (std::vector<QString>{QStringLiteral("Abe - Charlie"),
                                                   QStringLiteral("Zed - Bravo")}));
    EXPECT_EQ(CListSettings::Load().order, library::SongOrder::Artist);
    // Each artist's first song names the group.
    EXPECT_EQ(list->item(0)->data(CSongListDelegate::kGroupRole).toString(), QStringLiteral("Abe"));
    EXPECT_EQ(list->item(1)->data(CSongListDelegate::kGroupRole).toString(), QStringLiteral("Zed"));
    dialog->OnListBack();
    EXPECT_FALSE(details->isVisible());
    dialog.reset();
    dialog = MakeDialog();
    ToList(*dialog, true);
    EXPECT_EQ(dialog->Order(), library::SongOrder::Artist);
    static_cast<QListWidget*>(dialog->Control(ids::kSongList))->setCurrentRow(0);
    for (const int box : ids::kSongBoxes)
        EXPECT_FALSE(
            dialog->DetailsPanel()->geometry().intersects(dialog->Control(box)->geometry()));
    ASSERT_TRUE(CListSettings{}.Save());
}

// Songs of one name show what tells them apart; a song without its music is greyed and marked.
TEST_F(DialogTest, TheListTellsSongsOfOneNameApartAndGreysThoseThatCannotBeSung) {
    const std::filesystem::path singles = library.Path() / "歌曲/单曲";
    UltraStar(singles / "Rock/Queen", UltraStarText("Queen", "Bohemian"));
    UltraStar(singles / "Covers/Queen", UltraStarText("Queen", "Bohemian"));
    UltraStar(singles / "solo", UltraStarText("ABBA", "Waterloo"));
    UltraStar(singles / "duet", UltraStarText("ABBA", "Waterloo", "", true));
    WriteFile(singles / "mute/song.txt", UltraStarText("Mute", "Song"));
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
    ASSERT_EQ(list->count(), 5);
    std::set<std::pair<QString, QString>> shown;
    list->doItemsLayout();  // the list was filled again when the music check ended
    const QImage rows = list->viewport()->grab().toImage();
    for (int row = 0; row < list->count(); ++row) {
        const QListWidgetItem* item = list->item(row);
        shown.emplace(item->text(), item->data(CSongListDelegate::kHintRole).toString());
        // The text, right of the row's cover.
        const QRect area = list->visualItemRect(item).adjusted(
            CSongListDelegate::CoverSide(list->visualItemRect(item).height()) + 8, 0, 0, 0);
        int darkest = 255;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                darkest = std::min(darkest, rows.pixelColor(x, y).lightness());
        const bool mute = item->text() == QStringLiteral("⚠ Mute - Song");
        if (mute) {
            EXPECT_GE(darkest, 120) << "the song without music is not greyed";
            EXPECT_NE(item->toolTip().indexOf(QStringLiteral("song.mp3”不存在")), -1)
                << item->toolTip().toStdString();
        } else {
            EXPECT_LT(darkest, 80) << item->text().toStdString();
        }
    }
    EXPECT_EQ(shown.size(), 5u) << "two rows look alike";
    EXPECT_EQ(shown.count({QStringLiteral("⚠ Mute - Song"), QString()}), 1u);
    EXPECT_EQ(shown.count({QStringLiteral("ABBA - Waterloo"), QStringLiteral("二重唱")}), 1u);
}

TEST_F(DialogTest, PickingAFilteredEntryFillsTheBoxWithItsSong) {
    Songs(false, {"Café del Mar", "稻香"});
    WriteFile(library.Path() / "歌曲/单曲/Pop/aerzte/song.txt",
              UltraStarText("Die Ärzte", "Schrei nach Liebe"));
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    auto* search = static_cast<QLineEdit*>(dialog->Control(ids::kSongSearch));
    search->setText(QStringLiteral("ärzte"));
    ASSERT_EQ(Rows(*dialog).size(), 1u);
    Pick(*dialog, 0);
    EXPECT_EQ(Box(*dialog, ids::kSingleSongBox), QStringLiteral("Die Ärzte - Schrei nach Liebe"));
    EXPECT_EQ(dialog->PickedSong(1),
              (engine::SongRef{"Die Ärzte - Schrei nach Liebe", "歌曲/单曲/Pop/aerzte"}));

    dialog->OnClearSong(1);
    EXPECT_EQ(dialog->PickedSong(1), engine::SongRef{});
    search->setText(QStringLiteral("CAFÉ"));
    Pick(*dialog, 0);
    EXPECT_EQ(dialog->PickedSong(1), (engine::SongRef{"Café del Mar", "歌曲/单曲/Café del Mar"}));

    // A name typed into the box: the listed song of that name, else the bundled folder.
    dialog->OnClearSong(1);
    static_cast<QLineEdit*>(dialog->Control(ids::kSingleSongBox))->setText(QStringLiteral("稻香"));
    EXPECT_EQ(dialog->PickedSong(1), (engine::SongRef{"稻香", "歌曲/单曲/稻香"}));
    static_cast<QLineEdit*>(dialog->Control(ids::kSingleSongBox))->setText(QStringLiteral("手写"));
    EXPECT_EQ(dialog->PickedSong(1), (engine::SongRef{"手写", "歌曲/单曲/手写"}));
}

TEST_F(DialogTest, TheListShowsSongsAddedWhileTheProgramRuns) {
    Songs(false, {"a"});
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    EXPECT_EQ(Rows(*dialog), std::vector<QString>{"a"});
    dialog->OnListBack();
    Songs(false, {"b"});
    std::filesystem::remove_all(library.Path() / "歌曲/单曲/a");
    ToList(*dialog, false);
    EXPECT_EQ(Rows(*dialog), std::vector<QString>{"b"});
}

TEST_F(DialogTest, SongFoldersAddedOnTheSettingsPageAreSearchedAndListed) {
    CLibrarySettings{}.Save();
    TemporaryFolder collection;
    const std::filesystem::path queen = collection.Path() / "Rock/Queen/Bohemian";
    UltraStar(queen, UltraStarText("Queen", "Bohemian Rhapsody",
                                   "#MEDLEYSTARTBEAT:100\n#MEDLEYENDBEAT:400\n"));
    UltraStar(collection.Path() / "Pop/x", UltraStarText("ABBA", "Waterloo"));
    Songs(true, {"串烧"});
    auto dialog = MakeDialog();
    dialog->OnSettingsPage();
    CLibraryFolderPanel* panel = dialog->IntroDlg()->LibraryFolders();
    ASSERT_TRUE(panel->isVisible());
    int asked = 0;
    panel->SetFolderChooser([&] {
        ++asked;
        return QString::fromStdString(collection.Path().string());
    });
    QTest::mouseClick(panel->AddButton(), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(panel->Folders()->count(), 1);
    EXPECT_EQ(CLibrarySettings::Load().folders,
              std::vector<std::string>{collection.Path().string()});
    QTest::mouseClick(panel->AddButton(), Qt::LeftButton);  // the same again: kept once
    EXPECT_EQ(panel->Folders()->count(), 1);
    dialog->IntroDlg()->hide();

    // The medley list: native medleys and UltraStar songs with medley bounds.
    ToList(*dialog, true);
    EXPECT_EQ(Rows(*dialog), (std::vector<QString>{QStringLiteral("串烧"),
                                                   QStringLiteral("Queen - Bohemian Rhapsody")}));
    Pick(*dialog, 1);
    EXPECT_EQ(dialog->PickedSong(0),
              (engine::SongRef{"Queen - Bohemian Rhapsody", queen.string()}));
    dialog->OnListBack();
    dialog->OnTypeChoiceClick(dialog->Control(ids::kSinglesPicture)->geometry().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->IsSongListCurrent(); }, 120000));
    EXPECT_EQ(Rows(*dialog), (std::vector<QString>{QStringLiteral("ABBA - Waterloo"),
                                                   QStringLiteral("Queen - Bohemian Rhapsody")}));

    // Removed again: its songs go.
    dialog->OnListBack();
    dialog->OnSettingsPage();
    panel->Folders()->setCurrentRow(0);
    QTest::mouseClick(panel->RemoveButton(), Qt::LeftButton);
    EXPECT_EQ(panel->Folders()->count(), 0);
    EXPECT_TRUE(CLibrarySettings::Load().folders.empty());
    dialog->IntroDlg()->hide();
    dialog->OnTypeChoiceClick(dialog->Control(ids::kSinglesPicture)->geometry().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->IsSongListCurrent(); }, 120000));
    EXPECT_TRUE(Rows(*dialog).empty());
}

TEST_F(DialogTest, TheJudgingLevelIsChosenOnTheListKeptAndShownWithTheScore) {
    ASSERT_TRUE(CJudgingSettings{}.Save());  // Easy, whatever an earlier test chose
    Songs(false, {"a"});
    {
        auto dialog = MakeDialog();
        EXPECT_FALSE(dialog->Control(ids::kLevelChoice)->isVisible());
        ToList(*dialog, false);
        auto* choice = static_cast<CPillChoice*>(dialog->Control(ids::kLevelChoice));
        ASSERT_TRUE(choice->isVisible());  // beside the roles
        EXPECT_EQ(dialog->Session().Level(), engine::JudgingLevel::Easy);
        EXPECT_EQ(choice->Pill(1)->text(), QStringLiteral("标准"));
        QTest::mouseClick(choice->Pill(2), Qt::LeftButton);
        EXPECT_EQ(dialog->Session().Level(), engine::JudgingLevel::Strict);
        EXPECT_EQ(CJudgingSettings::Load().level, engine::JudgingLevel::Strict);
        dialog->SetScore(61.5f);
        EXPECT_EQ(dialog->ScoreDlg()->LevelCaption(), QStringLiteral("严格"));
        dialog->OnListBack();
        EXPECT_FALSE(choice->isVisible());
    }
    // The next start judges at the level chosen, and shows it chosen.
    auto dialog = MakeDialog();
    EXPECT_EQ(dialog->Session().Level(), engine::JudgingLevel::Strict);
    EXPECT_EQ(static_cast<CPillChoice*>(dialog->Control(ids::kLevelChoice))->Chosen(), 2);
    ASSERT_TRUE(CJudgingSettings{}.Save());
}

TEST_F(DialogTest, TheProgressBarsAreSetUpOnTheFirstStartOnly) {
    auto dialog = MakeDialog();
    dialog->OnStartSinging();
    QWidget* bar = dialog->Control(ids::kLineBar);
    ASSERT_NE(bar, nullptr);
    EXPECT_NE(dialog->findChild<QWidget*>(QString::number(ids::kLineBar) + "-replaced"), nullptr);
    dialog->OnHome();
    dialog->OnStartSinging();
    EXPECT_EQ(dialog->Control(ids::kLineBar), bar);
    EXPECT_EQ(dialog->findChildren<QWidget*>(QString::number(ids::kLineBar) + "-replaced").size(),
              1);
}

TEST_F(DialogTest, ClicksOutsideThePicturesDoNothing) {
    auto dialog = MakeDialog();
    dialog->OnStartSinging();
    dialog->OnTypeChoiceClick(QPoint(5, 5));
    EXPECT_EQ(dialog->Screen(), 3);
    EXPECT_TRUE(dialog->Control(ids::kSinglesPicture)->isVisible());
}

TEST_F(DialogTest, ConfirmCreatesTheDisplayAndStopDestroysIt) {
    Songs(false, {"s"}, 3);
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    dialog->OnRoleGirl();
    static_cast<QRadioButton*>(dialog->Control(ids::kRoleGirl))->setChecked(true);
    Pick(*dialog, 0);
    ASSERT_TRUE(dialog->Control(ids::kLevelChoice)->isVisible());
    dialog->OnConfirm();
    EXPECT_TRUE(dialog->IsDisplayUp());
    EXPECT_TRUE(dialog->IsSessionRunning());
    EXPECT_FALSE(dialog->HasCaption());
    // The judging level is not chosen while singing (its pills lay below the stage).
    EXPECT_FALSE(dialog->Control(ids::kLevelChoice)->isVisible());
    // The stage plays the girl's GIF for the second role, not the boy's.
    auto* stage = static_cast<CPictureEx*>(dialog->Control(ids::kStageAnimation));
    CPictureEx girl, boy;
    ASSERT_TRUE(girl.Load(res::kGifStageGirl, "GIF"));
    ASSERT_TRUE(boy.Load(res::kGifStageBoy, "GIF"));
    EXPECT_EQ(stage->GetFrame(0).picture, girl.GetFrame(0).picture);
    EXPECT_NE(stage->GetFrame(0).picture, boy.GetFrame(0).picture);
    EXPECT_FALSE(dialog->Engine().HighOffset());

    dialog->OnStopSinging();
    EXPECT_FALSE(dialog->IsDisplayUp());
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_TRUE(dialog->HasCaption());
    EXPECT_TRUE(Box(*dialog, ids::kSingleSongBox).isEmpty());
    EXPECT_EQ(dialog->Screen(), 1);
    EXPECT_TRUE(dialog->Control(ids::kLevelChoice)->isVisible());

    Pick(*dialog, -1);
    Pick(*dialog, 0);
    dialog->OnConfirm();
    EXPECT_TRUE(dialog->IsDisplayUp());
    dialog->OnStopSinging();
}

TEST_F(DialogTest, ASongThatCannotLoadDoesNotStart) {
    Songs(false, {"s"});
    std::filesystem::remove(library.Path() / "歌曲/单曲/s/qidian");
    auto dialog = MakeDialog();
    ToList(*dialog, false);
    Pick(*dialog, 0);
    dialog->OnConfirm();
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_FALSE(dialog->IsDisplayUp());
    EXPECT_EQ(dialog->Screen(), 1);
    EXPECT_TRUE(dialog->Control(ids::kSongList)->isVisible());
    EXPECT_EQ(Box(*dialog, ids::kSingleSongBox), "s");  // the choice is kept
    ASSERT_FALSE(messages.Messages().empty());
    EXPECT_NE(messages.Messages().back().find("歌曲/单曲/s/qidian"), std::string::npos);
}

TEST_F(DialogTest, HelpShowsEveryLineOnceWithAnEmptyEntryAfterIt) {
    WriteFile(library.Path() / "init", "\xB0\xA1 one\ntwo\nthree\n\nnot shown\n");
    auto dialog = MakeDialog();
    dialog->OnHelpPage();
    QListWidget* help = dialog->IntroDlg()->HelpList();
    ASSERT_EQ(help->count(), 6);
    EXPECT_EQ(help->item(0)->text(), QStringLiteral("啊 one"));
    EXPECT_EQ(help->item(1)->text(), QString());
    EXPECT_EQ(help->item(4)->text(), QStringLiteral("three"));
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(dialog->IntroDlg()->Control(ids::kFolderButton)->isVisible());
    dialog->IntroDlg()->hide();
    dialog->OnHelpPage();
    EXPECT_EQ(help->count(), 6);
    dialog->OnSettingsPage();
    EXPECT_FALSE(help->isVisible());
    EXPECT_TRUE(dialog->IntroDlg()->Control(ids::kFolderButton)->isVisible());
    EXPECT_TRUE(dialog->IntroDlg()->Control(ids::kFolderHint)->isVisible());
}

// Whole sessions, in real time: a WAV file plays as the microphone against the silent clock.
class SessionTest : public DialogTest {
protected:
    std::string Recording(const std::vector<int16_t>& mono) {
        const std::string path = (library.Path() / "performance.wav").string();
        WriteMonoWav(path, mono);
        return path;
    }

    static bool WaitForScore(CQuorvelDlg& dialog, int seconds) {
        return QTest::qWaitFor([&] { return dialog.ScoreDlg()->isVisible(); }, seconds * 1000);
    }
};

TEST_F(SessionTest, AFaithfulSingleSongReachesTheScore) {
    const auto melody = MakeMelody(2, 3, 7, 4.5);
    SongWithMusic(library.Path(), "s", SongFilesOf(melody));
    auto dialog = MakeDialog(Recording(Sing(melody, melody.back().End() + 3.0, Singer{})));
    ToList(*dialog, false);
    Pick(*dialog, 0);
    dialog->OnConfirm();
    ASSERT_TRUE(WaitForScore(*dialog, static_cast<int>(melody.back().End()) + 120));
    EXPECT_GE(dialog->ScoreDlg()->Score(), 80.0f);
    EXPECT_FALSE(dialog->IsSessionRunning());  // the session ended with the song
    EXPECT_FALSE(dialog->IsDisplayUp());
    // The trace output tells the song, each line's result and the final score, in that order.
    const std::vector<std::string> traces = messages.Traces();
    ASSERT_EQ(traces.size(), 4u);
    EXPECT_EQ(traces[0], "song: s\n");
    EXPECT_EQ(traces[1].rfind("line 1 (", 0), 0u) << traces[1];
    EXPECT_EQ(traces[2].rfind("line 2 (", 0), 0u) << traces[2];
    char final[64];
    std::snprintf(final, sizeof final, "final score: %.1f\n", dialog->ScoreDlg()->Score());
    EXPECT_EQ(traces[3], final);

    dialog->OnStopSinging();
    EXPECT_FALSE(dialog->ScoreDlg()->isVisible());
    EXPECT_TRUE(dialog->HasCaption());
    EXPECT_TRUE(dialog->Control(ids::kSongList)->isVisible());
    EXPECT_TRUE(Box(*dialog, ids::kSingleSongBox).isEmpty());
}

// What the review plays: every track handed to the output, kept.
class KeptTracks : public platform::CClickPlayer {
public:
    struct Track {
        std::vector<int16_t> samples;
        int nRate = 0;
    };
    explicit KeptTracks(std::vector<Track>& tracks) : m_tracks(tracks) {}
    bool Play(std::vector<int16_t> samples, int rate, std::string&) override {
        m_tracks.push_back({std::move(samples), rate});
        return true;
    }
    int Position() const override { return 0; }
    void Stop() override {}

private:
    std::vector<Track>& m_tracks;
};

// After a song: "回顾" opens the review over the stage with a picture of every line, drawn where
// the engine heard the singer; a line's take is exactly the microphone's samples of the line, its
// reference melody lasts as long as the line; "练习这一句" practises the line attempt after
// attempt, and the stop button goes back to the review.
TEST_F(SessionTest, TheReviewShowsEveryLinePlaysItAndPractisesOne) {
    const auto melody = MakeMelody(2, 3, 7, 4.5);
    SongWithMusic(library.Path(), "s", SongFilesOf(melody));
    const std::vector<int16_t> sung = Sing(melody, melody.back().End() + 30.0, Singer{});
    std::vector<KeptTracks::Track> tracks;
    CQuorvelDlg::Devices devices;
    const std::string wav = Recording(sung);
    devices.makeCapture = [wav] { return std::make_unique<platform::CWaveFileCapture>(wav); };
    devices.makePlayer = [] { return std::make_unique<ClockPlayer>(); };
    devices.makeClicks = [&tracks] { return std::make_unique<KeptTracks>(tracks); };
    auto dialog = std::make_unique<CQuorvelDlg>(std::move(devices));
    ASSERT_TRUE(dialog->OnInitDialog());
    dialog->show();
    ToList(*dialog, false);
    Pick(*dialog, 0);
    dialog->OnConfirm();
    ASSERT_TRUE(WaitForScore(*dialog, static_cast<int>(melody.back().End()) + 120));

    QPushButton* review = dialog->ScoreDlg()->ReviewButton();
    ASSERT_TRUE(review && review->isVisible());
    QTest::mouseClick(review, Qt::LeftButton);
    EXPECT_FALSE(dialog->ScoreDlg()->isVisible());
    CReviewPage* page = dialog->ReviewPage();
    ASSERT_TRUE(page->isVisible());
    ASSERT_EQ(page->Rows(), 2);
    EXPECT_TRUE(page->SummaryText().startsWith(QStringLiteral("得分 ") +
                                               CScoreDlg::ScoreText(dialog->ScoreDlg()->Score())))
        << page->SummaryText().toStdString();
    EXPECT_TRUE(page->RowText(0).contains(QStringLiteral("第 1 句")));

    // The first hit of line 1 is drawn in the hit colour where the plot puts it.
    const std::vector<engine::LineReview> reviews = dialog->Record().Reviews(0);
    ASSERT_EQ(reviews.size(), 2u);
    const auto hit = std::find_if(
        reviews[0].heard.begin(), reviews[0].heard.end(),
        [](const engine::ReviewPoint& point) { return point.verdict == engine::Verdict::Hit; });
    ASSERT_NE(hit, reviews[0].heard.end());
    page->ShowRow(0);
    QApplication::processEvents();
    const QImage shown = page->grab().toImage();
    const QPointF at =
        CLinePlot(reviews[0], 120, QSize(CReviewPage::kPictureWidth, CReviewPage::kPictureHeight))
            .Point(hit->t, hit->value) +
        QPointF(page->PictureRect(0).topLeft());
    EXPECT_EQ(shown.pixelColor(at.toPoint()), CLinePlot::kHitColour);

    // A line's take: the samples the microphone gave, one run of whole buffers of the recording.
    QTest::mouseClick(page->TakeButton(0), Qt::LeftButton);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].nRate, 8000);
    EXPECT_EQ(tracks[0].samples, dialog->Record().Take(0, 0));
    ASSERT_GT(tracks[0].samples.size(), 8000u);
    const auto found =
        std::search(sung.begin(), sung.end(), tracks[0].samples.begin(), tracks[0].samples.end());
    ASSERT_NE(found, sung.end()) << "the take is not what the microphone gave";
    EXPECT_EQ((found - sung.begin()) % 960, 0) << "the take does not start with a buffer";
    // The reference melody of line 2: as long as the line.
    QTest::mouseClick(page->ReferenceButton(1), Qt::LeftButton);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[1].nRate, 16000);
    EXPECT_EQ(tracks[1].samples.size(), std::size_t(reviews[1].duration * 16000));

    // Practise line 2 twice, then back to the review.
    QTest::mouseClick(page->PractiseButton(1), Qt::LeftButton);
    EXPECT_FALSE(page->isVisible());
    EXPECT_TRUE(dialog->Session().IsPractising());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->PracticeScores().size() >= 2; }, 180000))
        << "the practice did not score two attempts";
    EXPECT_TRUE(dialog->PracticePanel()->text().contains(QStringLiteral("第 2 次")));
    EXPECT_FALSE(dialog->PracticePicture()->pixmap().isNull());
    dialog->OnStopSinging();
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_TRUE(page->isVisible());
    EXPECT_FALSE(dialog->PracticePanel()->isVisible());
    EXPECT_TRUE(dialog->Control(ids::kStopButton)->isVisible()) << "no way back to the list";

    // The history has the song with its line scores, and every attempt at the line.
    const std::vector<float> practised = dialog->PracticeScores();
    const std::string hash = history::SongHash(*dialog->Record().Songs().at(0).song);
    std::vector<history::Attempt> kept;
    dialog->History()->Post(
        [&kept, hash](history::CHistoryStore& store) { kept = store.Attempts(hash); });
    dialog->History()->Flush();
    ASSERT_EQ(kept.size(), 1 + practised.size());
    EXPECT_EQ(kept[0].nPracticeLine, -1);
    EXPECT_EQ(CScoreDlg::ScoreText(kept[0].fRunScore),
              CScoreDlg::ScoreText(dialog->ScoreDlg()->Score()));
    EXPECT_EQ(kept[0].lineScores.size(), 2u);
    EXPECT_EQ(kept[0].strFolder, dialog->Record().Songs()[0].ref.strFolder);
    for (std::size_t i = 0; i < practised.size(); ++i) {
        EXPECT_EQ(kept[1 + i].nPracticeLine, 1);
        EXPECT_EQ(kept[1 + i].fScore, practised[i]);
    }
    // "历史" on the review: the song's history page, every attempt listed.
    auto* historyButton = page->findChild<QPushButton*>(QStringLiteral("reviewHistory"));
    ASSERT_TRUE(historyButton);
    QTest::mouseClick(historyButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->HistoryPage()->isVisible(); }, 60000));
    EXPECT_EQ(dialog->HistoryPage()->List()->count(), static_cast<int>(kept.size()));
    EXPECT_EQ(dialog->HistoryPage()->Songs()->count(), 1);

    // The song list shows the song's best and last scores beside its name.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->SongScores().empty(); }, 60000));
    auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
    ASSERT_GE(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("s"));
    EXPECT_TRUE(list->item(0)
                    ->data(CSongListDelegate::kScoresRole)
                    .toString()
                    .startsWith(QStringLiteral("最好 ") + CScoreDlg::ScoreText(kept[0].fScore)));

    // Closed, the review leaves the stage where the song ended; stop leads back to the list.
    dialog->HistoryPage()->hide();
    auto* back = page->findChild<QPushButton*>(QStringLiteral("reviewBack"));
    ASSERT_TRUE(back);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_FALSE(page->isVisible());
    ASSERT_TRUE(dialog->Control(ids::kStopButton)->isVisible());
    QTest::mouseClick(dialog->Control(ids::kStopButton), Qt::LeftButton);
    EXPECT_TRUE(dialog->Control(ids::kSongList)->isVisible());
}

// From the song list, "练习一句…" asks which line, practises it, and the stop button goes back
// to the list; the attempts are kept.
TEST_F(SessionTest, ALineOfAListedSongIsPractisedAndStopGoesBackToTheList) {
    const auto melody = MakeMelody(2, 3, 7, 4.5);
    SongWithMusic(library.Path(), "s", SongFilesOf(melody));
    auto dialog = MakeDialog(Recording(Sing(melody, melody.back().End() + 60.0, Singer{})));
    ToList(*dialog, false);
    QTimer chooser;  // answers the question of the line: the second
    QString asked;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!box) return;
        asked = box->comboBoxItems().join(QLatin1Char('|'));
        box->setTextValue(box->comboBoxItems().value(1));
        box->accept();
    });
    chooser.start(10);
    Pick(*dialog, 0);
    const engine::SongRef song = dialog->PickedSong(1);
    ASSERT_EQ(song.strName, "s");
    dialog->OnPractiseFromList(song);
    chooser.stop();
    EXPECT_EQ(asked, QStringLiteral("第 1 句　|第 2 句　"));
    ASSERT_TRUE(dialog->Session().IsPractising());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->PracticeScores().empty(); }, 120000));
    dialog->OnStopSinging();
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_TRUE(dialog->Control(ids::kSongList)->isVisible());
    EXPECT_FALSE(dialog->PracticePanel()->isVisible());
    std::vector<history::Attempt> kept;
    const std::string hash = history::SongHash(*engine::CSong::Load(song.strFolder, nullptr));
    dialog->History()->Post(
        [&kept, hash](history::CHistoryStore& store) { kept = store.Attempts(hash); });
    dialog->History()->Flush();
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept[0].nPracticeLine, 1);
}

TEST_F(SessionTest, AMedleyReachesTheScoreAfterItsFourSongs) {
    double songs = 0.0;  // seconds the four songs take at the least
    for (int s = 0; s < 4; ++s) {
        const auto melody = MakeMelody(1, 2, 40 + s, 4.0);
        SongWithMusic(library.Path(), "m" + std::to_string(s), SongFilesOf(melody), true);
        songs += melody.back().End() - 0.3;
    }
    auto dialog = MakeDialog(Recording(std::vector<int16_t>(8000, 0)));  // a silent singer
    ToList(*dialog, true);
    for (int row = 0; row < 4; ++row) Pick(*dialog, row);
    const auto start = std::chrono::steady_clock::now();
    dialog->OnConfirm();
    bool displayKept = true;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (dialog->IsSessionRunning() && !dialog->IsDisplayUp()) displayKept = false;
            return dialog->ScoreDlg()->isVisible();
        },
        static_cast<int>(songs + 120) * 1000));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, songs - 1.0);  // all four songs were sung, one after another
    EXPECT_TRUE(displayKept);         // one display for the whole medley
    EXPECT_EQ(dialog->Engine().MedleySong(), 3);
    EXPECT_EQ(dialog->ScoreDlg()->Score(), 0.0f);
    dialog->OnStopSinging();
    for (int id : ids::kSongBoxes) EXPECT_TRUE(Box(*dialog, id).isEmpty());
}

TEST_F(SessionTest, StopInTheMiddleLeavesNothingRunning) {
    const auto melody = MakeMelody(3, 3, 9, 4.5);
    SongWithMusic(library.Path(), "s", SongFilesOf(melody));
    auto dialog = MakeDialog(Recording(Sing(melody, melody.back().End() + 3.0, Singer{})));
    ToList(*dialog, false);
    Pick(*dialog, 0);
    dialog->OnConfirm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->Engine().Time() > 0.5f; }, 120000))
        << "the poller did not run";
    dialog->OnStopSinging();
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_FALSE(dialog->IsDisplayUp());
    EXPECT_EQ(dialog->Engine().Song(), nullptr);
    EXPECT_EQ(dialog->Engine().Time(), 0.0f);  // the poller has stopped, the clock is back at 0
}

// Message boxes as the program shows them: modal, with an event loop of their own that handles
// queued events (capture notices among them) while the box is open.
class NestedLoopSink : public platform::MessageSink {
public:
    NestedLoopSink() : m_pPrevious(platform::SetMessageSink(this)) {}
    ~NestedLoopSink() override { platform::SetMessageSink(m_pPrevious); }
    void ShowMessage(const std::string& text, platform::MessageIcon, const std::string&) override {
        shown.push_back(text);
        QEventLoop loop;
        QTimer::singleShot(400, &loop, &QEventLoop::quit);  // the user reads it, then clicks OK
        loop.exec();
    }
    void Beep(platform::MessageIcon) override {}
    void Trace(const std::string& line) override { traces.push_back(line); }

    std::vector<std::string> shown, traces;

private:
    platform::MessageSink* m_pPrevious;
};

TEST_F(SessionTest, AMedleyWhoseThirdSongIsBrokenGoesBackToTheListWithTheNames) {
    for (int s = 0; s < 4; ++s) {
        const std::string name = "m" + std::to_string(s);
        SongWithMusic(library.Path(), name, SongFilesOf(MakeMelody(1, 2, 50 + s, 4.0)), true);
        WriteFile(library.Path() / "歌曲/串烧歌曲" / name / "Lyric", "啊 啊");
    }
    NestedLoopSink sink;
    auto dialog = MakeDialog(Recording(std::vector<int16_t>(8000 * 30, 0)));
    ToList(*dialog, true);
    for (int row = 0; row < 4; ++row) Pick(*dialog, row);
    std::vector<QString> names;
    for (int id : ids::kSongBoxes) names.push_back(Box(*dialog, id));
    const std::string third = names[2].toStdString();
    WriteFile(library.Path() / "歌曲/串烧歌曲" / third / "断点", "zero");
    dialog->OnConfirm();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !sink.shown.empty() && dialog->Screen() == 1; }, 120000))
        << "the medley did not come back from its broken song";
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_FALSE(dialog->IsSessionRunning());
    EXPECT_NE(sink.shown[0].find(third + "/断点"), std::string::npos) << sink.shown[0];
    EXPECT_EQ(dialog->Screen(), 1);
    EXPECT_TRUE(dialog->HasCaption());
    EXPECT_TRUE(dialog->Control(ids::kSongList)->isVisible());
    EXPECT_FALSE(dialog->IsDisplayUp());
    EXPECT_FALSE(dialog->ScoreDlg()->isVisible());
    EXPECT_EQ(dialog->Engine().Song(), nullptr);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Box(*dialog, ids::kSongBoxes[i]), names[i]) << "the names are kept";
    // The songs before the broken one were sung.
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string song = "song: " + names[i].toStdString() + "\n";
        EXPECT_EQ(std::count(sink.traces.begin(), sink.traces.end(), song), 1) << song;
    }
}

}  // namespace
