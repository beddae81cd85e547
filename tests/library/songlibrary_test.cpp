// The library's cache and worker: songs added, removed and changed are noticed, a damaged cache
// is rebuilt, the cached list shows before the scan ends, and the scan runs on its own thread.
#include "library/songlibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/songcache.h"
#include "library/songscanner.h"
#include "tests/library/ultrastartext.h"
#include "tests/support/eventually.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"
#include "tests/support/tonewav.h"

namespace {

using library::CSongCache;
using library::CSongLibrary;
using library::CSongScanner;
using library::LibraryRoot;
using library::SongEntry;
using namespace testing_support;
namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<SongEntry>& entries) {
    std::vector<std::string> names;
    for (const SongEntry& entry : entries) names.push_back(entry.strName);
    return names;
}

class LibraryTest : public ::testing::Test {
protected:
    // A song with its music (three seconds of a tone, longer than its lines).
    void Song(const std::string& folder, const std::string& title) {
        WriteFile(songs.Path() / folder / "song.txt", UltraStarText("Band", title));
        WriteTones((songs.Path() / folder / "song.mp3").string(), {{440, 3.0}}, 8000);
    }
    std::vector<LibraryRoot> Roots() const {
        return {{songs.Path().string(), LibraryRoot::Kind::Collection}};
    }
    std::string CachePath() const { return (data.Path() / "app/songlibrary.cache").string(); }

    // Scans synchronously with the cache file as it is, and saves what it found into it.
    CSongScanner::Result ScanWithCache(bool* loaded = nullptr) {
        CSongCache cache(CachePath());
        const bool read = cache.Load();
        if (loaded) *loaded = read;
        CSongScanner::Result result = CSongScanner(cache).Scan(Roots());
        cache.Set(Roots(), result.entries, result.files);
        EXPECT_TRUE(cache.Save());
        return result;
    }

    // Waits until the library has finished `scans` scans and is idle.
    static bool Settled(const CSongLibrary& library, unsigned scans) {
        return Eventually(
            [&] { return library.FinishedScans() >= scans && library.Current().bIdle; });
    }

    TemporaryFolder songs, data;
};

TEST_F(LibraryTest, TheCacheNoticesAddedRemovedAndChangedSongs) {
    Song("a", "A");
    Song("b", "B");
    Song("c", "C");
    bool loaded = true;
    CSongScanner::Result first = ScanWithCache(&loaded);
    EXPECT_FALSE(loaded) << "there was no cache yet";
    EXPECT_EQ(Names(first.entries), (std::vector<std::string>{"Band - A", "Band - B", "Band - C"}));
    EXPECT_EQ(first.nFilesRead, 3);

    // Nothing changed: nothing is read again.
    CSongScanner::Result same = ScanWithCache(&loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(same.nFilesRead, 0);
    EXPECT_EQ(same.entries, first.entries);

    // One song added, one removed, one changed (content and time).
    Song("d", "D");
    fs::remove_all(songs.Path() / "b");
    const fs::path changed = songs.Path() / "c/song.txt";
    const auto time = fs::last_write_time(changed);
    WriteFile(changed,
              UltraStarText("Band", "C, remastered", "#MEDLEYSTARTBEAT:0\n#MEDLEYENDBEAT:8\n"));
    fs::last_write_time(changed, time + std::chrono::seconds(10));
    CSongScanner::Result after = ScanWithCache(&loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(Names(after.entries),
              (std::vector<std::string>{"Band - A", "Band - C, remastered", "Band - D"}));
    EXPECT_TRUE(after.entries[1].bMedley);
    EXPECT_EQ(after.nFilesRead, 2);  // the added and the changed one
    EXPECT_EQ(after.files.count((songs.Path() / "b/song.txt").string()), 0u)
        << "a removed song stays in the cache";

    // A change of the content alone, the size with it, is noticed too.
    WriteFile(songs.Path() / "a/song.txt", UltraStarText("Band", "A, longer title"));
    EXPECT_EQ(Names(ScanWithCache().entries)[0], "Band - A, longer title");
}

TEST_F(LibraryTest, TheCacheKeepsWhatItWasGiven) {
    WriteFile(songs.Path() / "a/song.txt",
              UltraStarText("Band", "Ärzte",
                            "#COVER:a.jpg\n#YEAR:1987\n#GENRE:Punk\n#LANGUAGE:German\n"));
    WriteFile(songs.Path() / "native/断点", "1 2\n");
    WriteFile(songs.Path() / "native/cover.png", "png");
    WriteFile(songs.Path() / "duet/song.txt", UltraStarText("Band", "Two", "", true));
    WriteFile(songs.Path() / "broken/x.txt", "#TITLE:x\n#BPM:none\n");
    CSongCache cache(CachePath());
    CSongScanner::Result result = CSongScanner(cache).Scan(Roots());
    ASSERT_EQ(result.entries.size(), 4u);
    const SongEntry& song = result.entries[0];
    ASSERT_EQ(song.strName, "Band - Ärzte");
    EXPECT_EQ(song.strCover, (songs.Path() / "a/a.jpg").string());
    EXPECT_EQ(song.strYear + song.strGenre + song.strLanguage, "1987PunkGerman");
    EXPECT_EQ(result.entries[3].strCover, (songs.Path() / "native/cover.png").string());
    cache.Set(Roots(), result.entries, result.files);
    ASSERT_TRUE(cache.Save());
    CSongCache again(CachePath());
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.Roots(), Roots());
    EXPECT_EQ(again.Entries(), result.entries);  // the search keys made again alike
    EXPECT_EQ(again.TextFiles(), result.files);
}

// Ways a cache file can be damaged or not ours; each is ignored and the scan rebuilds it.
class DamagedCacheTest : public LibraryTest, public ::testing::WithParamInterface<const char*> {
protected:
    void Damage(const std::string& how) {
        std::string bytes, problem;
        std::ifstream in(CachePath(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        in.close();
        ASSERT_GT(bytes.size(), 100u);
        if (how == "empty") bytes.clear();
        if (how == "truncated") bytes.resize(bytes.size() / 2);
        if (how == "flipped") bytes[bytes.size() - 7] ^= 0x20;
        if (how == "longer") bytes += "more";
        if (how == "foreign") bytes = "[General]\nsongs=1\n" + std::string(5000, 'x');
        if (how == "huge-count") {
            // A count of four billion items, with a fitting digest: refused without allocating.
            for (std::size_t i = 0; i < 4; ++i) bytes[bytes.size() - 40 + i] = '\xFF';
        }
        if (how == "fifo") {
            ASSERT_TRUE(MakeFifo(CachePath()));
            return;
        }
        if (how == "folder") {
            fs::remove(CachePath());
            fs::create_directories(fs::path(CachePath()) / "inside");
            return;
        }
        WriteFile(CachePath(), bytes);
    }
};

TEST_P(DamagedCacheTest, IsIgnoredAndRebuilt) {
    Song("a", "A");
    Song("b", "B");
    ScanWithCache();
    Damage(GetParam());
    CSongCache cache(CachePath());
    ASSERT_TRUE(FinishesWithin([&] { EXPECT_FALSE(cache.Load()); }, {CachePath()}));
    EXPECT_TRUE(cache.Entries().empty());
    EXPECT_TRUE(cache.TextFiles().empty());

    CSongLibrary library(CachePath());
    library.SetRoots(Roots());
    ASSERT_TRUE(Settled(library, 1));
    EXPECT_EQ(Names(*library.Entries()), (std::vector<std::string>{"Band - A", "Band - B"}));
    const std::string how = GetParam();
    if (how != "fifo" && how != "folder") {
        EXPECT_TRUE(CSongCache(CachePath()).Load());
    }
}

INSTANTIATE_TEST_SUITE_P(Library, DamagedCacheTest,
                         ::testing::Values("empty", "truncated", "flipped", "longer", "foreign",
                                           "huge-count", "fifo", "folder"));

// A link where the cache file lives is replaced by the cache, never written through: what it
// pointed at stays as it was.
TEST_F(LibraryTest, TheCacheReplacesALinkInItsPlace) {
    Song("a", "A");
    const fs::path other = data.Path() / "someone else's file";
    WriteFile(other, "precious");
    fs::create_directories(fs::path(CachePath()).parent_path());
    fs::create_symlink(other, CachePath());
    ScanWithCache();
    std::ifstream in(other, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
    EXPECT_FALSE(fs::is_symlink(CachePath()));
    bool loaded = false;
    ScanWithCache(&loaded);
    EXPECT_TRUE(loaded) << "the cache was not written in the link's place";
}

TEST_F(LibraryTest, TheCachedListShowsBeforeTheScanEnds) {
    Song("a", "A");
    Song("b", "B");
    ScanWithCache();
    fs::remove_all(songs.Path() / "b");

    std::mutex mutex;
    std::vector<std::vector<std::string>> published;
    std::vector<std::thread::id> threads;
    CSongLibrary library(CachePath());
    library.SetChangedHandler([&] {
        std::lock_guard lock(mutex);
        published.push_back(Names(*library.Entries()));
        threads.push_back(std::this_thread::get_id());
    });
    library.SetRoots(Roots());
    ASSERT_TRUE(Settled(library, 1));
    std::lock_guard lock(mutex);
    // The cache's list, the scan's, and the scan's again with its music's length.
    ASSERT_EQ(published.size(), 3u);
    EXPECT_EQ(published[0], (std::vector<std::string>{"Band - A", "Band - B"})) << "the cache's";
    EXPECT_EQ(published[1], (std::vector<std::string>{"Band - A"})) << "the scan's";
    EXPECT_EQ(published[2], (std::vector<std::string>{"Band - A"}));
    for (std::thread::id thread : threads) EXPECT_NE(thread, std::this_thread::get_id());
}

TEST_F(LibraryTest, TheCacheOfAnotherWorkingDirectoryIsNotShown) {
    // The bundled library's folders are relative: the same names, other songs.
    TemporaryFolder first, second;
    WriteFile(first.Path() / "歌曲/单曲/one/断点", "");
    WriteFile(second.Path() / "歌曲/单曲/two/断点", "");
    const fs::path previous = fs::current_path();
    std::mutex mutex;
    std::vector<std::vector<std::string>> published[2];
    for (int i : {0, 1}) {
        fs::current_path((i == 0 ? first : second).Path());
        CSongLibrary library(CachePath());
        library.SetChangedHandler([&, i] {
            std::lock_guard lock(mutex);
            published[i].push_back(Names(*library.Entries()));
        });
        library.SetRoots(library::BundledRoots(""));
        EXPECT_TRUE(Settled(library, 1));
    }
    fs::current_path(previous);
    std::lock_guard lock(mutex);
    // Each shows its own song only (once listed, then again with what its music check found).
    for (int i : {0, 1}) {
        ASSERT_FALSE(published[i].empty());
        for (const auto& names : published[i])
            EXPECT_EQ(names, std::vector<std::string>{i == 0 ? "one" : "two"});
    }
}

TEST_F(LibraryTest, RescansNoticeChangesAndTheRootsCanChange) {
    Song("a", "A");
    std::atomic<int> changes{0};
    CSongLibrary library(CachePath());
    library.SetChangedHandler([&] { ++changes; });
    library.SetRoots(Roots());
    ASSERT_TRUE(Settled(library, 1));
    EXPECT_EQ(changes, 2) << "listed, then with its music's length";
    const unsigned generation = library.Current().nGeneration;

    // A scan that finds nothing new changes nothing.
    library.Rescan();
    ASSERT_TRUE(Settled(library, 2));
    EXPECT_EQ(library.Current().nGeneration, generation);
    EXPECT_EQ(changes, 2);

    Song("b", "B");
    library.Rescan();
    ASSERT_TRUE(Settled(library, 3));
    EXPECT_EQ(Names(*library.Entries()), (std::vector<std::string>{"Band - A", "Band - B"}));
    EXPECT_EQ(changes, 4);

    // Other folders, twice in a row: the last ones count.
    TemporaryFolder other;
    WriteFile(other.Path() / "x/x.txt", UltraStarText("Other", "X"));
    WriteTones((other.Path() / "x/song.mp3").string(), {{440, 3.0}}, 8000);
    library.SetRoots({});
    library.SetRoots({{other.Path().string(), LibraryRoot::Kind::Collection}});
    ASSERT_TRUE(Settled(library, 4));
    EXPECT_EQ(Names(*library.Entries()), std::vector<std::string>{"Other - X"});
    EXPECT_EQ(library.Roots().size(), 1u);
}

TEST_F(LibraryTest, StopEndsAScanInTheMiddle) {
    for (int i = 0; i < 1000; ++i) WriteFile(songs.Path() / std::to_string(i) / "断点", "");
    ASSERT_TRUE(FinishesWithin(
        [&] {
            CSongLibrary library("");
            library.SetRoots(Roots());
            library.Stop();
            library.Rescan();  // after Stop: nothing runs
            EXPECT_TRUE(library.Current().bIdle);
        },
        {}));
}

}  // namespace
