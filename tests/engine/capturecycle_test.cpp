// A singing session with the capture buffers circulating between a device fed by hand and the
// evaluation, the steps the session posts run when the test says so (as queued events run), and
// the playback poller's thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/singingsession.h"
#include "platform/accompanimentplayer.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "platform/virtualplayer.h"
#include "tests/support/brokencapture.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

class CountingView : public CSessionView {
public:
    void SetGradeText(const std::string&) override {}
    int DisplayHeight() override { return 110; }
    void SetPitchMarker(int, int, int, int) override { ++markers; }
    void SetLineBarPos(int) override {}
    void SetTimeBarPos(int seconds) override { timeBar = seconds; }
    void SongLoaded(int index, const SongRef& song, const std::shared_ptr<const CSong>&) override {
        loaded.push_back(std::to_string(index) + " " + song.strName);
    }
    void AccompanimentStarted(int lengthMs) override { lengths.push_back(lengthMs); }
    void ShowScore() override { ++scores; }
    void SetScore(float) override {}
    void SessionEnded(const Problem* problem) override {
        ended.push_back(problem ? problem->Describe() : std::string());
    }

    int markers = 0;
    int scores = 0;
    std::atomic<int> timeBar{-1};
    std::vector<std::string> loaded;
    std::vector<int> lengths;        // of each song's accompaniment as it started
    std::vector<std::string> ended;  // "" for a session that finished
};

class CaptureCycleTest : public ::testing::Test {
protected:
    explicit CaptureCycleTest(bool pollThread = false)
        : session(
              view, [this](std::function<void()> step) { posted.push_back(std::move(step)); },
              [this] {
                  auto made = std::make_unique<platform::CVirtualPlayer>();
                  player = made.get();
                  return made;
              },
              pollThread) {
        session.SetLibraryFolder(library.Path().string());
        auto made = std::make_unique<platform::CManualCapture>();
        device = made.get();
        session.SetCaptureDevice(std::move(made));
        testing_support::WriteSong(library.Path(), "song",
                                   {"2", "100 200", "150 201", {{1, "2 700 700"}}});
    }
    ~CaptureCycleTest() override {
        session.Stop();
        session.CloseCapture();
    }

    // Runs the posted steps, those they post included.
    void RunPosted() {
        while (!posted.empty()) {
            const std::function<void()> step = std::move(posted.front());
            posted.pop_front();
            step();
        }
    }
    // 0.12 s of stereo frames from the microphone, each buffer's notice handled before the next
    // (unless `handle` is false: the notices wait).
    void Capture(int buffers, bool handle = true) {
        const std::vector<char> bytes(kCaptureBufferBytes, 0);
        for (int i = 0; i < buffers; ++i) {
            device->Feed(bytes.data(), bytes.size());
            if (handle) RunPosted();
        }
    }

    testing_support::TemporaryFolder library;
    platform::MessageCapture messages;
    CountingView view;
    std::deque<std::function<void()>> posted;
    platform::CVirtualPlayer* player = nullptr;
    CSingingSession session;
    platform::CManualCapture* device = nullptr;
};

TEST_F(CaptureCycleTest, OpensSixteenBitStereoAt8000FramesPerSecond) {
    ASSERT_FALSE(session.OpenCapture());
    const platform::WaveFormat& format = device->Format();
    EXPECT_EQ(format.nFormatTag, platform::kWaveFormatPcm);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.nBitsPerSample, 16);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 32000u);
    EXPECT_EQ(format.nExtraSize, 0);
}

TEST_F(CaptureCycleTest, ABufferGoesBackToTheDeviceOnlyOnceItIsHandled) {
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"song"}, false));
    EXPECT_EQ(view.loaded, std::vector<std::string>{"0 song"});
    // 10 s of singing before the line: 83 buffers, each tracked for the idle marker.
    Capture(83);
    EXPECT_EQ(view.markers, 83);
    // Four buffers circulate: while their notices wait, the fifth buffer's worth is not recorded.
    Capture(5, /*handle=*/false);
    EXPECT_EQ(posted.size(), 4u);
    RunPosted();
    EXPECT_EQ(view.markers, 87);
    EXPECT_TRUE(messages.Traces().size() == 1 && messages.Traces()[0] == "song: song\n");
}

TEST_F(CaptureCycleTest, AStopLeavesNothingQueuedAndNothingHandled) {
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"song"}, false));
    Capture(2);
    const std::vector<char> half(kCaptureBufferBytes / 2, 0);
    device->Feed(half.data(), half.size());
    session.Stop();
    EXPECT_FALSE(session.IsRunning());
    // All four came back short, as notices of the stopped generation: none is handled.
    RunPosted();
    EXPECT_EQ(view.markers, 2);
    Capture(1);  // nothing is queued: nothing is recorded
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(view.markers, 2);

    // The next session queues all four again.
    ASSERT_FALSE(session.Start({"song"}, false));
    Capture(4);
    EXPECT_EQ(view.markers, 6);
}

TEST_F(CaptureCycleTest, NoticesFromBeforeAResetAreDroppedWithoutTouchingTheirBuffer) {
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"song"}, false));
    Capture(2, /*handle=*/false);
    ASSERT_EQ(posted.size(), 2u);
    std::deque<std::function<void()>> early;
    early.swap(posted);

    // The song starts again: reset, then every buffer is queued and filling again.
    session.Stop();
    ASSERT_FALSE(session.Start({"song"}, false));
    posted.clear();  // the reset's own notices
    const std::vector<char> part(100, 0);
    device->Feed(part.data(), part.size());
    for (const auto& step : early) step();
    EXPECT_EQ(view.markers, 0) << "a stale notice was handled";

    // Buffer 0 fills up from where it was: its notice is handled.
    const std::vector<char> rest(kCaptureBufferBytes - 100, 0);
    device->Feed(rest.data(), rest.size());
    ASSERT_EQ(posted.size(), 1u);
    RunPosted();
    EXPECT_EQ(view.markers, 1);
    // A notice naming no buffer of the session is dropped.
    platform::WaveHeader stranger;
    stranger.dwUser = kCaptureBuffers;
    stranger.dwBytesRecorded = kCaptureBufferBytes;
    const CaptureNotice notice = session.MakeNotice(&stranger);
    EXPECT_EQ(notice.nIndex, -1);
    session.OnCaptureNotice(notice);
    EXPECT_EQ(view.markers, 1);
}

TEST_F(CaptureCycleTest, ADeviceThatCannotOpenIsAProblemShownByNobodyYet) {
    session.SetCaptureDevice(std::make_unique<testing_support::BrokenCapture>());
    const std::optional<Problem> problem = session.OpenCapture();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->strMessage, "Audio can not be open!");
    EXPECT_TRUE(problem->bBeep);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(messages.Traces(), std::vector<std::string>{"capture device: no such device\n"});
    // Without an open device a song still starts and stops, recording nothing.
    ASSERT_FALSE(session.Start({"song"}, false));
    EXPECT_TRUE(session.IsRunning());
    session.Stop();
    EXPECT_FALSE(session.IsRunning());
}

// Medleys: the next song is a posted step, and a song that cannot be loaded ends the session.
class SingingSessionTest : public CaptureCycleTest {
protected:
    SingingSessionTest() {
        for (const char* name : {"m0", "m1", "m2", "m3"})
            testing_support::WriteSong(library.Path(), name,
                                       {"2", "0.5 9", "1 10", {{1, "2 700 700"}}}, true);
    }
    // Sings until the song being sung is over: its last line is scored at 0.7 s.
    void SingSong() {
        for (int time = 120; time <= 840; time += 120) {
            player->SetClock(time);
            session.PollPlayback();
            Capture(1, /*handle=*/false);
            // Each buffer's notice is handled at once; the steps it posts wait.
            ASSERT_FALSE(posted.empty());
            const std::function<void()> notice = std::move(posted.front());
            posted.pop_front();
            notice();
            if (!posted.empty()) return;
        }
    }
};

TEST_F(SingingSessionTest, AMedleyMovesOnToItsNextSongAsAStepOfItsOwn) {
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"m0", "m1", "m2", "m3"}, true));
    for (int s = 0; s < 4; ++s) {
        SingSong();
        EXPECT_EQ(view.loaded.size(), static_cast<std::size_t>(s + 1)) << "moved on too early";
        RunPosted();
    }
    EXPECT_EQ(view.loaded, (std::vector<std::string>{"0 m0", "1 m1", "2 m2", "3 m3"}));
    EXPECT_EQ(view.scores, 1);
    EXPECT_EQ(view.ended, std::vector<std::string>{""});
    EXPECT_FALSE(session.IsRunning());
    EXPECT_EQ(session.Engine().MedleySong(), 3);
}

TEST_F(SingingSessionTest, ABrokenLaterSongEndsTheSessionWithItsProblem) {
    testing_support::WriteFile(library.Path() / "歌曲/串烧歌曲/m2/断点", "zero");
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"m0", "m1", "m2", "m3"}, true));
    SingSong();
    RunPosted();
    SingSong();
    RunPosted();
    ASSERT_EQ(view.ended.size(), 1u);
    EXPECT_NE(view.ended[0].find("m2/断点"), std::string::npos) << view.ended[0];
    EXPECT_FALSE(session.IsRunning());
    EXPECT_EQ(session.Engine().Song(), nullptr);
    EXPECT_TRUE(messages.Messages().empty()) << "the session showed the problem itself";
    Capture(1);  // the device is quiet
    EXPECT_TRUE(posted.empty());
}

TEST_F(SingingSessionTest, AStopCancelsTheNextSongThatWasDue) {
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"m0", "m1", "m2", "m3"}, true));
    SingSong();
    ASSERT_FALSE(posted.empty());
    session.Stop();
    RunPosted();
    EXPECT_EQ(view.loaded.size(), 1u);
    EXPECT_FALSE(session.IsRunning());
    EXPECT_TRUE(view.ended.empty());
}

// An UltraStar song from the single songs' folder with medley bounds takes a medley's place: only
// the phrases within its bounds are sung, on a clock that starts at its section, whose music is
// the section's length.
TEST_F(SingingSessionTest, AnUltraStarSongInAMedleyPlaysOnlyItsSection) {
    const auto folder = library.Path() / "歌曲/单曲/us";
    testing_support::WriteFile(folder / "song.txt",
                               "#TITLE:T\n#ARTIST:A\n#MP3:a.ogg\n#BPM:300\n#GAP:0\n"
                               "#MEDLEYSTARTBEAT:20\n#MEDLEYENDBEAT:40\n"
                               ": 0 10 0 a\n- 12\n: 20 20 2 b\nE\n");
    testing_support::WriteFile(folder / "a.ogg", "music");
    ASSERT_FALSE(session.OpenCapture());
    ASSERT_FALSE(session.Start({"m0", "us", "m2", "m3"}, true));
    SingSong();
    RunPosted();
    ASSERT_EQ(view.loaded, (std::vector<std::string>{"0 m0", "1 us"}));
    ASSERT_EQ(view.lengths.size(), 2u);
    EXPECT_EQ(view.lengths[1], 1000);  // beats 20 to 40 at 0.05 s
    const std::shared_ptr<const CSong>& song = session.Engine().Song();
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Points(), 2);  // the one phrase within the bounds
    EXPECT_EQ(song->Start(0), 0.0f);
    EXPECT_EQ(song->Info().nAudioStartMs, 1000);
    EXPECT_EQ(song->Info().nFadeMs, 500);
}

TEST_F(SingingSessionTest, AFirstSongThatCannotLoadComesBackAsAProblem) {
    const std::optional<Problem> problem = session.Start({"missing"}, false);
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->strFile.find("missing/断点"), std::string::npos);
    EXPECT_FALSE(session.IsRunning());
    EXPECT_TRUE(view.loaded.empty());
    EXPECT_TRUE(messages.Messages().empty());
    const std::optional<Problem> unnamed = session.Start({""}, false);
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->strMessage, "请打开歌曲列表，选择要演唱的曲目");
}

class PlaybackPoller : public CaptureCycleTest {
protected:
    PlaybackPoller() : CaptureCycleTest(/*pollThread=*/true) {}
};

TEST_F(PlaybackPoller, FollowsThePlayerUntilStopped) {
    CountingView alone;
    CSingingEngine engine(alone);
    platform::CVirtualPlayer idle;
    // Nothing open: the poller waits and changes nothing.
    EXPECT_FALSE(engine.PollPlaybackTime(idle));
    EXPECT_EQ(alone.timeBar, -1);
    idle.Open("music.mp3");
    idle.Play();
    idle.SetClock(61250);
    ASSERT_TRUE(engine.PollPlaybackTime(idle));
    EXPECT_EQ(engine.Time(), 61.25f);
    EXPECT_EQ(engine.TimeSeconds(), 61);
    EXPECT_EQ(alone.timeBar, 61);

    // The session's poller thread follows the song's player.
    ASSERT_FALSE(session.Start({"song"}, false));
    player->SetClock(72500);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (view.timeBar != 72 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(view.timeBar, 72);
    EXPECT_EQ(session.Engine().Time(), 72.5f);
    session.Stop();  // returns once the thread has ended
    EXPECT_EQ(session.Engine().Time(), 0.0f);
    session.Stop();  // a second stop is harmless
}

// The virtual clock, with the real player's judgement of the file: it opens what the program
// would open and refuses what it would refuse, with its reason.
class CheckedVirtualPlayer : public platform::CVirtualPlayer {
public:
    bool Open(const std::string& path, const platform::AudioSpan& span) override {
        if (!m_real.Open(path, span)) return false;
        return CVirtualPlayer::Open(path, span);
    }
    std::string OpenProblem() const override { return m_real.OpenProblem(); }

private:
    platform::CAccompanimentPlayer m_real{platform::CAccompanimentPlayer::Output::None};
};

// A song whose music cannot be played ends the session cleanly with one problem that names the
// file and the reason, whether it is the first song or a later one of a medley: nothing keeps
// running, and no message box comes from below the session.
TEST(SessionWithBrokenMusic, EndsWithTheFileAndTheReason) {
    testing_support::TemporaryFolder library;
    platform::MessageCapture messages;
    CountingView view;
    std::deque<std::function<void()>> posted;
    CheckedVirtualPlayer* player = nullptr;
    CSingingSession session(
        view, [&](std::function<void()> step) { posted.push_back(std::move(step)); },
        [&] {
            auto made = std::make_unique<CheckedVirtualPlayer>();
            player = made.get();
            return made;
        },
        false);
    session.SetLibraryFolder(library.Path().string());
    auto made = std::make_unique<platform::CManualCapture>();
    platform::CManualCapture* device = made.get();
    session.SetCaptureDevice(std::move(made));
    ASSERT_FALSE(session.OpenCapture());
    const testing_support::SongFiles files{"2", "0.3 9", "0.5 10", {{1, "2 700 700"}}};
    const std::string tone = std::string(QUORVEL_TEST_DATA) + "/audio/tone.ogg";
    // Broken music: none, an empty file, text under a music name.
    const struct {
        const char* name;
        const char* music;  // nullptr for none
        const char* reason;
    } cases[] = {
        {"missing", nullptr, "不存在"},
        {"empty", "", "空文件"},
        {"text", "not music at all", "不是 MP3 文件"},
    };
    auto writeMusic = [](const std::filesystem::path& folder, const char* music) {
        if (music) testing_support::WriteFile(folder / "music.mp3", music);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A single song: the start is refused.
        const auto single = testing_support::WriteSong(library.Path(), c.name, files);
        writeMusic(single, c.music);
        const std::optional<Problem> problem = session.Start({c.name}, false);
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->strMessage.find((single / "music.mp3").string()), std::string::npos)
            << problem->strMessage;
        EXPECT_NE(problem->strMessage.find(c.reason), std::string::npos) << problem->strMessage;
        EXPECT_FALSE(session.IsRunning());

        // A medley whose second song is broken: it ends with that song's problem.
        std::vector<std::string> medley;
        for (int s = 0; s < 4; ++s) {
            medley.push_back(std::string(c.name) + std::to_string(s));
            const auto folder =
                testing_support::WriteSong(library.Path(), medley.back(), files, true);
            if (s == 1)
                writeMusic(folder, c.music);
            else
                std::filesystem::copy_file(tone, folder / "music.mp3");
        }
        view.ended.clear();
        ASSERT_FALSE(session.Start(medley, true));
        const std::vector<char> silence(kCaptureBufferBytes, 0);
        for (int time = 120; time <= 2400 && view.ended.empty(); time += 120) {
            if (player) player->SetClock(time);
            session.PollPlayback();
            device->Feed(silence.data(), silence.size());
            while (!posted.empty()) {
                const std::function<void()> step = std::move(posted.front());
                posted.pop_front();
                step();
            }
        }
        ASSERT_EQ(view.ended.size(), 1u);
        EXPECT_NE(view.ended[0].find(medley[1] + "/music.mp3"), std::string::npos) << view.ended[0];
        EXPECT_NE(view.ended[0].find(c.reason), std::string::npos) << view.ended[0];
        EXPECT_FALSE(session.IsRunning());
    }
    EXPECT_TRUE(messages.Messages().empty());
    session.CloseCapture();
}

}  // namespace
}  // namespace engine
