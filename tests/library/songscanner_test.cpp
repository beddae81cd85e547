// Scanning song folders: both kinds of song in nested folders, which list takes which song,
// songs that cannot be read, and folders that try to hang, loop or exhaust the scan.
#include "library/songscanner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "library/searchfold.h"
#include "tests/library/ultrastartext.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"

namespace {

using library::CSongCache;
using library::CSongScanner;
using library::LibraryRoot;
using library::SongEntry;
using namespace testing_support;
namespace fs = std::filesystem;

class ScannerTest : public ::testing::Test {
protected:
    // A native song folder (its point file is all the scan looks for).
    void Native(const fs::path& folder) { WriteFile(folder / "断点", "1 2\n"); }

    CSongScanner::Result Scan(const std::vector<LibraryRoot>& roots) {
        CSongScanner scanner(m_cache);
        CSongScanner::Result result = scanner.Scan(roots);
        EXPECT_TRUE(result.bComplete);
        return result;
    }
    std::vector<LibraryRoot> Bundled() const { return library::BundledRoots(root.Path()); }
    LibraryRoot Collection(const fs::path& path) const {
        return {path.string(), LibraryRoot::Kind::Collection};
    }

    static std::map<std::string, SongEntry> ByName(const std::vector<SongEntry>& entries) {
        std::map<std::string, SongEntry> named;
        for (const SongEntry& entry : entries)
            EXPECT_TRUE(named.emplace(entry.strName, entry).second)
                << entry.strName << " is listed twice";
        return named;
    }
    static std::vector<std::string> List(const std::vector<SongEntry>& entries, bool medley) {
        std::vector<std::string> names;
        for (const SongEntry& entry : entries)
            if (entry.InList(medley)) names.push_back(entry.strName);
        return names;
    }

    TemporaryFolder root;
    CSongCache m_cache{""};
};

TEST_F(ScannerTest, FindsBothKindsInNestedFoldersAndPutsThemInTheirLists) {
    const fs::path singles = root.Path() / "歌曲/单曲", medleys = root.Path() / "歌曲/串烧歌曲";
    Native(singles / "稻香");
    Native(singles / "华语/经典/月亮代表我的心");
    Native(medleys / "串烧一");
    WriteFile(singles / "Pop/ABBA/Waterloo/Waterloo.txt", UltraStarText("ABBA", "Waterloo"));
    // An UltraStar song among the medleys without medley bounds is a single song only.
    WriteFile(medleys / "Queen - Bohemian Rhapsody/song.txt",
              UltraStarText("Queen", "Bohemian Rhapsody"));
    // A folder the user added, with medley bounds of both kinds of file.
    TemporaryFolder user;
    WriteFile(user.Path() / "a/b/c/Take On Me.txt",
              UltraStarText("a-ha", "Take On Me", "#MEDLEYSTARTBEAT:4\n#MEDLEYENDBEAT:400\n"));
    WriteFile(user.Path() / "v2/x.txt",
              UltraStarText("Nena", "99 Luftballons",
                            "#VERSION:2.0.0\n#MEDLEYSTART:1000\n#MEDLEYEND:30000\n"));
    Native(user.Path() / "本地/歌");
    Native(user.Path() / "歌曲/串烧歌曲/本地串烧");

    std::vector<LibraryRoot> roots = Bundled();
    roots.push_back(Collection(user.Path()));
    const CSongScanner::Result result = Scan(roots);
    const auto songs = ByName(result.entries);
    ASSERT_EQ(songs.size(), 9u);

    EXPECT_EQ(songs.at("月亮代表我的心").strFolder,
              (singles / "华语/经典/月亮代表我的心").string());
    EXPECT_EQ(songs.at("月亮代表我的心").kind, SongEntry::Kind::Native);
    EXPECT_EQ(songs.at("ABBA - Waterloo").strFolder, (singles / "Pop/ABBA/Waterloo").string());
    EXPECT_EQ(songs.at("ABBA - Waterloo").kind, SongEntry::Kind::UltraStar);
    EXPECT_EQ(songs.at("ABBA - Waterloo").strArtist, "ABBA");
    EXPECT_EQ(songs.at("ABBA - Waterloo").strTitle, "Waterloo");
    EXPECT_EQ(songs.at("a-ha - Take On Me").strFolder, (user.Path() / "a/b/c").string());
    for (const SongEntry& entry : result.entries) EXPECT_TRUE(entry.strProblem.empty());

    // Sorted as a Chinese reader orders names: Chinese ones by pinyin, then letters (case aside).
    EXPECT_EQ(List(result.entries, false),
              (std::vector<std::string>{"稻香" /* dao */, "歌" /* ge */, "月亮代表我的心" /* yue */,
                                        "a-ha - Take On Me", "ABBA - Waterloo",
                                        "Nena - 99 Luftballons", "Queen - Bohemian Rhapsody"}));
    EXPECT_EQ(List(result.entries, true),
              (std::vector<std::string>{"本地串烧" /* ben */, "串烧一" /* chuan */,
                                        "a-ha - Take On Me", "Nena - 99 Luftballons"}));
}

TEST_F(ScannerTest, BundledSongsAreNamedRelativeToTheLibraryFolder) {
    Native(root.Path() / "歌曲/单曲/s");
    Native(root.Path() / "歌曲/串烧歌曲/m");
    WriteFile(root.Path() / "歌曲/单曲/u/u.txt", UltraStarText("A", "T"));
    const fs::path previous = fs::current_path();
    fs::current_path(root.Path());
    const CSongScanner::Result result = Scan(library::BundledRoots(""));
    fs::current_path(previous);
    const auto songs = ByName(result.entries);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(songs.at("s").Ref(), (engine::SongRef{"s", "歌曲/单曲/s"}));
    EXPECT_EQ(songs.at("m").Ref(), (engine::SongRef{"m", "歌曲/串烧歌曲/m"}));
    EXPECT_EQ(songs.at("A - T").Ref(), (engine::SongRef{"A - T", "歌曲/单曲/u"}));
}

// Where a song's picture is found: the file #COVER names beside its text (a Windows path
// too), or a native song's cover.jpg or cover.png; none otherwise.
TEST_F(ScannerTest, EachSongsCoverIsFoundBesideIt) {
    struct Case {
        const char* folder;
        const char* cover;  // beside the song, "" for none
        const char* found;  // the entry's cover, relative to the folder
    };
    const Case cases[] = {
        {"us/plain", "#COVER:front.jpg\n", "us/plain/front.jpg"},
        {"us/windows", "#COVER:art\\front.png\n", "us/windows/art/front.png"},
        {"us/none", "", ""},
        {"native/jpg", "cover.jpg", "native/jpg/cover.jpg"},
        {"native/upper", "COVER.PNG", "native/upper/COVER.PNG"},
        {"native/other", "front.jpg", ""},
    };
    for (const Case& c : cases) {
        const fs::path folder = root.Path() / c.folder;
        if (std::string(c.folder).starts_with("us/")) {
            WriteFile(folder / "song.txt", UltraStarText("A", c.folder, c.cover));
        } else {
            Native(folder);
            WriteFile(folder / c.cover, "picture");
        }
    }
    const auto found = Scan({Collection(root.Path())}).entries;
    ASSERT_EQ(found.size(), std::size(cases));
    for (const Case& c : cases) {
        const auto entry = std::find_if(found.begin(), found.end(), [&](const SongEntry& e) {
            return e.strFolder == (root.Path() / c.folder).string();
        });
        ASSERT_NE(entry, found.end()) << c.folder;
        EXPECT_EQ(entry->strCover, *c.found ? (root.Path() / c.found).string() : "") << c.folder;
    }
}

TEST_F(ScannerTest, ANativeSongIsNotSearchedFurtherAnUltraStarFolderIs) {
    const fs::path singles = root.Path() / "歌曲/单曲";
    Native(singles / "outer");
    Native(singles / "outer/inner");
    WriteFile(singles / "outer/extra/x.txt", UltraStarText("X", "Hidden"));
    WriteFile(singles / "album/album.txt", UltraStarText("Band", "Album Song"));
    WriteFile(singles / "album/bonus/bonus.txt", UltraStarText("Band", "Bonus"));
    // The mode folders themselves are no songs, whatever they hold.
    WriteFile(singles / "notes.txt", UltraStarText("Not", "A Song"));
    Native(root.Path() / "歌曲/串烧歌曲");
    Native(root.Path() / "歌曲/串烧歌曲/m");
    const auto songs = ByName(Scan(Bundled()).entries);
    std::vector<std::string> names;
    for (const auto& [name, entry] : songs) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Band - Album Song", "Band - Bonus", "m", "outer"}));
}

TEST_F(ScannerTest, EachUltraStarTextOfAFolderIsASong) {
    TemporaryFolder user;
    const fs::path duet = user.Path() / "Duet";
    WriteFile(duet / "song.txt",
              UltraStarText("Elton John & Kiki Dee", "Don't Go Breaking My Heart"));
    WriteFile(duet / "song [DUET].txt",
              UltraStarText("Elton John & Kiki Dee", "Don't Go Breaking My Heart", "",
                            /*duet=*/true));
    WriteFile(duet / "readme.txt", "Converted by hand.\n#1 hit of 1976\n");
    WriteFile(duet / "notes.TXT", "");
    WriteFile(user.Path() / "One/one.txt", UltraStarText("Solo", "One"));
    // Singers named for the parts make a duet too, whatever comes after the headers.
    WriteFile(user.Path() / "Two/two.txt",
              UltraStarText("Pair", "Two", "#DUETSINGERP1:Ann\n#DUETSINGERP2:Bo\n"));
    WriteFile(user.Path() / "One/license.txt", "free to sing\n");
    const CSongScanner::Result result = Scan({Collection(user.Path())});
    const auto songs = ByName(result.entries);
    ASSERT_EQ(songs.size(), 4u);
    const std::string name = "Elton John & Kiki Dee - Don't Go Breaking My Heart";
    // The same song twice: told apart by file, and each loads its own text.
    EXPECT_EQ(songs.at(name + " (song [DUET].txt)").strFolder, (duet / "song [DUET].txt").string());
    EXPECT_EQ(songs.at(name + " (song.txt)").strFolder, (duet / "song.txt").string());
    EXPECT_TRUE(songs.at(name + " (song [DUET].txt)").bDuet);
    EXPECT_FALSE(songs.at(name + " (song.txt)").bDuet);
    // One song beside texts of other kinds: its folder.
    EXPECT_EQ(songs.at("Solo - One").strFolder, (user.Path() / "One").string());
    EXPECT_FALSE(songs.at("Solo - One").bDuet);
    EXPECT_TRUE(songs.at("Pair - Two").bDuet);
    for (const SongEntry& entry : result.entries) EXPECT_EQ(entry.strProblem, "") << entry.strName;
}

TEST_F(ScannerTest, MedleyBoundsCountOnlyInTheUnitsOfTheFilesVersion) {
    TemporaryFolder user;
    const struct {
        const char* folder;
        const char* headers;
        bool medley;
    } cases[] = {
        {"beats", "#MEDLEYSTARTBEAT:8\n#MEDLEYENDBEAT:200\n", true},
        {"beats-1.0", "#VERSION:1.0.0\n#MEDLEYSTARTBEAT:8\n#MEDLEYENDBEAT:200\n", true},
        {"ms-2.0", "#VERSION:2.0.0\n#MEDLEYSTART:5000\n#MEDLEYEND:40000\n", true},
        {"ms-2.1", "#VERSION:2.1.0\n#MEDLEYSTART:5000\n#MEDLEYEND:40000\n", true},
        {"beats-in-2.0", "#VERSION:2.0.0\n#MEDLEYSTARTBEAT:8\n#MEDLEYENDBEAT:200\n", false},
        {"ms-in-1.0", "#VERSION:1.0.0\n#MEDLEYSTART:5000\n#MEDLEYEND:40000\n", false},
        {"start-only", "#MEDLEYSTARTBEAT:8\n", false},
        {"end-before-start", "#MEDLEYSTARTBEAT:200\n#MEDLEYENDBEAT:8\n", false},
        {"none", "", false},
    };
    for (const auto& c : cases)
        WriteFile(user.Path() / c.folder / "song.txt", UltraStarText("A", c.folder, c.headers));
    const auto songs = ByName(Scan({Collection(user.Path())}).entries);
    ASSERT_EQ(songs.size(), std::size(cases));
    for (const auto& c : cases) {
        const SongEntry& song = songs.at(std::string("A - ") + c.folder);
        EXPECT_EQ(song.bMedley, c.medley) << c.folder;
        EXPECT_TRUE(song.InSingleList()) << c.folder;
    }
}

// A text in an 8-bit code page it does not name is listed with the title the song reader finds:
// the code page is detected from the whole text, as the reader detects it (its headers alone
// would read as Arabic).
TEST_F(ScannerTest, ATitleInACodePageNoHeaderNamesReadsAsTheSongReaderReadsIt) {
    TemporaryFolder user;
    fs::copy(fs::path(QUORVEL_TEST_DATA) / "ultrastar/undeclared-koi8-r", user.Path() / "koi8-r");
    const std::vector<SongEntry> songs = Scan({Collection(user.Path())}).entries;
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].strTitle, "Огонёк");
}

TEST_F(ScannerTest, ASongThatCannotBeReadIsListedOnceWithItsProblem) {
    TemporaryFolder user;
    WriteFile(user.Path() / "bad bpm/bad.txt",
              "#TITLE:Broken\n#ARTIST:Band\n#BPM:fast\n: 0 4 0 la\nE\n");
    WriteFile(user.Path() / "no bpm/song.txt", "#TITLE:Tempo\n#ARTIST:Band\n: 0 4 0 la\nE\n");
    // Texts that are not UltraStar files beside a song's audio: a song that cannot be read.
    WriteFile(user.Path() / "lyrics only/lyrics.txt", "la la la\n");
    WriteFile(user.Path() / "lyrics only/song.mp3", "ID3");
    // The same without audio is no song at all.
    WriteFile(user.Path() / "docs/readme.txt", "Songs for the party\n");
    WriteFile(user.Path() / "good/good.txt", UltraStarText("Band", "Good"));
    const CSongScanner::Result result = Scan({Collection(user.Path())});
    const auto songs = ByName(result.entries);
    ASSERT_EQ(songs.size(), 4u);

    const SongEntry& bad = songs.at("bad bpm");
    EXPECT_EQ(bad.kind, SongEntry::Kind::UltraStar);
    EXPECT_EQ(bad.strProblem.rfind((user.Path() / "bad bpm/bad.txt").string() + ": ", 0), 0u)
        << bad.strProblem;
    EXPECT_NE(bad.strProblem.find("#BPM"), std::string::npos) << bad.strProblem;
    EXPECT_TRUE(bad.InSingleList());
    EXPECT_FALSE(bad.bMedley);
    EXPECT_NE(songs.at("no bpm").strProblem.find("#BPM"), std::string::npos);
    EXPECT_NE(songs.at("lyrics only").strProblem.find("UltraStar"), std::string::npos);
    EXPECT_EQ(songs.at("Band - Good").strProblem, "");
}

TEST_F(ScannerTest, OddFoldersNeitherHangLoopNorExhaustTheScan) {
    TemporaryFolder user;
    const fs::path odd = user.Path();
    WriteFile(odd / "a/b/song.txt", UltraStarText("Loop", "Song"));
    ASSERT_TRUE(LinkTo(odd / "a/b/back", "../.."));  // a link loop
    ASSERT_TRUE(LinkTo(odd / "a/self", "."));
    ASSERT_TRUE(LinkTo(odd / "dangling", "nowhere"));
    fs::create_directories(odd / "fifo");
    fs::create_directories(odd / "device");
    ASSERT_TRUE(MakeFifo(odd / "fifo/song.txt"));
    ASSERT_TRUE(LinkTo(odd / "device/song.txt", "/dev/zero"));
    ASSERT_TRUE(MakeFifo(odd / "pipe-folder"));
    // A 100 MB text whose headers read well: listed, with the song reader's limit as problem.
    WriteFile(odd / "huge/huge.txt", UltraStarText("Big", "File"));
    ASSERT_TRUE(MakeSparse(odd / "huge/huge.txt", int64_t{100} << 20));
    // A 100 MB text of one endless header line.
    WriteFile(odd / "endless/endless.txt", "#TITLE:");
    ASSERT_TRUE(MakeSparse(odd / "endless/endless.txt", int64_t{100} << 20));
    // An unreadable folder (root reads it all the same).
    WriteFile(odd / "locked/in/song.txt", UltraStarText("Locked", "In"));
    ::chmod((odd / "locked").c_str(), 0);
    // Deeper than the scan goes.
    fs::path deep = odd / "deep";
    for (int level = 0; level < CSongScanner::kDeepest + 5; ++level) deep /= "d";
    WriteFile(deep / "deep.txt", UltraStarText("Too", "Deep"));

    CSongScanner::Result result;
    ASSERT_TRUE(FinishesWithin(
        [&] {
            result = Scan({Collection(odd), Collection(odd / "a")});
        },
        {odd / "fifo/song.txt", odd / "pipe-folder"}));
    int status = -1;
    const long growthKiB = PeakGrowthKiB(
        [&] {
            CSongScanner scanner(m_cache);
            return scanner.Scan({Collection(odd), Collection(odd / "a")}).bComplete ? 0 : 1;
        },
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_LT(growthKiB, 64 << 10) << "the scan read far more than the headers";
    const auto songs = ByName(result.entries);
    ::chmod((odd / "locked").c_str(), 0700);

    // The loop's song once, though two roots and two links lead to it.
    EXPECT_EQ(songs.count("Loop - Song"), 1u);
    EXPECT_NE(songs.at("fifo").strProblem.find("FIFO"), std::string::npos)
        << songs.at("fifo").strProblem;
    EXPECT_NE(songs.at("device").strProblem.find("设备"), std::string::npos)
        << songs.at("device").strProblem;
    EXPECT_NE(songs.at("Big - File").strProblem.find("16 MiB"), std::string::npos)
        << songs.at("Big - File").strProblem;
    EXPECT_EQ(songs.count("Too - Deep"), 0u);
    if (::geteuid() != 0) {
        EXPECT_EQ(songs.count("Locked - In"), 0u);
    }
}

TEST_F(ScannerTest, ACancelledScanEndsEarly) {
    for (int i = 0; i < 50; ++i) Native(root.Path() / "歌曲/单曲" / std::to_string(i));
    int polls = 0;
    CSongScanner scanner(m_cache, [&] { return ++polls > 10; });
    const CSongScanner::Result result = scanner.Scan(Bundled());
    EXPECT_FALSE(result.bComplete);
    EXPECT_LE(result.nFolders, 10);
}

}  // namespace
