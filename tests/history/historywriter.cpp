// Writes attempts into a history as fast as it can, forever, and prints how many it has
// committed after each: the test kills it in the middle of a write.
#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "history/historystore.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) return 2;
    history::CHistoryStore store;
    std::string notice;
    if (!store.Open(argv[1], notice)) {
        std::fprintf(stderr, "%s\n", notice.c_str());
        return 1;
    }
    for (long committed = 0;;) {
        history::Attempt attempt;
        attempt.strSongHash = "hash-" + std::to_string(committed % 7);
        attempt.strFolder = "歌曲/单曲/song" + std::to_string(committed % 7);
        attempt.strTitle = "song";
        attempt.nWhenMs = committed;
        attempt.strLevel = "easy";
        attempt.fScore = static_cast<float>(committed % 100);
        attempt.lineScores.assign(5, static_cast<float>(committed % 100));
        std::string error;
        if (!store.Add(attempt, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("%ld\n", ++committed);
        std::fflush(stdout);
    }
}
