// The program as a whole: how long it takes from start to the home screen, and, with
// --cpu-share, the share of one core it takes while a song is sung (display, GIF animations,
// poller and evaluation together), on the offscreen platform.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/quorveldlg.h"
#include "bench/qtbenchmain.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "platform/wavefilecapture.h"
#include "tests/support/performance.h"

namespace {

using namespace testing_support;

// A silent accompaniment whose position is the time since it started.
class ClockPlayer : public platform::CPlayer {
public:
    bool Open(const std::string&) override { return m_bOpen = true; }
    void Play() override {
        m_start = std::chrono::steady_clock::now();
        m_bPlaying = true;
    }
    int Length() const override { return 600000; }
    int Position() const override {
        return m_bPlaying ? static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - m_start)
                                                 .count())
                          : 0;
    }
    int Speed() const override { return m_bOpen ? platform::kNormalSpeed : 0; }
    void Stop() override { m_bPlaying = false; }

private:
    std::chrono::steady_clock::time_point m_start;
    std::atomic<bool> m_bOpen{false}, m_bPlaying{false};
};

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

void WriteWav(const std::string& path, const std::vector<int16_t>& mono) {
    auto le = [](uint32_t n, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(n >> (8 * i));
        return out;
    };
    std::ofstream out(path, std::ios::binary);
    const uint32_t size = static_cast<uint32_t>(mono.size() * 2);
    out << "RIFF" << le(36 + size, 4) << "WAVEfmt " << le(16, 4) << le(1, 2) << le(1, 2)
        << le(8000, 4) << le(16000, 4) << le(2, 2) << le(16, 2) << "data" << le(size, 4);
    out.write(reinterpret_cast<const char*>(mono.data()), size);
}

// Sings a long song for 10 s through the dialog and prints the CPU time it took.
int MeasureCpuShare() {
    platform::MessageCapture quiet;
    TemporaryFolder library;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(library.Path());
    const auto melody = MakeMelody(12, 4, 3, 4.0);
    WriteSong(library.Path(), "song", SongFilesOf(melody));
    const std::string wav = (library.Path() / "sung.wav").string();
    WriteWav(wav, Sing(melody, melody.back().End() + 2.0, Singer{}));

    double cpu = 0.0, seconds = 0.0;
    {
        CQuorvelDlg::Devices devices;
        devices.makeCapture = [wav] { return std::make_unique<platform::CWaveFileCapture>(wav); };
        devices.makePlayer = [] { return std::make_unique<ClockPlayer>(); };
        CQuorvelDlg dialog(std::move(devices));
        dialog.OnInitDialog();
        dialog.show();
        dialog.OnStartSinging();
        dialog.OnTypeChoiceClick(dialog.Control(1102)->geometry().center());
        static_cast<QListWidget*>(dialog.Control(1072))->setCurrentRow(0);
        dialog.OnConfirm();
        const double before = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(10000, qApp, &QApplication::quit);
        QApplication::exec();
        cpu = CpuSeconds() - before;
        seconds = wall.elapsed() / 1000.0;
        std::printf("singing %.1f s: %.3f s of CPU, %.2f%% of one core (line %d reached)\n",
                    seconds, cpu, 100.0 * cpu / seconds, dialog.Engine().m_nLine);
        dialog.OnStopSinging();
    }
    std::filesystem::current_path(previous);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return QtBenchmarkMain(argc, argv, MeasureCpuShare); }
