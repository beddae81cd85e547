// Cost of the animated picture control: loading the 800 × 446 stage animation (resource 245:
// parsing, cutting and decoding every frame, making the buffer) and one animation step (render
// the frame, dispose of it, move on); and, with --cpu-share, the share of one core the animation
// threads take while resources kGifSingles, kGifMedleys and kGifStageBoy (237, 238, 245) play
// together for 10 s, as on the singing screen. Where a resource is missing the generated stage
// fixture of the tests stands in, and says so.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/qtbenchmain.h"
#include "controls/pictureex.h"
#include "platform/messages.h"
#include "res/resources.h"

namespace {

// The bytes of a resource animation, or of the tests' 800 × 446 stage fixture when it is missing.
QByteArray Animation(int id) {
    QByteArray bytes = res::LoadGif(id);
    if (!bytes.isEmpty()) return bytes;
    std::fprintf(stderr, "resource %d is missing: the tests' stage.gif stands in\n", id);
    QFile file(QStringLiteral(QUORVEL_TEST_DATA "/gif/stage.gif"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// From the program's resources, as the main dialog loads it.
void BM_LoadStage(benchmark::State& state) {
    const QByteArray bytes = Animation(res::kGifStageBoy);
    const bool fromResources = !res::LoadGif(res::kGifStageBoy).isEmpty();
    CPictureEx picture;
    for (auto _ : state) {
        const bool loaded =
            fromResources ? picture.Load(res::kGifStageBoy, "GIF")
                          : picture.Load(bytes.constData(), static_cast<size_t>(bytes.size()));
        if (!loaded) state.SkipWithError("no load");
    }
    state.counters["frames"] = picture.GetFrameCount();
}
BENCHMARK(BM_LoadStage)->Unit(benchmark::kMillisecond);

void BM_StageStep(benchmark::State& state) {
    const QByteArray bytes = Animation(res::kGifStageBoy);
    CPictureEx picture;
    if (!picture.Load(bytes.constData(), static_cast<size_t>(bytes.size()))) {
        state.SkipWithError("no load");
        return;
    }
    for (auto _ : state) {
        picture.ComposeCurrentFrame();
        picture.DisposeCurrentFrame();
        picture.AdvanceFrame();
    }
}
BENCHMARK(BM_StageStep)->Unit(benchmark::kMicrosecond);

// The three animations of the main dialog playing for 10 s in a shown window. The process's CPU
// time (getrusage) includes the window's thread, which only copies the buffers on repaint; the
// GUI thread's own share is measured apart and taken off.
int MeasureCpuShare() {
    platform::MessageCapture quiet;
    QWidget dialog;
    dialog.resize(800, 600);
    std::vector<QByteArray> data;
    std::vector<std::unique_ptr<CPictureEx>> pictures;
    for (int id : {res::kGifSingles, res::kGifMedleys, res::kGifStageBoy}) {
        data.push_back(Animation(id));
        auto picture = std::make_unique<CPictureEx>(&dialog);
        if (!picture->Load(data.back().constData(), static_cast<size_t>(data.back().size()))) {
            std::fprintf(stderr, "animation %d does not load\n", id);
            return 1;
        }
        pictures.push_back(std::move(picture));
    }
    pictures[1]->move(600, 0);
    pictures[2]->move(0, 154);
    dialog.show();
    QApplication::processEvents();

    const double processBefore = CpuSeconds(RUSAGE_SELF);
    const double guiBefore = CpuSeconds(RUSAGE_THREAD);
    QElapsedTimer wall;
    wall.start();
    for (auto& picture : pictures) picture->Draw();
    QTimer::singleShot(10000, Qt::PreciseTimer, qApp, &QApplication::quit);
    QApplication::exec();
    for (auto& picture : pictures) picture->StopAnimation();
    const double seconds = wall.elapsed() / 1000.0;
    const double process = CpuSeconds(RUSAGE_SELF) - processBefore;
    const double gui = CpuSeconds(RUSAGE_THREAD) - guiBefore;
    std::printf(
        "237, 238 and 245 playing %.1f s: %.3f s of CPU in all, %.2f%% of one core; "
        "animation threads %.3f s, %.2f%%; window thread (repaints) %.3f s, %.2f%%\n",
        seconds, process, 100.0 * process / seconds, process - gui,
        100.0 * (process - gui) / seconds, gui, 100.0 * gui / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return QtBenchmarkMain(argc, argv, MeasureCpuShare); }
