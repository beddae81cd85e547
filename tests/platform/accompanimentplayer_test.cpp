// The accompaniment player without a sound device: lengths, refusals and the silent clock. Its
// sound through a real output is tested in portaudio_tests.
#include "platform/accompanimentplayer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiodecoder.h"
#include "platform/messages.h"
#include "tests/support/eventually.h"
#include "tests/support/songwriter.h"
#include "tests/support/tonewav.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kMp3Folder = std::string(QUORVEL_TEST_DATA) + "/mp3/";
const std::string kTone = kMp3Folder + "tone-440.mp3";
const std::string kQuiet = kMp3Folder + "quiet.mp3";
const std::string kAudioFolder = std::string(QUORVEL_TEST_DATA) + "/audio/";

// The lengths make-mp3s.sh computed from the samples it encoded: file name and milliseconds.
std::vector<std::pair<std::string, int>> ExpectedLengths() {
    std::vector<std::pair<std::string, int>> lengths;
    std::ifstream in(kMp3Folder + "lengths.expected");
    std::string name;
    long samples = 0, rate = 0;
    int ms = 0;
    while (in >> name >> samples >> rate >> ms) lengths.emplace_back(name, ms);
    return lengths;
}

int ExpectedLength(const std::string& name) {
    for (const auto& [file, ms] : ExpectedLengths())
        if (file == name) return ms;
    ADD_FAILURE() << name << " is not in lengths.expected";
    return -1;
}

// Waits, for a generous while, until the player's position passes ms; the last position read.
int WaitForPosition(const CAccompanimentPlayer& player, int ms) {
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    int position = player.Position();
    while (position <= ms && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(5));
        position = player.Position();
    }
    return position;
}

TEST(AccompanimentPlayer, LengthsAreExactAfterTheScan) {
    const auto lengths = ExpectedLengths();
    ASSERT_GE(lengths.size(), 2u) << "lengths.expected is missing or short";
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.Speed(), 0) << "nothing is open yet";
    EXPECT_EQ(player.Position(), 0);
    for (const auto& [name, ms] : lengths) {
        MessageCapture messages;
        ASSERT_TRUE(player.Open(kMp3Folder + name)) << name;
        EXPECT_EQ(player.Length(), ms) << name;
        EXPECT_EQ(player.Speed(), kNormalSpeed) << name;
        EXPECT_EQ(player.Position(), 0) << name << " is not playing yet";
        std::string error;
        EXPECT_EQ(AudioLengthMs(kMp3Folder + name, error), ms) << name;
        EXPECT_EQ(error, "");
        EXPECT_TRUE(messages.Messages().empty());
    }
}

TEST(AccompanimentPlayer, FilesItCannotPlayAreRefusedWithAProblemNamingThem) {
    testing_support::TemporaryFolder folder;
    const std::string empty = (folder.Path() / "music.mp3").string();
    testing_support::WriteFile(empty, "");
    // Far longer than a 59-byte name buffer would hold.
    const std::string longMissing = (folder.Path() / std::string(120, 'x') /
                                     "很长很长的歌曲名字很长很长的歌曲名字" / "music.mp3")
                                        .string();
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {kMp3Folder + "not-an-mp3.mp3", "不是 MP3 文件"},
        {longMissing, "不存在"},
        {folder.Path().string(), "文件夹"},
        {empty, "空文件"},
    };

    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    for (const auto& c : cases) {
        ASSERT_TRUE(player.Open(kTone));  // a bad file also closes the one open before
        MessageCapture messages;
        EXPECT_FALSE(player.Open(c.path)) << c.path;
        EXPECT_TRUE(messages.Messages().empty()) << c.path;  // the caller shows it
        const std::string text = player.OpenProblem();
        EXPECT_NE(text.find("“" + c.path + "”"), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_EQ(player.Length(), 0) << c.path;
        EXPECT_EQ(player.Speed(), 0) << c.path;

        player.Play();  // nothing to play
        EXPECT_EQ(player.Position(), 0);
        std::string error;
        EXPECT_EQ(AudioLengthMs(c.path, error), -1) << c.path;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(AccompanimentPlayer, LongAndChinesePathsOpen) {
    testing_support::TemporaryFolder folder;
    const auto path = folder.Path() / "歌曲" / "单曲" /
                      (std::string(40, 'a') + "一首名字很长的歌") / std::string(100, 'b') /
                      "music.mp3";
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::copy_file(kTone, path);
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(path.string()));
    EXPECT_EQ(player.Length(), ExpectedLength("tone-440.mp3"));
}

TEST(AccompanimentPlayer, TheSilentClockRunsInRealTimeAndStaysWhenStopped) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(kQuiet));
    const auto beforePlay = Clock::now();
    player.Play();
    const auto afterPlay = Clock::now();
    EXPECT_FALSE(player.HasSound());
    std::this_thread::sleep_for(milliseconds(100));
    const auto beforeRead = Clock::now();
    const int position = player.Position();
    const auto afterRead = Clock::now();
    // The clock starts inside Play and counts real milliseconds: never more than have passed
    // since before Play, never fewer than between Play's return and the read.
    const auto most = std::chrono::duration_cast<milliseconds>(afterRead - beforePlay).count();
    const auto least = std::chrono::duration_cast<milliseconds>(beforeRead - afterPlay).count();
    EXPECT_LE(position, most + 1);
    EXPECT_GE(position, least - 1);
    EXPECT_GE(position, 99);

    const int later = WaitForPosition(player, position + 50);
    EXPECT_GT(later, position + 50);
    player.Stop();
    const int stopped = player.Position();
    EXPECT_GE(stopped, later);
    std::this_thread::sleep_for(milliseconds(60));
    EXPECT_EQ(player.Position(), stopped);
    EXPECT_EQ(player.Speed(), kNormalSpeed) << "stopped, the media is still open";
    EXPECT_EQ(player.Length(), ExpectedLength("quiet.mp3"));
    player.Stop();  // a second stop changes nothing
    EXPECT_EQ(player.Position(), stopped);
}

TEST(AccompanimentPlayer, TheClockRunsOnPastTheEndUntilStopped) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(kTone));
    player.Play();
    const int past = player.Length() + 300;
    const int position = WaitForPosition(player, past);
    EXPECT_GT(position, past) << "the clock stopped at the end of the music";
    player.Stop();
    EXPECT_GT(player.Position(), past);
}

TEST(AccompanimentPlayer, PlayRestartsAndOpenAfterStopStartsAnew) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(kTone));
    player.Play();
    const int first = WaitForPosition(player, 400);
    ASSERT_GT(first, 400);
    player.Play();  // from the beginning again
    EXPECT_LT(player.Position(), first);
    EXPECT_GT(WaitForPosition(player, 100), 100);
    player.Stop();

    ASSERT_TRUE(player.Open(kQuiet));
    EXPECT_EQ(player.Position(), 0) << "a newly opened file starts at 0";
    EXPECT_EQ(player.Length(), ExpectedLength("quiet.mp3"));
    player.Play();
    EXPECT_GT(WaitForPosition(player, 100), 100);

    // Opening while playing stops the old playback.
    ASSERT_TRUE(player.Open(kTone));
    EXPECT_EQ(player.Position(), 0);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(player.Position(), 0);
}

// A seek (practising a line starts the music just before it): the clock starts exactly where it
// was asked and counts real milliseconds on from there; a seek past the end leaves the clock.
TEST(AccompanimentPlayer, ASeekStartsTheClockWhereItWasAsked) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("quorvel-seek-" + std::to_string(::getpid()) + ".wav");
    testing_support::WriteTone(path.string(), 440, 70.0, 8000);
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(path.string()));
    ASSERT_EQ(player.Length(), 70000);
    const auto beforePlay = Clock::now();
    player.PlayFrom(63250);
    const int first = player.Position();
    const auto afterFirst = Clock::now();
    const auto spent = std::chrono::duration_cast<milliseconds>(afterFirst - beforePlay).count();
    EXPECT_GE(first, 63250);
    EXPECT_LE(first, 63250 + spent + 1);
    const int later = WaitForPosition(player, 63250 + 200);
    const auto afterLater = Clock::now();
    EXPECT_LE(later - 63250,
              std::chrono::duration_cast<milliseconds>(afterLater - beforePlay).count() + 1);
    player.Stop();
    EXPECT_GE(player.Position(), later);

    player.Play();  // from the start again
    EXPECT_LT(player.Position(), 63250);
    player.PlayFrom(71000);  // past the end: only the clock
    EXPECT_GE(player.Position(), 71000);
    EXPECT_GT(WaitForPosition(player, 71050), 71050);
    player.Stop();
    std::filesystem::remove(path);
}

TEST(AccompanimentPlayer, QueriesFromOtherThreadsSeeAMonotoneClock) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(kTone));
    const int length = player.Length();
    std::atomic<bool> done{false};
    std::vector<std::vector<int>> seen(4);
    std::vector<int> badAnswers(seen.size(), 0);
    std::vector<std::atomic<int>> reads(seen.size());
    std::vector<std::thread> readers;
    player.Play();
    for (std::size_t i = 0; i < seen.size(); ++i)
        readers.emplace_back([&, i] {
            while (!done) {
                seen[i].push_back(player.Position());
                badAnswers[i] += player.Speed() != kNormalSpeed || player.Length() != length;
                ++reads[i];
            }
        });
    WaitForPosition(player, 200);
    player.Stop();
    const int stopped = player.Position();
    // Reads of the stopped player too: each reader starts one more after Stop.
    std::vector<int> atStop(reads.size());
    for (std::size_t i = 0; i < reads.size(); ++i) atStop[i] = reads[i];
    EXPECT_TRUE(testing_support::Eventually([&] {
        for (std::size_t i = 0; i < reads.size(); ++i)
            if (reads[i] < atStop[i] + 2) return false;
        return true;
    }));
    done = true;
    for (std::thread& reader : readers) reader.join();

    for (std::size_t i = 0; i < seen.size(); ++i) {
        ASSERT_FALSE(seen[i].empty());
        EXPECT_TRUE(std::is_sorted(seen[i].begin(), seen[i].end())) << "reader " << i;
        EXPECT_EQ(seen[i].back(), stopped) << "reader " << i;
        EXPECT_EQ(badAnswers[i], 0) << "reader " << i;
    }
}

TEST(AccompanimentPlayer, EveryFormatOpensWithTheLengthOfItsMusic) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    for (const char* file :
         {"tone.wav", "tone.flac", "tone.ogg", "tone.opus", "tone.m4a", "tone.mp4", "tone.webm"}) {
        MessageCapture messages;
        const std::string path = kAudioFolder + file;
        ASSERT_TRUE(player.Open(path)) << file;
        std::string error;
        EXPECT_EQ(player.Length(), AudioLengthMs(path, error)) << file;
        // 1.5 s encoded; a WebM says its music ends 2.5 ms earlier (see audiodecoder_test).
        EXPECT_NEAR(player.Length(), 1500, 3) << file;
        EXPECT_EQ(player.Speed(), kNormalSpeed);
        EXPECT_TRUE(messages.Messages().empty()) << file;
    }
}

TEST(AccompanimentPlayer, MusicOfAnotherFormatThatCannotPlayIsRefusedNamingIt) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {{kAudioFolder + "not-audio.ogg", "不是音频文件"},
                 {kAudioFolder + "empty.flac", "空文件"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(player.Open(kAudioFolder + "tone.flac"));
        MessageCapture messages;
        EXPECT_FALSE(player.Open(c.path, AudioSpan{100, 200, 10})) << c.path;
        EXPECT_TRUE(messages.Messages().empty()) << c.path;
        const std::string text = player.OpenProblem();
        EXPECT_NE(text.find("“" + c.path + "”"), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_EQ(player.Length(), 0);
        EXPECT_EQ(player.Speed(), 0);
    }
}

// Length() = min(the file's length, nEndMs) − nStartMs, never below 0.
TEST(AccompanimentPlayer, ASpansLengthIsTheMusicInIt) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    const struct {
        AudioSpan span;
        int length;
    } cases[] = {
        {{500, 1200, 100}, 700}, {{500, -1, 0}, 1000}, {{0, 99999, 0}, 1500}, {{1499, -1, 0}, 1},
        {{1500, -1, 0}, 0},      {{5000, 6000, 0}, 0}, {{-20, 300, 0}, 300},  {{}, 1500},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(player.Open(kAudioFolder + "tone.ogg", c.span));
        EXPECT_EQ(player.Length(), c.length) << c.span.nStartMs << " to " << c.span.nEndMs << " ms";
    }
    ASSERT_TRUE(player.Open(kTone, AudioSpan{250, -1, 40}));
    EXPECT_EQ(player.Length(), ExpectedLength("tone-440.mp3") - 250);
    ASSERT_TRUE(player.Open(kTone));  // the whole file again
    EXPECT_EQ(player.Length(), ExpectedLength("tone-440.mp3"));
}

TEST(AccompanimentPlayer, TheSilentClockOfASpanCountsFromItsStartAndRunsOnPastItsEnd) {
    CAccompanimentPlayer player(CAccompanimentPlayer::Output::None);
    ASSERT_TRUE(player.Open(kAudioFolder + "tone.ogg", AudioSpan{1000, 1300, 50}));
    ASSERT_EQ(player.Length(), 300);
    const auto beforePlay = Clock::now();
    player.Play();
    const int first = player.Position();
    const auto afterFirst = Clock::now();
    // From 0 at the span's start, not from where the span lies in the file.
    EXPECT_LE(first, std::chrono::duration_cast<milliseconds>(afterFirst - beforePlay).count() + 1);
    const int past = WaitForPosition(player, player.Length() + 200);
    EXPECT_GT(past, player.Length() + 200) << "the clock stopped at the end of the span";
    player.Stop();
    EXPECT_GE(player.Position(), past);
}

// A span that starts at or past the end of the music has nothing to play: its length is 0 and
// the clock just runs, without a device.
TEST(AccompanimentPlayer, ASpanPastTheEndLeavesOnlyTheClock) {
    MessageCapture messages;
    CAccompanimentPlayer player;  // with a device, were there music to play
    ASSERT_TRUE(player.Open(kAudioFolder + "tone.opus", AudioSpan{2000, -1, 100}));
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.Speed(), kNormalSpeed);
    player.Play();
    EXPECT_GT(WaitForPosition(player, 100), 100);
    EXPECT_FALSE(player.HasSound());
    player.Stop();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(messages.Traces().empty()) << "no device was tried";
}

}  // namespace
}  // namespace platform
