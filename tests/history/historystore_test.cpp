// The history's database: what it keeps and gives back, a renamed song folder, a damaged or newer
// file kept aside, and a writer killed in the middle of a write.
#include "history/historystore.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/song.h"
#include "history/historyservice.h"
#include "history/songhash.h"
#include "tests/support/songwriter.h"

extern char** environ;

namespace history {
namespace {

class CoreApplication : public ::testing::Environment {
public:
    void SetUp() override { m_app = std::make_unique<QCoreApplication>(m_argc, m_argv); }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "history_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};
[[maybe_unused]] ::testing::Environment* const g_core =
    ::testing::AddGlobalTestEnvironment(new CoreApplication);

Attempt MakeAttempt(const std::string& hash, const std::string& folder, int64_t when, float score,
                    int lines, int practiceLine = -1) {
    Attempt attempt;
    attempt.strSongHash = hash;
    attempt.strFolder = folder;
    attempt.strTitle = std::filesystem::path(folder).filename().string();
    attempt.nWhenMs = when;
    attempt.strLevel = "standard";
    attempt.nPracticeLine = practiceLine;
    attempt.fScore = score;
    attempt.fRunScore = score;
    for (int i = 0; i < lines; ++i) attempt.lineScores.push_back(score + static_cast<float>(i));
    return attempt;
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class HistoryStore : public ::testing::Test {
protected:
    std::filesystem::path Db() const { return folder.Path() / "data" / "history.sqlite"; }
    std::vector<std::filesystem::path> Aside() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(Db().parent_path()))
            if (entry.path().filename().string().find(".damaged-") != std::string::npos ||
                entry.path().filename().string().find(".newer-") != std::string::npos)
                found.push_back(entry.path());
        return found;
    }
    testing_support::TemporaryFolder folder;
};

TEST_F(HistoryStore, KeepsAttemptsWithTheirLinesAndARenamedFolderKeepsItsHistory) {
    CHistoryStore store;
    std::string notice;
    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;
    EXPECT_EQ(notice, "");
    std::string error;
    ASSERT_TRUE(store.Add(MakeAttempt("h1", "歌曲/单曲/old", 1000, 70.5f, 3), error)) << error;
    ASSERT_TRUE(store.Add(MakeAttempt("h1", "歌曲/单曲/old", 2000, 90.0f, 3), error)) << error;
    ASSERT_TRUE(store.Add(MakeAttempt("h2", "歌曲/单曲/other", 2500, 40.0f, 2), error)) << error;
    // The folder was renamed: the same song, by its content.
    ASSERT_TRUE(store.Add(MakeAttempt("h1", "歌曲/单曲/new", 3000, 80.0f, 3), error)) << error;
    ASSERT_TRUE(store.Add(MakeAttempt("h1", "歌曲/单曲/new", 4000, 99.0f, 1, 2), error)) << error;
    store.Close();

    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;  // what was kept is there again
    const std::vector<Attempt> attempts = store.Attempts("h1");
    ASSERT_EQ(attempts.size(), 4u);
    EXPECT_EQ(attempts[0].nWhenMs, 1000);
    EXPECT_FLOAT_EQ(attempts[0].fScore, 70.5f);
    EXPECT_EQ(attempts[0].lineScores, (std::vector<float>{70.5f, 71.5f, 72.5f}));
    EXPECT_EQ(attempts[0].strLevel, "standard");
    EXPECT_EQ(attempts[0].nRun, attempts[0].nId) << "a single song is a run of its own";
    EXPECT_EQ(attempts[3].nPracticeLine, 2);
    EXPECT_EQ(attempts[3].lineScores, (std::vector<float>{99.0f}));
    EXPECT_EQ(attempts[3].strFolder, "歌曲/单曲/new");

    // The list's figures: whole songs only, under the folder last sung from.
    const std::map<std::string, SongScores> scores = store.ScoresByFolder();
    ASSERT_EQ(scores.size(), 2u);
    ASSERT_EQ(scores.count("歌曲/单曲/new"), 1u);
    EXPECT_FLOAT_EQ(scores.at("歌曲/单曲/new").fBest, 90.0f);
    EXPECT_FLOAT_EQ(scores.at("歌曲/单曲/new").fLast, 80.0f);
    EXPECT_EQ(scores.at("歌曲/单曲/new").nAttempts, 3);
    EXPECT_EQ(scores.at("歌曲/单曲/new").nLastMs, 3000) << "the practice later is no song sung";
    EXPECT_EQ(store.HashOfFolder("歌曲/单曲/new"), "h1");
    EXPECT_EQ(store.HashOfFolder("歌曲/单曲/old"), "");
}

TEST_F(HistoryStore, ADamagedOrNewerFileIsKeptAsideAndAFreshOneStarts) {
    std::filesystem::create_directories(Db().parent_path());
    testing_support::WriteFile(Db(), std::string(4096, 'x'));
    CHistoryStore store;
    std::string notice;
    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;
    EXPECT_NE(notice.find("已损坏"), std::string::npos) << notice;
    std::vector<std::filesystem::path> aside = Aside();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadAll(aside[0]), std::string(4096, 'x')) << "the damaged file was not kept";
    std::string error;
    ASSERT_TRUE(store.Add(MakeAttempt("h", "歌曲/单曲/s", 1, 50.0f, 2), error)) << error;
    store.Close();

    // A newer program's file: its format number is higher than ours.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "newer");
        db.setDatabaseName(QString::fromStdString(Db().string()));
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(
            query.exec(QStringLiteral("PRAGMA user_version=%1").arg(CHistoryStore::kVersion + 1)));
        db.close();
    }
    QSqlDatabase::removeDatabase("newer");
    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;
    EXPECT_NE(notice.find("更新版本"), std::string::npos) << notice;
    EXPECT_EQ(Aside().size(), 2u);
    EXPECT_TRUE(store.Attempts("h").empty()) << "a fresh history";
    ASSERT_TRUE(store.Add(MakeAttempt("h", "歌曲/单曲/s", 2, 60.0f, 2), error)) << error;
    EXPECT_EQ(store.Attempts("h").size(), 1u);

    // A folder where the file should be cannot be a history: said, nothing moved.
    CHistoryStore other;
    const std::filesystem::path folderInstead = folder.Path() / "folder.sqlite";
    std::filesystem::create_directories(folderInstead);
    EXPECT_FALSE(other.Open(folderInstead.string(), notice));
    EXPECT_NE(notice.find("folder.sqlite"), std::string::npos) << notice;
}

// A file that cannot be written for a while (another program holds it locked, the disk is full,
// it may only be read) is left as it is: what is kept meanwhile waits in memory and is written,
// in order, once the file can take it again.
TEST_F(HistoryStore, AFileThatCannotBeWrittenNowIsKeptAndTheAttemptsWait) {
    enum class Cause { Lock, FullDisk, ReadOnly };
    for (Cause cause : {Cause::Lock, Cause::FullDisk, Cause::ReadOnly}) {
        SCOPED_TRACE(static_cast<int>(cause));
        testing_support::TemporaryFolder place;
        std::filesystem::path db = place.Path() / "history.sqlite";
        std::filesystem::path filler = place.Path() / "filler";
        if (cause == Cause::FullDisk) {
            // A small file system of its own, filled up below.
            const std::string mount =
                "mount -t tmpfs -o size=512k tmpfs '" + place.Path().string() + "' 2> /dev/null";
            if (std::system(mount.c_str()) != 0) {
                std::cout << "no tmpfs can be mounted here: the full disk is not tried\n";
                continue;
            }
        }
        if (cause == Cause::ReadOnly && geteuid() == 0) {
            std::cout << "root writes a read-only file all the same: not tried\n";
            continue;
        }
        {
            CHistoryStore first;
            std::string notice, error;
            ASSERT_TRUE(first.Open(db.string(), notice)) << notice;
            ASSERT_TRUE(first.Add(MakeAttempt("h", "歌曲/单曲/s", 1, 50.0f, 3), error)) << error;
        }
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
        other.setDatabaseName(QString::fromStdString(db.string()));
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        switch (cause) {
            case Cause::Lock:
                ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
                break;
            case Cause::FullDisk:
                testing_support::WriteFile(filler, std::string(512 << 10, 'f'));  // as far as fits
                break;
            case Cause::ReadOnly:
                std::filesystem::permissions(db, std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
                break;
        }

        CHistoryStore store;
        std::string notice, error;
        // It is read as it is (a lock, a full disk) or said not to be writable now.
        EXPECT_TRUE(store.Open(db.string(), notice)) << notice;
        EXPECT_EQ(notice.find("已损坏"), std::string::npos) << notice;
        for (const auto& entry : std::filesystem::directory_iterator(place.Path()))
            EXPECT_EQ(entry.path().filename().string().find(".damaged-"), std::string::npos);
        std::vector<Attempt> medley = {MakeAttempt("m1", "歌曲/串烧歌曲/a", 2, 70.0f, 40),
                                       MakeAttempt("m2", "歌曲/串烧歌曲/b", 2, 80.0f, 40)};
        EXPECT_FALSE(store.Keep(medley, error));
        EXPECT_FALSE(store.Keep({MakeAttempt("h", "歌曲/单曲/s", 3, 90.0f, 1, 0)}, error));
        EXPECT_EQ(store.Waiting(), 3u);

        // The file can be written again: what waited is there, the medley still one run.
        hold.finish();
        if (cause == Cause::Lock) other.rollback();
        other.close();
        hold = QSqlQuery();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
        std::filesystem::remove(filler);
        std::filesystem::permissions(
            db, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_TRUE(store.Keep({}, error)) << error;
        EXPECT_EQ(store.Waiting(), 0u);
        EXPECT_EQ(store.Attempts("h").size(), 2u) << "the first attempt and the practice";
        const std::vector<Attempt> a = store.Attempts("m1"), b = store.Attempts("m2");
        ASSERT_EQ(a.size(), 1u);
        ASSERT_EQ(b.size(), 1u);
        EXPECT_EQ(a[0].nRun, b[0].nRun);
        EXPECT_EQ(b[0].lineScores.size(), 40u);
        store.Close();
        if (cause == Cause::FullDisk) {
            EXPECT_EQ(std::system(("umount '" + place.Path().string() + "'").c_str()), 0);
        }
    }
}

// A file of the first format written before medleys were kept as runs: it is brought up to date,
// every attempt a run of its own, and is written as any other.
TEST_F(HistoryStore, AnOlderFileIsMigrated) {
    std::filesystem::create_directories(Db().parent_path());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "old");
        db.setDatabaseName(QString::fromStdString(Db().string()));
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        for (const char* statement :
             {"CREATE TABLE songs(hash TEXT PRIMARY KEY, folder TEXT NOT NULL, title TEXT NOT "
              "NULL)",
              "CREATE TABLE attempts(id INTEGER PRIMARY KEY, song TEXT NOT NULL REFERENCES "
              "songs(hash), at INTEGER NOT NULL, role INTEGER NOT NULL, level TEXT NOT NULL, "
              "line INTEGER NOT NULL, score REAL NOT NULL)",
              "CREATE TABLE line_scores(attempt INTEGER NOT NULL REFERENCES attempts(id) ON "
              "DELETE CASCADE, line INTEGER NOT NULL, score REAL NOT NULL, PRIMARY KEY(attempt, "
              "line))",
              "INSERT INTO songs VALUES('h', '歌曲/单曲/s', 's')",
              "INSERT INTO attempts VALUES(7, 'h', 1000, 1, 'easy', -1, 88.5)",
              "INSERT INTO line_scores VALUES(7, 0, 88.5)", "PRAGMA user_version=1"})
            ASSERT_TRUE(query.exec(QLatin1String(statement))) << statement;
        db.close();
    }
    QSqlDatabase::removeDatabase("old");
    CHistoryStore store;
    std::string notice, error;
    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;
    EXPECT_EQ(notice, "");
    EXPECT_TRUE(Aside().empty());
    ASSERT_TRUE(store.Add(MakeAttempt("h", "歌曲/单曲/s", 2000, 91.0f, 1), error)) << error;
    const std::vector<Attempt> attempts = store.Attempts("h");
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0].nRun, 7);
    EXPECT_FLOAT_EQ(attempts[0].fRunScore, 88.5f);
    EXPECT_EQ(attempts[0].lineScores, std::vector<float>{88.5f});
    EXPECT_FLOAT_EQ(store.ScoresByFolder()["歌曲/单曲/s"].fBest, 91.0f);
}

// A writer killed while it writes: whatever it had committed is there, whole, and the file opens
// as it is.
TEST_F(HistoryStore, AWriterKilledInTheMiddleLosesNothingItCommitted) {
    std::filesystem::create_directories(Db().parent_path());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = HISTORY_WRITER;
    std::string path = Db().string();
    std::vector<char*> argv = {program.data(), path.data(), nullptr};
    pid_t writer = 0;
    ASSERT_EQ(posix_spawn(&writer, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* reading = fdopen(out[0], "r");
    long committed = 0;
    char line[64];
    while (committed < 40 && std::fgets(line, sizeof line, reading)) committed = std::atol(line);
    kill(writer, SIGKILL);  // somewhere inside its next write
    waitpid(writer, nullptr, 0);
    std::fclose(reading);
    ASSERT_GE(committed, 40) << "the writer stopped early";

    CHistoryStore store;
    std::string notice;
    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;
    EXPECT_EQ(notice, "") << "the file was damaged";
    long found = 0;
    for (int song = 0; song < 7; ++song)
        for (const Attempt& attempt : store.Attempts("hash-" + std::to_string(song))) {
            ++found;
            EXPECT_EQ(attempt.lineScores.size(), 5u) << "an attempt was kept in part";
        }
    EXPECT_GE(found, committed);
    EXPECT_LE(found, committed + 1);
}

// The history on its own thread: opened there, jobs in the order posted, and whatever was posted
// before the service goes is kept.
TEST_F(HistoryStore, TheServiceRunsItsJobsInOrderAndKeepsWhatWasPostedBeforeItGoes) {
    std::atomic<bool> opened{false};
    {
        CHistoryService service(Db().string(), [&](bool ok, const std::string& notice) {
            EXPECT_TRUE(ok) << notice;
            opened = true;
        });
        for (int i = 0; i < 20; ++i)
            service.Post([i](CHistoryStore& store) {
                std::string error;
                EXPECT_TRUE(store.Add(MakeAttempt("h", "歌曲/单曲/s", i, float(i), 1), error))
                    << error;
            });
        std::vector<Attempt> seen;
        service.Post([&seen](CHistoryStore& store) { seen = store.Attempts("h"); });
        service.Flush();
        EXPECT_TRUE(opened);
        ASSERT_EQ(seen.size(), 20u);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[std::size_t(i)].nWhenMs, i);
        service.Post([](CHistoryStore& store) {
            std::string error;
            EXPECT_TRUE(store.Add(MakeAttempt("h", "歌曲/单曲/s", 99, 1.0f, 1), error)) << error;
        });
    }  // gone at once after posting: the last attempt is still written
    CHistoryStore store;
    std::string notice;
    ASSERT_TRUE(store.Open(Db().string(), notice)) << notice;
    EXPECT_EQ(store.Attempts("h").size(), 21u);
}

TEST(SongHash, TheSameReferenceIsTheSameSongWhateverItsFolder) {
    const engine::CSong a({1.0f, 3.0f}, {2.5f, 4.0f}, {{600, 610, 0}});
    const engine::CSong same({1.0f, 3.0f}, {2.5f, 4.0f}, {{600, 610, 0}});
    const engine::CSong other({1.0f, 3.0f}, {2.5f, 4.0f}, {{600, 620, 0}});
    EXPECT_EQ(SongHash(a), SongHash(same));
    EXPECT_NE(SongHash(a), SongHash(other));
    EXPECT_EQ(SongHash(a).size(), 64u);
}

}  // namespace
}  // namespace history
