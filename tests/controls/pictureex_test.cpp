#include "controls/pictureex.h"

#include "controls/gifparser.h"
#include "platform/inputfile.h"
#include "platform/messages.h"
#include "res/resources.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPointer>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Fixture(const std::string& name) {
    return std::string(QUORVEL_TEST_DATA) + "/gif/" + name;
}

// A colour none of the fixtures uses. Where ImageMagick's coalesced frame is transparent (nothing
// drawn there yet, or cleared by disposal 2, which ImageMagick clears to transparency), the control
// shows its background colour, which the tests set to this.
const QColor kBackground(1, 2, 3);

// Waits for what the animation thread brings about, with a deadline no machine comes near.
bool WaitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 120000) return false;
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The first pixel where the buffer differs from the expected picture (transparent there meaning
// the background colour), or an empty string.
std::string Difference(const QImage& buffer, const QImage& picture) {
    if (buffer.size() != picture.size()) return "sizes differ";
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb want =
                qAlpha(picture.pixel(x, y)) == 0 ? kBackground.rgb() : picture.pixel(x, y);
            if (qAlpha(want) != 255) return "partly transparent pixel in the expected picture";
            if ((buffer.pixel(x, y) | 0xFF000000u) != want) {
                std::ostringstream text;
                text << "at (" << x << ", " << y << ") " << std::hex << buffer.pixel(x, y)
                     << " for " << want;
                return text.str();
            }
        }
    return {};
}

QImage Filled(const QSize& size, const QColor& color) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// The animated fixtures, with what `identify -format '%T %D %W %H %X %Y\n'` printed for each frame.
class AnimatedGifTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        std::ifstream in(Fixture(std::string(GetParam()) + ".expected"));
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            Line l{};
            std::string disposal;
            fields >> l.nDelay >> disposal >> l.nWidth >> l.nHeight >> l.nLeft >> l.nTop;
            l.nDisposal = disposal == "None"         ? 1
                          : disposal == "Background" ? 2
                          : disposal == "Previous"   ? 3
                                                     : 0;
            lines.push_back(l);
        }
        ASSERT_GT(lines.size(), 1u);
        ASSERT_TRUE(picture.Load(Path()));
    }

    std::string Path() const { return Fixture(std::string(GetParam()) + ".gif"); }
    QImage Coalesced(size_t i) const {
        return QImage(QString::fromStdString(
            Fixture(GetParam() + ("-coalesced-" + std::to_string(i)) + ".png")));
    }

    struct Line {
        unsigned nDelay;
        int nDisposal, nWidth, nHeight, nLeft, nTop;
    };
    std::vector<Line> lines;
    CPictureEx picture;
};

TEST_P(AnimatedGifTest, FramesAgreeWithIdentify) {
    EXPECT_TRUE(picture.IsAnimatedGIF());
    EXPECT_FALSE(picture.HasStillPicture());
    EXPECT_EQ(picture.GetSize(), QSize(lines[0].nWidth, lines[0].nHeight));
    EXPECT_EQ(picture.size(), picture.GetSize());
    ASSERT_EQ(picture.GetFrameCount(), static_cast<int>(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        const CPictureEx::GifFrame frame = picture.GetFrame(static_cast<int>(i));
        // identify prints 0 for a frame without a graphic control extension (all of bare.gif's).
        const uint32_t delay =
            GetParam() == std::string("bare") ? controls::kGifNoDelay : lines[i].nDelay;
        EXPECT_EQ(frame.nDelay, delay) << "frame " << i;
        EXPECT_EQ(frame.nDisposal, lines[i].nDisposal) << "frame " << i;
        EXPECT_EQ(QPoint(frame.nLeft, frame.nTop), QPoint(lines[i].nLeft, lines[i].nTop))
            << "frame " << i;
        EXPECT_EQ(frame.picture.size(), QSize(frame.nWidth, frame.nHeight)) << "frame " << i;
    }
}

// Stepped by hand twice round, the buffer after each frame is ImageMagick's coalesced frame, and
// after the last frame it is cleared to the background.
TEST_P(AnimatedGifTest, ComposesLikeCoalesce) {
    picture.SetBkColor(kBackground);
    picture.DisposeCurrentFrame();  // what the thread does first
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < lines.size(); ++i) {
            ASSERT_EQ(picture.GetCurrentFrame(), static_cast<int>(i));
            picture.ComposeCurrentFrame();
            EXPECT_EQ(Difference(picture.GetBuffer(), Coalesced(i)), "")
                << "round " << round << ", frame " << i;
            picture.DisposeCurrentFrame();
            picture.AdvanceFrame();
        }
        EXPECT_EQ(Difference(picture.GetBuffer(), Filled(picture.GetSize(), kBackground)), "")
            << "round " << round;
    }
}

// The thread runs the same steps: wherever it is stopped, the buffer is what stepping by hand gives
// after showing the current frame or (stopped between frames) just before.
TEST_P(AnimatedGifTest, ThreadComposesTheSameFrames) {
    CPictureEx reference;
    ASSERT_TRUE(reference.Load(Path()));
    reference.SetBkColor(kBackground);
    reference.DisposeCurrentFrame();
    std::vector<QImage> before, after;
    for (size_t i = 0; i < lines.size(); ++i) {
        before.push_back(reference.GetBuffer());
        reference.ComposeCurrentFrame();
        after.push_back(reference.GetBuffer());
        reference.DisposeCurrentFrame();
        reference.AdvanceFrame();
    }

    picture.SetBkColor(kBackground);
    picture.Draw();
    bool wrapped = false;  // every frame shown once, then on to frame 2
    ASSERT_TRUE(WaitFor([&] {
        wrapped = wrapped || picture.GetCurrentFrame() == static_cast<int>(lines.size()) - 1;
        return wrapped && picture.GetCurrentFrame() == 2;
    }));
    EXPECT_TRUE(picture.IsPlaying());
    picture.StopAnimation();
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_FALSE(picture.HasAnimationThread());
    const int current = picture.GetCurrentFrame();
    const QImage buffer = picture.GetBuffer();
    EXPECT_TRUE(buffer == after[current] || buffer == before[current])
        << "stopped at frame " << current;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AnimatedGifTest,
                         ::testing::Values("layers", "pieces", "bare", "stage"),
                         [](const auto& instance) { return std::string(instance.param); });

// Delays 0 to 4 (and none at all) play at 100 ms a frame; from 5 on the delay counts.
TEST(PictureEx, FrameWaits) {
    EXPECT_EQ(CPictureEx::FrameWaitMs(4), 100);
    EXPECT_EQ(CPictureEx::FrameWaitMs(65535), 655350);
    CPictureEx layers, bare;  // delays 10, 0, 3, 5, 10; none
    ASSERT_TRUE(layers.Load(Fixture("layers.gif")));
    ASSERT_TRUE(bare.Load(Fixture("bare.gif")));
    EXPECT_EQ((std::vector<int>{layers.GetFrameWaitMs(0), layers.GetFrameWaitMs(1),
                                layers.GetFrameWaitMs(2), layers.GetFrameWaitMs(3),
                                bare.GetFrameWaitMs(1)}),
              (std::vector<int>{100, 100, 100, 50, 100}));
}

// A one-image GIF and a PNG are still pictures of the decoder's size: Draw renders them once.
TEST(PictureEx, StillPicturesDrawOnce) {
    for (const char* name : {"still.gif", "picture.png"}) {
        const QImage decoded(QString::fromStdString(Fixture(name)));
        CPictureEx picture;
        ASSERT_TRUE(picture.Load(Fixture(name))) << name;
        EXPECT_EQ(picture.IsGIF(), std::string(name).ends_with(".gif")) << name;
        EXPECT_FALSE(picture.IsAnimatedGIF()) << name;
        EXPECT_EQ(picture.GetSize(), decoded.size()) << name;
        EXPECT_EQ(picture.GetBkColor(), picture.palette().color(QPalette::Button));
        EXPECT_NE(Difference(picture.GetBuffer(), decoded), "") << name;
        picture.Draw();
        EXPECT_FALSE(picture.HasAnimationThread()) << name;
        EXPECT_EQ(Difference(picture.GetBuffer(), decoded), "") << name;
    }
}

// Two graphic blocks of which only the image decodes: loaded, yet neither still nor animated.
TEST(PictureEx, OneDecodableFrameOfSeveralShowsNothing) {
    CPictureEx picture;
    ASSERT_TRUE(picture.Load(Fixture("one-decodable.gif")));
    EXPECT_EQ(picture.GetFrameCount(), 1);
    EXPECT_FALSE(picture.HasStillPicture());
    const QImage before = picture.GetBuffer();
    picture.Draw();
    EXPECT_FALSE(picture.HasAnimationThread());
    EXPECT_EQ(picture.GetBuffer(), before);
}

TEST(PictureEx, DrawOnAnEmptyControlOnlyTraces) {
    platform::MessageCapture capture;
    CPictureEx picture;
    picture.Draw();
    EXPECT_EQ(capture.Traces(),
              std::vector<std::string>{
                  "Call one of the CPictureEx::Load() member functions before calling Draw()\n"});
    EXPECT_FALSE(picture.HasAnimationThread());
    EXPECT_TRUE(picture.GetBuffer().isNull());
}

struct FailedLoad {
    const char* name;
    std::function<bool(CPictureEx&)> load;
    std::vector<std::string> traces;
};

void PrintTo(const FailedLoad& failure, std::ostream* out) { *out << failure.name; }

class FailedLoadTest : public ::testing::TestWithParam<FailedLoad> {};

// A failed load over a playing animation leaves the control empty, with the line traced.
TEST_P(FailedLoadTest, LeavesTheControlEmpty) {
    CPictureEx picture;
    ASSERT_TRUE(picture.Load(Fixture("layers.gif")));
    picture.Draw();
    platform::MessageCapture capture;
    EXPECT_FALSE(GetParam().load(picture));
    EXPECT_EQ(capture.Traces(), GetParam().traces);
    EXPECT_FALSE(picture.IsBufferReady());
    EXPECT_FALSE(picture.IsGIF());
    EXPECT_FALSE(picture.HasAnimationThread());
    EXPECT_EQ(picture.GetFrameCount(), 0);
    EXPECT_EQ(picture.GetBkColor(), QColor(Qt::white));
}

const std::string kFolder = std::string(QUORVEL_TEST_DATA) + "/gif";

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedLoadTest,
    ::testing::Values(
        FailedLoad{"badfirstblock",
                   [](CPictureEx& p) { return p.Load(Fixture("bad-first-block.gif")); },
                   {}},
        FailedLoad{"missingfile",
                   [](CPictureEx& p) { return p.Load(Fixture("none.gif")); },
                   {"Load (file): Error opening file " + Fixture("none.gif") + "\n"}},
        FailedLoad{"folder",
                   [](CPictureEx& p) { return p.Load(kFolder); },
                   {"Load (file): An exception occured while reading the file " + kFolder + "\n"}},
        FailedLoad{"missingresource",
                   [](CPictureEx& p) { return p.Load(9999, "GIF"); },
                   {"Load (resource): Error loading resource 9999\n"}},
        FailedLoad{"othertype",
                   [](CPictureEx& p) { return p.Load(res::kGifSingles, "BITMAP"); },
                   {"Load (resource): Error loading resource 237\n"}},
        FailedLoad{"namedresource",
                   [](CPictureEx& p) { return p.Load("#9999", "GIF"); },
                   {"Load (resource): Error loading resource #9999\n"}},
        FailedLoad{"nullblock",
                   [](CPictureEx& p) { return p.Load(nullptr, 10); },
                   {"Load: Error locking memory\n"}}),
    [](const auto& instance) { return std::string(instance.param.name); });

// The program's own animations, by id and by name alike.
TEST(PictureEx, LoadsTheResourceAnimations) {
    for (const char* name : {"237", "238", "245", "246"}) {
        const int id = std::stoi(name);
        if (res::LoadGif(id).isEmpty()) GTEST_SKIP() << "resource " << id << " is not in res/ yet";
        CPictureEx byId, byName;
        ASSERT_TRUE(byId.Load(id, "GIF")) << id;
        ASSERT_TRUE(byName.Load((std::string("#") + name).c_str(), "gif")) << id;
        EXPECT_TRUE(byId.IsAnimatedGIF()) << id;
        EXPECT_EQ(byId.GetSize(), id < 240 ? QSize(200, 200) : QSize(800, 446)) << id;
        EXPECT_EQ(byName.GetFrameCount(), byId.GetFrameCount()) << id;
    }
}

// StopAnimation ends the thread where it is; Draw goes on from there; Load over a playing
// animation stops it and starts afresh.
TEST(PictureEx, StopsAndLoadsAgain) {
    CPictureEx picture;
    ASSERT_TRUE(picture.Load(Fixture("layers.gif")));
    picture.Draw();
    ASSERT_TRUE(WaitFor([&] { return picture.GetCurrentFrame() == 2; }));
    picture.StopAnimation();
    EXPECT_FALSE(picture.HasAnimationThread());
    const int stoppedAt = picture.GetCurrentFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(picture.GetCurrentFrame(), stoppedAt);
    picture.Draw();
    ASSERT_TRUE(WaitFor([&] { return picture.GetCurrentFrame() != stoppedAt; }));
    ASSERT_TRUE(picture.Load(Fixture("pieces.gif")));
    EXPECT_FALSE(picture.HasAnimationThread());
    EXPECT_EQ(picture.GetCurrentFrame(), 0);
    picture.Draw();
    EXPECT_TRUE(WaitFor([&] { return picture.GetCurrentFrame() == 3; }));
}

class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++nPaints;
        return false;
    }
    std::atomic<int> nPaints{0};
};

// The thread's repaints reach a shown control on the window's thread, and the control goes
// cleanly with its parent while repaints are on their way.
TEST(PictureEx, DestroyingAPlayingControlIsClean) {
    auto parent = std::make_unique<QWidget>();
    QPointer<CPictureEx> picture = new CPictureEx(parent.get());
    PaintCounter counter;
    picture->installEventFilter(&counter);
    ASSERT_TRUE(picture->Load(Fixture("layers.gif")));
    parent->show();
    picture->Draw();
    ASSERT_TRUE(WaitFor([&] { return counter.nPaints > 5; }));
    parent.reset();
    EXPECT_TRUE(picture.isNull());
    QApplication::processEvents();
}

// Painting copies the buffer: all of it, or the visible area from its top-left corner.
TEST(PictureEx, PaintsTheVisibleArea) {
    CPictureEx picture;
    ASSERT_TRUE(picture.Load(Fixture("layers.gif")));
    picture.ComposeCurrentFrame();
    const QImage buffer = picture.GetBuffer();
    EXPECT_EQ(picture.grab().toImage().convertToFormat(QImage::Format_RGB32), buffer);
    picture.SetPaintRect(QRect(8, 6, 20, 10));
    EXPECT_EQ(picture.grab(QRect(0, 0, 20, 10)).toImage().convertToFormat(QImage::Format_RGB32),
              buffer.copy(8, 6, 20, 10));
}

// Picture files that are not regular files, or are too large, are refused at once and named;
// nothing waits for a FIFO's writer or reads an endless device.
TEST(PictureExFiles, SpecialAndHugeFilesAreRefusedAtOnce) {
    testing_support::TemporaryFolder folder;
    const auto fifo = folder.Path() / "fifo.gif";
    const auto zero = folder.Path() / "zero.gif";
    const auto huge = folder.Path() / "huge.gif";
    ASSERT_TRUE(testing_support::MakeFifo(fifo));
    ASSERT_TRUE(testing_support::LinkTo(zero, "/dev/zero"));
    std::ofstream(huge) << "GIF89a";
    ASSERT_TRUE(testing_support::MakeSparse(huge, platform::kPictureFileLimit + 1));
    struct Case {
        std::filesystem::path path;
        std::string trace;
    };
    for (const Case& c : {Case{fifo, "Load (file): Error opening file " + fifo.string() +
                                         ": is not a regular file (a FIFO)\n"},
                          Case{zero, "Load (file): Error opening file " + zero.string() +
                                         ": is not a regular file (a device)\n"},
                          Case{huge, "Load (file): The file " + huge.string() +
                                         " is too large (over the limit of 64 MiB)\n"}}) {
        CPictureEx picture;
        platform::MessageCapture capture;
        bool loaded = true;
        {
            testing_support::FifoWatchdog watchdog({fifo});  // the widget stays on this thread
            loaded = picture.Load(c.path.string());
            EXPECT_FALSE(watchdog.Fired()) << "the load waited on the FIFO";
        }
        EXPECT_FALSE(loaded);
        EXPECT_EQ(capture.Traces(), std::vector<std::string>{c.trace});
        EXPECT_FALSE(picture.IsBufferReady());
    }
}

}  // namespace
