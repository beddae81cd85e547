// Opening the review of a 4-minute song (its page built, every line's picture drawn, the first
// screen painted), and a song's history page with 1,000 attempts (read from the database, the
// chart and the list built, painted). The goals: 150 ms and 200 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>

#include <string>
#include <vector>

#include "bench/qtbenchmain.h"
#include "display/historypage.h"
#include "display/reviewpage.h"
#include "engine/headlesssession.h"
#include "engine/sessionrecord.h"
#include "history/historystore.h"
#include "platform/messages.h"
#include "tests/support/performance.h"

namespace {

using namespace testing_support;

// A 4-minute song sung faithfully, as the window records it for the review.
struct SungSong {
    SungSong() {
        // 58 lines of 8 notes (with the breaths and rests: about 4 minutes).
        melody = MakeMelody(58, 8, 5);
        WriteSong(library.Path(), "song", SongFilesOf(melody));
        engine::CHeadlessSession session({"song"}, 1, library.Path().string());
        const engine::SessionResult result =
            session.Sing(Stereo(Sing(melody, melody.back().End() + 3.0, Singer{})));
        final = result.fFinal;
        const engine::SongResult& song = result.songs.at(0);
        record.SongLoaded({"song", (library.Path() / "歌曲/单曲/song").string()}, song.song);
        for (const engine::LineCarry& carry : song.carries) record.LineBegun(carry);
        for (const engine::BufferReport& buffer : song.buffers) record.BufferJudged(buffer);
        for (const engine::LineReport& line : song.lines) record.LineScored(line);
        seconds = melody.back().End();
    }
    platform::MessageCapture quiet;
    TemporaryFolder library;
    std::vector<Line> melody;
    engine::CSessionRecord record;
    float final = 0.0f;
    double seconds = 0.0;
};

void BM_OpenReviewOfAFourMinuteSong(benchmark::State& state) {
    static SungSong sung;
    QWidget stage;
    stage.resize(800, 446);
    CReviewPage page(&stage);
    page.setGeometry(0, 0, 800, 446);
    stage.show();
    for (auto _ : state) {
        page.Show(sung.record, sung.final, 120);
        benchmark::DoNotOptimize(page.grab());
    }
    state.counters["song_s"] = sung.seconds;
    state.counters["lines"] = page.Rows();
}
BENCHMARK(BM_OpenReviewOfAFourMinuteSong)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// A history of 1,000 attempts at one song of 40 lines, a third of them practice.
struct LongHistory {
    LongHistory() {
        std::string notice;
        store.Open((folder.Path() / "history.sqlite").string(), notice);
        for (int i = 0; i < 1000; ++i) {
            history::Attempt attempt;
            attempt.strSongHash = "song";
            attempt.strFolder = "歌曲/单曲/song";
            attempt.strTitle = "song";
            attempt.nWhenMs = 1'780'000'000'000 + int64_t{i} * 3'600'000;
            attempt.strLevel = "standard";
            attempt.nPracticeLine = i % 3 == 2 ? i % 40 : -1;
            attempt.fScore = static_cast<float>(40 + i % 60);
            attempt.lineScores.assign(attempt.nPracticeLine < 0 ? 40 : 1, attempt.fScore);
            std::string error;
            store.Add(attempt, error);
        }
    }
    TemporaryFolder folder;
    history::CHistoryStore store;
};

void BM_HistoryPageOfAThousandAttempts(benchmark::State& state) {
    static LongHistory history;
    QWidget stage;
    stage.resize(800, 446);
    CHistoryPage page(&stage);
    page.setGeometry(0, 0, 800, 446);
    stage.show();
    for (auto _ : state) {
        const std::vector<history::Attempt> attempts = history.store.Attempts("song");
        page.Show(QStringLiteral("song"), attempts);
        benchmark::DoNotOptimize(page.grab());
    }
}
BENCHMARK(BM_HistoryPageOfAThousandAttempts)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

int NoCpuShare() { return 0; }

}  // namespace

int main(int argc, char** argv) { return QtBenchmarkMain(argc, argv, NoCpuShare); }
