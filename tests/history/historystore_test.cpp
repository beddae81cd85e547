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
#include <filesystem>
#include <fstream>
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
