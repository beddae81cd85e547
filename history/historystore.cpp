#include "history/historystore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>
#include <set>

namespace history {
namespace {

std::atomic<int> g_connections{0};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Runs one statement; false with the database's words in error.
bool Exec(QSqlQuery& query, const QString& statement, std::string& error) {
    if (query.exec(statement)) return true;
    error = query.lastError().text().toStdString();
    return false;
}

// Whether SQLite's words for a failure say the file is damaged or no database at all; anything
// else (busy, locked, read-only, full, an I/O error) is the moment's, not the file's.
bool Damaged(const QSqlError& error) {
    bool number = false;
    const int code = error.nativeErrorCode().toInt(&number) & 0xff;
    return number && (code == 11 || code == 26);  // SQLITE_CORRUPT, SQLITE_NOTADB
}

// Runs one statement; false with the database's words in error and, when given, whether they
// say the file is damaged.
bool Exec(QSqlQuery& query, const QString& statement, std::string& error, bool* damaged) {
    if (Exec(query, statement, error)) return true;
    if (damaged) *damaged = Damaged(query.lastError());
    return false;
}

}  // namespace

CHistoryStore::CHistoryStore()
    : m_connection(QStringLiteral("quorvel-history-%1").arg(g_connections.fetch_add(1))) {}

CHistoryStore::~CHistoryStore() { Close(); }

std::string CHistoryStore::DefaultPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(folder).filePath(QStringLiteral("history.sqlite")).toStdString();
}

bool CHistoryStore::IsOpen() const {
    return QSqlDatabase::contains(m_connection) &&
           QSqlDatabase::database(m_connection, false).isOpen();
}

void CHistoryStore::Close() {
    if (!QSqlDatabase::contains(m_connection)) return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool CHistoryStore::Open(const std::string& path, std::string& notice) {
    Close();
    notice.clear();
    const QString file = Q(path);
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (QFileInfo(file).exists() && !QFileInfo(file).isFile()) {
        notice = "历史记录“" + path + "”不是一个文件，历史记录无法保存。";
        return false;
    }
    for (int round = 0; round < 2; ++round) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            db.setDatabaseName(file);
            // Another program's lock is waited for a moment, not for long: what cannot be
            // written now waits in memory.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
            if (!db.open()) {
                notice =
                    "历史记录“" + path + "”无法打开：" + db.lastError().text().toStdString() + "。";
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(m_connection);
                return false;
            }
        }
        std::string error;
        bool damaged = false;
        QSqlQuery query(QSqlDatabase::database(m_connection));
        int version = -1;
        const bool read =
            Exec(query, QStringLiteral("PRAGMA quick_check"), error, &damaged) && query.next();
        if (read && query.value(0).toString() != QStringLiteral("ok")) {
            damaged = true;
            error = query.value(0).toString().toStdString();
        }
        if (read && !damaged && Exec(query, QStringLiteral("PRAGMA user_version"), error) &&
            query.next())
            version = query.value(0).toInt();
        query.finish();  // no statement may stay open while the journal mode changes
        const bool newer = version > kVersion;
        if (!damaged && !newer) {
            if (read && version >= 0 && Prepare(error, &damaged)) return true;
            if (!damaged) {
                // Busy, locked, read-only or full: the file stays as it is, and is tried again
                // with every attempt kept.
                query = QSqlQuery();
                notice = "历史记录“";
                notice += path;
                notice += read ? "”现在无法写入（" : "”现在无法读取（";
                notice += error;
                notice += "），文件保持原样；新的成绩先留在内存里，能写入时再写进去。";
                return true;
            }
        }
        query = QSqlQuery();
        Close();
        if (round == 1) break;
        // Keep the file (and its journal) aside under a name of its own, and start afresh.
        const QString aside =
            file + (newer ? QStringLiteral(".newer-") : QStringLiteral(".damaged-")) +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::rename(file, aside)) {
            notice = "历史记录“" + path + "”无法使用，也无法移开。";
            return false;
        }
        for (const char* journal : {"-wal", "-shm", "-journal"})
            if (QFile::exists(file + QLatin1String(journal)))
                QFile::rename(file + QLatin1String(journal), aside + QLatin1String(journal));
        notice = "历史记录“";
        notice += path;
        if (newer) {
            notice += "”来自更新版本的程序";
        } else {
            notice += "”已损坏（";
            notice += error;
            notice += "）";
        }
        notice += "，已另存为“";
        notice += aside.toStdString();
        notice += "”；新的历史记录从现在开始。";
    }
    if (notice.empty()) notice = "历史记录“" + path + "”无法使用。";
    return false;
}

bool CHistoryStore::Prepare(std::string& error, bool* damaged) {
    m_bPrepared = false;
    QSqlQuery query(QSqlDatabase::database(m_connection));
    // A crash loses at most the attempt being written; what was committed stays.
    for (const char* pragma :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
        if (!Exec(query, QLatin1String(pragma), error, damaged)) return false;
        query.finish();
    }
    if (!Exec(query, QStringLiteral("PRAGMA user_version"), error, damaged) || !query.next())
        return false;
    int version = query.value(0).toInt();
    query.finish();
    // Each step in a transaction of its own, the format's number with it.
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    while (version < kVersion) {
        if (!db.transaction()) {
            error = db.lastError().text().toStdString();
            return false;
        }
        const bool done =
            Migrate(query, version, error, damaged) &&
            Exec(query, QStringLiteral("PRAGMA user_version=%1").arg(version + 1), error, damaged);
        if (!done) {
            db.rollback();
            return false;
        }
        if (!db.commit()) {
            error = db.lastError().text().toStdString();
            db.rollback();
            return false;
        }
        ++version;
    }
    m_bPrepared = true;
    return true;
}

bool CHistoryStore::Migrate(QSqlQuery& query, int from, std::string& error, bool* damaged) {
    const auto run = [&](const char* statement) {
        return Exec(query, QLatin1String(statement), error, damaged);
    };
    if (from == 0)  // a new file: the first format
        return run("CREATE TABLE IF NOT EXISTS songs(hash TEXT PRIMARY KEY, folder TEXT NOT NULL, "
                   "title TEXT NOT NULL)") &&
               run("CREATE TABLE IF NOT EXISTS attempts(id INTEGER PRIMARY KEY, song TEXT NOT "
                   "NULL REFERENCES songs(hash), at INTEGER NOT NULL, role INTEGER NOT NULL, "
                   "level TEXT NOT NULL, line INTEGER NOT NULL, run INTEGER NOT NULL, score REAL "
                   "NOT NULL, run_score REAL NOT NULL)") &&
               run("CREATE TABLE IF NOT EXISTS line_scores(attempt INTEGER NOT NULL REFERENCES "
                   "attempts(id) ON DELETE CASCADE, line INTEGER NOT NULL, score REAL NOT NULL, "
                   "PRIMARY KEY(attempt, line))") &&
               run("CREATE INDEX IF NOT EXISTS attempts_by_song ON attempts(song, at)");
    // 1 → 2: files of the first format written before medleys were kept as runs lack the run
    // and its score: every attempt is a run of its own, scored as it was.
    std::set<QString> columns;
    if (!run("PRAGMA table_info(attempts)")) return false;
    while (query.next()) columns.insert(query.value(1).toString());
    query.finish();
    if (!columns.count(QStringLiteral("run")) &&
        !(run("ALTER TABLE attempts ADD COLUMN run INTEGER NOT NULL DEFAULT 0") &&
          run("UPDATE attempts SET run = id")))
        return false;
    if (!columns.count(QStringLiteral("run_score")) &&
        !(run("ALTER TABLE attempts ADD COLUMN run_score REAL NOT NULL DEFAULT 0") &&
          run("UPDATE attempts SET run_score = score")))
        return false;
    return true;
}

std::optional<int64_t> CHistoryStore::Add(const Attempt& attempt, std::string& error) {
    std::vector<Attempt> run{attempt};
    if (!WriteRun(run, error)) return std::nullopt;
    return run.front().nId;
}

bool CHistoryStore::Keep(std::vector<Attempt> run, std::string& error) {
    if (!run.empty()) m_waiting.push_back(std::move(run));
    while (!m_waiting.empty()) {
        if (!WriteRun(m_waiting.front(), error)) return false;
        m_waiting.erase(m_waiting.begin());
    }
    return true;
}

std::size_t CHistoryStore::Waiting() const {
    std::size_t count = 0;
    for (const std::vector<Attempt>& run : m_waiting) count += run.size();
    return count;
}

bool CHistoryStore::WriteRun(std::vector<Attempt>& run, std::string& error) {
    if (!IsOpen()) {
        error = "the history is not open";
        return false;
    }
    // A file that could not be prepared (locked, read-only, full) is tried again now.
    if (!m_bPrepared && !Prepare(error)) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    if (!db.transaction()) {
        error = db.lastError().text().toStdString();
        return false;
    }
    QSqlQuery query(db);
    auto fail = [&] {
        if (error.empty()) error = query.lastError().text().toStdString();
        db.rollback();
        return false;
    };
    error.clear();
    // The songs of a run share the first one's run; a first of no run given makes its own.
    std::vector<int64_t> ids;
    int64_t runId = run.empty() ? 0 : run.front().nRun;
    for (const Attempt& attempt : run) {
        query.prepare(QStringLiteral(
            "INSERT INTO songs(hash, folder, title) VALUES(?, ?, ?) ON CONFLICT(hash) DO UPDATE "
            "SET folder = excluded.folder, title = excluded.title"));
        query.addBindValue(Q(attempt.strSongHash));
        query.addBindValue(Q(attempt.strFolder));
        query.addBindValue(Q(attempt.strTitle));
        if (!query.exec()) return fail();
        query.prepare(QStringLiteral(
            "INSERT INTO attempts(song, at, role, level, line, run, score, run_score) "
            "VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
        query.addBindValue(Q(attempt.strSongHash));
        query.addBindValue(QVariant::fromValue<qlonglong>(attempt.nWhenMs));
        query.addBindValue(attempt.nRole);
        query.addBindValue(Q(attempt.strLevel));
        query.addBindValue(attempt.nPracticeLine);
        query.addBindValue(QVariant::fromValue<qlonglong>(runId));
        query.addBindValue(static_cast<double>(attempt.fScore));
        query.addBindValue(static_cast<double>(attempt.fRunScore));
        if (!query.exec()) return fail();
        const int64_t id = query.lastInsertId().toLongLong();
        if (runId == 0) {
            runId = id;
            query.prepare(QStringLiteral("UPDATE attempts SET run = id WHERE id = ?"));
            query.addBindValue(QVariant::fromValue<qlonglong>(id));
            if (!query.exec()) return fail();
        }
        query.prepare(
            QStringLiteral("INSERT INTO line_scores(attempt, line, score) VALUES(?, ?, ?)"));
        for (std::size_t i = 0; i < attempt.lineScores.size(); ++i) {
            const int line =
                attempt.nPracticeLine >= 0 ? attempt.nPracticeLine : static_cast<int>(i);
            query.addBindValue(QVariant::fromValue<qlonglong>(id));
            query.addBindValue(line);
            query.addBindValue(static_cast<double>(attempt.lineScores[i]));
            if (!query.exec()) return fail();
        }
        ids.push_back(id);
    }
    if (!db.commit()) {
        error = db.lastError().text().toStdString();
        db.rollback();
        return false;
    }
    for (std::size_t i = 0; i < run.size(); ++i) {
        run[i].nId = ids[i];
        run[i].nRun = runId;
    }
    return true;
}

std::vector<Attempt> CHistoryStore::Attempts(const std::string& songHash) const {
    std::vector<Attempt> attempts;
    if (!IsOpen()) return attempts;
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT a.id, s.folder, s.title, a.at, a.role, a.level, a.line, a.run, a.score, "
        "a.run_score FROM attempts a JOIN songs s ON s.hash = a.song WHERE a.song = ? "
        "ORDER BY a.at, a.id"));
    query.addBindValue(Q(songHash));
    if (!query.exec()) return attempts;
    std::map<int64_t, std::size_t> byId;
    while (query.next()) {
        Attempt a;
        a.nId = query.value(0).toLongLong();
        a.strSongHash = songHash;
        a.strFolder = query.value(1).toString().toStdString();
        a.strTitle = query.value(2).toString().toStdString();
        a.nWhenMs = query.value(3).toLongLong();
        a.nRole = query.value(4).toInt();
        a.strLevel = query.value(5).toString().toStdString();
        a.nPracticeLine = query.value(6).toInt();
        a.nRun = query.value(7).toLongLong();
        a.fScore = query.value(8).toFloat();
        a.fRunScore = query.value(9).toFloat();
        byId[a.nId] = attempts.size();
        attempts.push_back(std::move(a));
    }
    QSqlQuery lines(db);
    lines.setForwardOnly(true);
    lines.prepare(QStringLiteral(
        "SELECT l.attempt, l.score FROM line_scores l JOIN attempts a ON a.id = l.attempt "
        "WHERE a.song = ? ORDER BY l.attempt, l.line"));
    lines.addBindValue(Q(songHash));
    if (!lines.exec()) return attempts;
    while (lines.next()) {
        const auto found = byId.find(lines.value(0).toLongLong());
        if (found != byId.end())
            attempts[found->second].lineScores.push_back(lines.value(1).toFloat());
    }
    return attempts;
}

std::map<std::string, SongScores> CHistoryStore::ScoresByFolder() const {
    std::map<std::string, SongScores> scores;
    if (!IsOpen()) return scores;
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT s.folder, MAX(a.score), COUNT(*), MAX(a.at), (SELECT b.score FROM attempts b "
            "WHERE b.song = s.hash AND b.line < 0 ORDER BY b.at DESC, b.id DESC LIMIT 1) "
            "FROM songs s JOIN attempts a ON a.song = s.hash WHERE a.line < 0 GROUP BY s.hash")))
        return scores;
    while (query.next()) {
        SongScores& entry = scores[query.value(0).toString().toStdString()];
        entry.fBest = query.value(1).toFloat();
        entry.nAttempts = query.value(2).toInt();
        entry.nLastMs = query.value(3).toLongLong();
        entry.fLast = query.value(4).toFloat();
    }
    return scores;
}

std::string CHistoryStore::HashOfFolder(const std::string& folder) const {
    if (!IsOpen()) return {};
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT hash FROM songs WHERE folder = ? LIMIT 1"));
    query.addBindValue(Q(folder));
    if (!query.exec() || !query.next()) return {};
    return query.value(0).toString().toStdString();
}

}  // namespace history
