// The singer's history: every finished song or medley and every practice attempt, kept in an
// SQLite database (through Qt SQL) in the user's data folder. A song is known by the hash of its
// content (its reference: times and pitch values), so a renamed folder keeps its history; the
// folder it was last sung from names it in the song list.
//
// Each attempt is written in one transaction (the journal in write-ahead mode, synced), so a crash
// in the middle of a write loses at most that attempt and never damages what was kept before. A
// file that is not a database of ours, is damaged, or comes from a newer version of the program
// is moved aside (renamed with ".damaged-<time>" or ".newer-<time>") and a fresh one started; the
// user is told. Nothing else moves it: a file that cannot be written now (a full disk, another
// program's lock, no permission) stays as it is, the attempts kept meanwhile wait in memory (Keep)
// and are written once it can be. An older file is brought up to the present format by the
// migrations, each in its own transaction. A store is used on one thread (CHistoryService gives it
// a thread of its own).
#pragma once

#include <QString>

class QSqlQuery;

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace history {

struct Attempt {
    int64_t nId = 0;                // given by the store
    std::string strSongHash;        // SongHash of the song
    std::string strFolder;          // where the song was sung from
    std::string strTitle;           // its name as the list shows it
    int64_t nWhenMs = 0;            // when it was finished, ms since 1970 (UTC)
    int nRole = 1;                  // 1 or 2
    std::string strLevel;           // "easy", "standard" or "strict"
    int nPracticeLine = -1;         // -1: the whole song; else the line practised (from 0)
    int64_t nRun = 0;               // the songs of one medley share it (their first attempt's id)
    float fScore = 0.0f;            // the song's mean line score (a practice: the line's score)
    float fRunScore = 0.0f;         // the score the run ended with (a medley's mean over its songs)
    std::vector<float> lineScores;  // by line; a practice's one line
};

// A song's whole-song attempts in brief: the best score, the last, when that was and how many
// there were.
struct SongScores {
    float fBest = 0.0f;
    float fLast = 0.0f;
    int nAttempts = 0;
    int64_t nLastMs = 0;  // when the last was finished, ms since 1970 (UTC)
};

class CHistoryStore {
public:
    CHistoryStore();
    ~CHistoryStore();
    CHistoryStore(const CHistoryStore&) = delete;
    CHistoryStore& operator=(const CHistoryStore&) = delete;

    // Opens the database at path, creating it (and its folder) when missing. A file that cannot
    // be used is moved aside and a fresh one started; notice then says so, in words for the user
    // (empty otherwise). False (with the reason in notice) only when no database can be had.
    bool Open(const std::string& path, std::string& notice);
    bool IsOpen() const;
    void Close();

    // Keeps an attempt (its song, the attempt, its line scores) in one transaction; its id, or
    // nullopt with the reason in error.
    std::optional<int64_t> Add(const Attempt& attempt, std::string& error);
    // Keeps the attempts of one run (a song, the songs of a medley, a practice attempt): they are
    // written together, with every run that waits from before, in order. False, with the reason
    // in error, when the file cannot be written now: the runs then wait in memory for the next
    // Keep (an empty run only tries again).
    bool Keep(std::vector<Attempt> run, std::string& error);
    // The attempts waiting in memory to be written.
    std::size_t Waiting() const;
    // Every attempt at a song, oldest first, with their line scores.
    std::vector<Attempt> Attempts(const std::string& songHash) const;
    // The whole-song scores of every song sung, by the folder it was last sung from.
    std::map<std::string, SongScores> ScoresByFolder() const;
    // The hash of the song last sung from a folder ("" when none was).
    std::string HashOfFolder(const std::string& folder) const;

    // Where the history lives: the user's data folder, "history.sqlite".
    static std::string DefaultPath();
    // The database's format; a file of a higher one is a newer program's.
    static constexpr int kVersion = 2;

private:
    // Brings the file to the present format (a new one: made); false with the reason in error,
    // and whether it says the file is damaged in *damaged.
    bool Prepare(std::string& error, bool* damaged = nullptr);
    bool Migrate(QSqlQuery& query, int from, std::string& error, bool* damaged);
    bool WriteRun(std::vector<Attempt>& run, std::string& error);
    QString m_connection;
    bool m_bPrepared = false;  // the tables are there, in the present format
    std::vector<std::vector<Attempt>> m_waiting;
};

}  // namespace history
