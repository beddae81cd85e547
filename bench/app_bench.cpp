// The program as a whole: how long it takes from start to the home screen, and, with
// --cpu-share, the share of one core it takes while a song is sung (display, GIF animations,
// poller and evaluation together), on the offscreen platform.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/quorveldlg.h"
#include "bench/qtbenchmain.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "platform/wavefilecapture.h"
#include "tests/support/clockplayer.h"
#include "tests/support/performance.h"

namespace {

using namespace testing_support;

void BM_StartToHomeScreen(benchmark::State& state) {
    platform::MessageCapture quiet;
    for (auto _ : state) {
        CQuorvelDlg::Devices devices;
        devices.makeCapture = [] { return std::make_unique<platform::CManualCapture>(); };
        CQuorvelDlg dialog(std::move(devices));
        dialog.OnInitDialog();
        dialog.show();
        QApplication::processEvents();  // the first paint of the home screen
        benchmark::DoNotOptimize(dialog.isVisible());
    }
}
BENCHMARK(BM_StartToHomeScreen)->Unit(benchmark::kMillisecond);

// Sings a long song for 10 s through the dialog and prints the CPU time it took.
int MeasureCpuShare() {
    platform::MessageCapture quiet;
    TemporaryFolder library;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(library.Path());
    const auto melody = MakeMelody(12, 4, 3, 4.0);
    WriteSong(library.Path(), "song", SongFilesOf(melody));
    const std::string wav = (library.Path() / "sung.wav").string();
    WriteMonoWav(wav, Sing(melody, melody.back().End() + 2.0, Singer{}));

    double cpu = 0.0, seconds = 0.0;
    {
        CQuorvelDlg::Devices devices;
        devices.makeCapture = [wav] { return std::make_unique<platform::CWaveFileCapture>(wav); };
        devices.makePlayer = [] { return std::make_unique<ClockPlayer>(); };
        CQuorvelDlg dialog(std::move(devices));
        dialog.OnInitDialog();
        dialog.show();
        dialog.OnStartSinging();
        dialog.OnTypeChoiceClick(dialog.Control(ids::kSinglesPicture)->geometry().center());
        while (!dialog.IsSongListCurrent()) QApplication::processEvents();  // the library's scan
        auto* list = static_cast<QListWidget*>(dialog.Control(ids::kSongList));
        list->setCurrentRow(0);
        emit list->itemClicked(list->item(0));  // as the user's click on it
        dialog.OnConfirm();
        const double before = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(10000, qApp, &QApplication::quit);
        QApplication::exec();
        cpu = CpuSeconds() - before;
        seconds = wall.elapsed() / 1000.0;
        std::printf("singing %.1f s: %.3f s of CPU, %.2f%% of one core (line %d reached)\n",
                    seconds, cpu, 100.0 * cpu / seconds, dialog.Engine().Line());
        dialog.OnStopSinging();
    }
    std::filesystem::current_path(previous);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return QtBenchmarkMain(argc, argv, MeasureCpuShare); }
