// The song library with a generated collection of 5,000 songs (4,000 UltraStar songs in nested
// artist folders and 1,000 native songs) in a temporary folder:
// - cold scan: every folder walked and every ".txt" header read (no scan cache);
// - cache load: what a warm start does before the list can show (read and check the cache file,
//   fold the search keys);
// - warm start to list: a new library with the cache file present, until its entries are
//   published (the list can show), on its own thread;
// - warm scan: every folder walked again with the cache, no header read;
// - window to list: the real window made, initialised and taken to the single-song list, until
//   the list shows the songs and has painted its rows, with the cache file of an earlier run
//   present (a warm start); and on until every visible row's cover is decoded and painted;
// - scroll frame: the list of the real window scrolled by a wheel step (three rows) and its
//   rows painted, covers decoded meanwhile on the loader's thread; the slowest frame is counted
//   too;
// - filter step: one keystroke in the search box of the real window (fold the typed words,
//   match 5,000 entries, rebuild the list widget, let it lay out and paint offscreen), with
//   setRowHidden on a list of 5,000 rows beside it for comparison.
// --library-songs=N makes a smaller collection (the smoke run under CTest).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/quorveldlg.h"
#include "app/songlistdelegate.h"
#include "bench/qtbenchmain.h"
#include "library/searchfold.h"
#include "library/songcache.h"
#include "library/songlibrary.h"
#include "library/songscanner.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "tests/library/ultrastartext.h"
#include "tests/support/songwriter.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

int g_songs = 5000;

const char* const kWords[] = {"Love",  "Moon", "Night", "Heart",  "Dance",  "Café",
                              "Ärger", "Sun",  "Rain",  "Город",  "Звезда", "月亮",
                              "海边",  "稻香", "River", "Fire",   "Dream",  "Señor",
                              "Blue",  "Road", "Time",  "Garçon", "Stars",  "Wind"};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

std::string Words(unsigned seed, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        if (i) text += ' ';
        text += kWords[(seed >> 16) % kWordCount];
    }
    return text;
}

// A song file of a realistic size: headers and a few hundred notes.
std::string SongText(const std::string& artist, const std::string& title, unsigned seed) {
    std::string notes;
    for (int beat = 0; beat < 1200; beat += 4) {
        notes += ": " + std::to_string(beat) + " 3 " + std::to_string(static_cast<int>(seed % 12)) +
                 " la\n";
        if (beat % 64 == 60) notes += "- " + std::to_string(beat + 4) + "\n";
        seed = seed * 1103515245u + 12345u;
    }
    return UltraStarText(artist, title,
                         std::string("#COVER:cover.jpg\n#YEAR:19") +
                             std::to_string(70 + seed % 30) + "\n#LANGUAGE:English\n" +
                             (seed % 5 == 0 ? "#MEDLEYSTARTBEAT:64\n#MEDLEYENDBEAT:640\n" : "")) +
           notes;
}

// A cover as a collection has them: a JPEG of 300 × 300 pixels (a few of them, in turn).
const std::string& CoverJpeg(int i) {
    static const std::vector<std::string> covers = [] {
        std::vector<std::string> made;
        for (int k = 0; k < 8; ++k) {
            QImage image(300, 300, QImage::Format_RGB32);
            QPainter painter(&image);
            painter.fillRect(image.rect(), QColor::fromHsv(k * 45, 160, 200));
            painter.fillRect(QRect(40 + k * 10, 60, 180, 120),
                             QColor::fromHsv(k * 45 + 90, 200, 120));
            painter.end();
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "JPG", 85);
            made.push_back(bytes.toStdString());
        }
        return made;
    }();
    return covers[static_cast<std::size_t>(i) % covers.size()];
}

// The collection below folder: 歌曲/单曲 and 歌曲/串烧歌曲 of the bundled library. Every
// UltraStar song names its cover (#COVER) and every other native song has a cover.jpg.
class Collection {
public:
    Collection() {
        const int native = g_songs / 5;
        for (int i = 0; i < g_songs - native; ++i) {
            const std::string artist = Words(i / 8 + 1, 2) + " " + std::to_string(i / 8);
            const std::string title = Words(i * 7 + 3, 3);
            const fs::path song = m_folder.Path() / "歌曲/单曲/UltraStar" / artist /
                                  (title + " " + std::to_string(i));
            WriteFile(song / "song.txt", SongText(artist, title, i));
            WriteFile(song / "song.mp3", "ID3");
            WriteFile(song / "cover.jpg", CoverJpeg(i));
        }
        for (int i = 0; i < native; ++i) {
            const fs::path song = m_folder.Path() / "歌曲" / (i % 4 ? "单曲" : "串烧歌曲") /
                                  (Words(i * 13 + 5, 2) + " " + std::to_string(i));
            WriteFile(song / "断点", "1 2\n");
            WriteFile(song / "music.mp3", "ID3");
            if (i % 2) WriteFile(song / "cover.jpg", CoverJpeg(i));
        }
    }
    fs::path Path() const { return m_folder.Path(); }
    std::vector<library::LibraryRoot> Roots() const {
        return library::BundledRoots(m_folder.Path().string());
    }
    std::string CachePath() const { return (m_folder.Path() / "cache/songlibrary.cache").string(); }

private:
    TemporaryFolder m_folder;
};

Collection& TheCollection() {
    static Collection collection;
    return collection;
}

void BM_ColdScan(benchmark::State& state) {
    const Collection& collection = TheCollection();
    for (auto _ : state) {
        const library::CSongCache none("");
        const auto result = library::CSongScanner(none).Scan(collection.Roots());
        if (static_cast<int>(result.entries.size()) != g_songs) state.SkipWithError("songs lost");
    }
    state.counters["songs"] = g_songs;
}
BENCHMARK(BM_ColdScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// Writes the cache file of the collection as a finished scan leaves it.
void WriteCache(const Collection& collection) {
    library::CSongCache cache(collection.CachePath());
    auto result = library::CSongScanner(cache).Scan(collection.Roots());
    cache.Set(collection.Roots(), result.entries, result.files);
    cache.Save();
}

void BM_CacheLoad(benchmark::State& state) {
    const Collection& collection = TheCollection();
    WriteCache(collection);
    for (auto _ : state) {
        library::CSongCache cache(collection.CachePath());
        if (!cache.Load() || static_cast<int>(cache.Entries().size()) != g_songs)
            state.SkipWithError("cache not loaded");
    }
}
BENCHMARK(BM_CacheLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WarmStartToList(benchmark::State& state) {
    const Collection& collection = TheCollection();
    WriteCache(collection);
    for (auto _ : state) {
        library::CSongLibrary songs(collection.CachePath());
        songs.SetRoots(collection.Roots());
        while (songs.Entries()->empty()) std::this_thread::yield();
        state.PauseTiming();
        songs.Stop();  // the scan behind it is not part of the figure
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WarmStartToList)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WarmScan(benchmark::State& state) {
    const Collection& collection = TheCollection();
    WriteCache(collection);
    library::CSongCache cache(collection.CachePath());
    cache.Load();
    for (auto _ : state) {
        const auto result = library::CSongScanner(cache).Scan(collection.Roots());
        if (result.nFilesRead != 0) state.SkipWithError("headers read again");
    }
}
BENCHMARK(BM_WarmScan)->Unit(benchmark::kMillisecond)->UseRealTime();

// A window on the offscreen platform, its microphone fed by hand, in the collection's folder.
std::unique_ptr<CQuorvelDlg> MakeWindow() {
    CQuorvelDlg::Devices devices;
    devices.makeCapture = [] { return std::make_unique<platform::CManualCapture>(); };
    auto dialog = std::make_unique<CQuorvelDlg>(std::move(devices));
    dialog->OnInitDialog();
    dialog->show();
    dialog->OnStartSinging();
    dialog->OnTypeChoiceClick(dialog->Control(ids::kSinglesPicture)->geometry().center());
    return dialog;
}

void BM_WindowToList(benchmark::State& state) {
    platform::MessageCapture quiet;
    const Collection& collection = TheCollection();
    const fs::path previous = fs::current_path();
    fs::current_path(collection.Path());
    {
        // An earlier run: its scan leaves the cache file.
        auto first = MakeWindow();
        while (!first->IsSongListCurrent()) QApplication::processEvents();
    }
    for (auto _ : state) {
        auto dialog = MakeWindow();
        auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
        while (list->count() == 0) QApplication::processEvents();
        list->viewport()->repaint();  // the rows painted, with the covers there are yet
        if (state.range(0)) {
            // On until the covers of the rows shown are decoded, then painted.
            const int side =
                CSongListDelegate::CoverSide(list->visualItemRect(list->item(0)).height());
            const auto shown = [&] {
                for (int row = 0; row < list->count(); ++row) {
                    QListWidgetItem* item = list->item(row);
                    if (!list->viewport()->rect().intersects(list->visualItemRect(item))) break;
                    QImage cover;
                    if (dialog->Covers()->Find(item->data(CSongListDelegate::kCoverRole).toString(),
                                               side, cover) == CCoverLoader::State::Pending)
                        return false;
                }
                return true;
            };
            while (!shown()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            list->viewport()->repaint();
        }
        state.PauseTiming();
        dialog.reset();
        state.ResumeTiming();
    }
    fs::current_path(previous);
}
BENCHMARK(BM_WindowToList)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("covers")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// One frame of scrolling: a wheel step (three rows) and the rows painted at once, as many frames
// as it takes to go through the whole list and round again; the decoded covers come meanwhile.
void BM_ScrollFrame(benchmark::State& state) {
    platform::MessageCapture quiet;
    const Collection& collection = TheCollection();
    const fs::path previous = fs::current_path();
    fs::current_path(collection.Path());
    {
        auto dialog = MakeWindow();
        while (!dialog->IsSongListCurrent()) QApplication::processEvents();
        auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
        QScrollBar* bar = list->verticalScrollBar();
        // The history's scores come once after the window opens (and fill the list again).
        const auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (std::chrono::steady_clock::now() < settle) QApplication::processEvents();
        double slowest = 0, slowestCpu = 0;
        int slowestFrame = 0;
        std::vector<double> frames;
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = ThreadCpuMs();
            bar->setValue(bar->value() >= bar->maximum() ? 0 : bar->value() + 3);
            QApplication::processEvents();  // covers delivered since the last frame
            list->viewport()->repaint();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            slowestCpu = std::max(slowestCpu, ThreadCpuMs() - cpuStart);
            if (ms > slowest) {
                slowest = ms;
                slowestFrame = static_cast<int>(frames.size());
            }
            frames.push_back(ms);
        }
        std::sort(frames.begin(), frames.end());
        state.counters["slowest_ms"] = slowest;
        state.counters["slowest_at"] = slowestFrame;
        // The window thread's own time in its slowest frame: what the frame cost, without the
        // waits of a shared machine.
        state.counters["slowest_cpu_ms"] = slowestCpu;
        state.counters["p99_ms"] = frames.empty() ? 0 : frames[frames.size() * 99 / 100];
        state.counters["rows"] = list->count();
        state.counters["decoded"] = dialog->Covers()->Decoded();
    }
    fs::current_path(previous);
}
BENCHMARK(BM_ScrollFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4000);

// What is typed, one keystroke at a time, and deleted again.
const char* const kTyping[] = {"m",        "mo",        "moo",      "moon",    "moon l", "moon lo",
                               "moon lov", "moon love", "moon lov", "moon lo", "moon l", "moon",
                               "moo",      "mo",        "m",        ""};

void BM_FilterStep(benchmark::State& state) {
    platform::MessageCapture quiet;
    const Collection& collection = TheCollection();
    const fs::path previous = fs::current_path();
    fs::current_path(collection.Path());
    {
        auto dialog = MakeWindow();
        while (!dialog->IsSongListCurrent()) QApplication::processEvents();
        auto* search = static_cast<QLineEdit*>(dialog->Control(ids::kSongSearch));
        auto* list = static_cast<QListWidget*>(dialog->Control(ids::kSongList));
        std::size_t step = 0;
        for (auto _ : state) {
            search->setText(QString::fromUtf8(kTyping[step++ % std::size(kTyping)]));
            QApplication::processEvents();  // the list's layout and paint
            benchmark::DoNotOptimize(list->count());
        }
        state.counters["rows"] = list->count();
    }
    fs::current_path(previous);
}
BENCHMARK(BM_FilterStep)->Unit(benchmark::kMillisecond)->UseRealTime();

// The other way of filtering: every row stays and the ones that do not match are hidden.
void BM_FilterStepHidingRows(benchmark::State& state) {
    std::vector<QString> keys;
    QListWidget list;
    list.setUniformItemSizes(true);
    list.resize(206, 230);
    for (int i = 0; i < g_songs; ++i) {
        const QString name = QString::fromStdString(Words(i * 7 + 3, 3));
        list.addItem(name);
        keys.push_back(library::FoldForSearch(name));
    }
    list.show();
    std::size_t step = 0;
    for (auto _ : state) {
        const QStringList words =
            library::SearchWords(QString::fromUtf8(kTyping[step++ % std::size(kTyping)]));
        for (int row = 0; row < list.count(); ++row)
            list.setRowHidden(row,
                              !library::MatchesWords(keys[static_cast<std::size_t>(row)], words));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_FilterStepHidingRows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // The window's cache goes to a data folder of this run, not the user's.
    TemporaryFolder data;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.Path().string()));
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--library-songs=", 16) == 0) g_songs = std::atoi(argv[i] + 16);
    return QtBenchmarkMain(argc, argv, [] { return 0; });
}
