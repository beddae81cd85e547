// The song list's preview without a sound device: where it starts, which request wins, and a
// clean end while a song is still being opened. Its sound through a real output is tested in
// portaudio_tests.
#include "platform/previewplayer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/eventually.h"

namespace platform {
namespace {

using testing_support::Eventually;

const std::string kTone = std::string(QUORVEL_TEST_DATA) + "/audio/tone.wav";  // 1500 ms

std::size_t Threads() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// A loader that gives tone.wav for every song, with the start named by the song ("" for none),
// and holds the song "slow" until Release().
class Loader {
public:
    PreviewLoader Function() {
        return [this](const std::string& song, PreviewMusic& music) {
            std::unique_lock lock(m_mutex);
            m_loaded.push_back(song);
            m_changed.notify_all();
            if (song == "slow") m_changed.wait(lock, [this] { return m_bReleased; });
            music.strAudio = kTone;
            music.nStartMs = song == "900" || song == "5000" ? std::stoi(song) : -1;
            return true;
        };
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_bReleased = true;
        m_changed.notify_all();
    }
    std::vector<std::string> Loaded() {
        std::lock_guard lock(m_mutex);
        return m_loaded;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_loaded;
    bool m_bReleased = false;
};

TEST(PreviewPlayer, StartsWhereTheSongSaysElseAThirdIn) {
    Loader loader;
    CPreviewPlayer preview(loader.Function(), CAccompanimentPlayer::Output::None);
    // tone.wav is 1500 ms long: a third of it is 500 ms.
    for (const std::pair<std::string, int>& song :
         std::vector<std::pair<std::string, int>>{{"900", 900}, {"none", 500}, {"5000", 500}}) {
        SCOPED_TRACE(song.first);
        preview.Play(song.first);
        ASSERT_TRUE(Eventually([&] { return preview.Playing() == song.first; }));
        EXPECT_EQ(preview.StartMs(), song.second);
        EXPECT_FALSE(preview.Heard()) << "there is no device";
    }
}

TEST(PreviewPlayer, OnlyTheLatestRequestPlays) {
    Loader loader;
    CPreviewPlayer preview(loader.Function(), CAccompanimentPlayer::Output::None);
    preview.Play("slow");
    ASSERT_TRUE(Eventually([&] { return !loader.Loaded().empty(); }));
    preview.Play("a");
    preview.Play("b");
    preview.Play("c");
    loader.Release();
    ASSERT_TRUE(Eventually([&] { return preview.Playing() == "c"; }));
    EXPECT_EQ(loader.Loaded(), (std::vector<std::string>{"slow", "c"}));
    EXPECT_EQ(preview.Previews(), 1) << "the slow song was superseded before it played";
}

TEST(PreviewPlayer, StopAndDestructionWhileASongOpensEndCleanly) {
    const std::size_t threads = Threads();
    {
        Loader loader;
        CPreviewPlayer preview(loader.Function(), CAccompanimentPlayer::Output::None);
        preview.Play("slow");
        ASSERT_TRUE(Eventually([&] { return !loader.Loaded().empty(); }));
        preview.Stop();
        loader.Release();
        preview.Play("slow");  // loads at once now: the Stop stays the latest until this
        ASSERT_TRUE(Eventually([&] { return preview.Playing() == "slow"; }));
        EXPECT_EQ(preview.Previews(), 1);
    }
    Loader loader;
    auto preview =
        std::make_unique<CPreviewPlayer>(loader.Function(), CAccompanimentPlayer::Output::None);
    preview->Play("slow");
    ASSERT_TRUE(Eventually([&] { return !loader.Loaded().empty(); }));
    auto destroyed = std::async(std::launch::async, [&] { preview.reset(); });
    // The destructor waits for the loader, then plays nothing.
    EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    loader.Release();
    ASSERT_EQ(destroyed.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    // The async's own thread may take a moment to go once it has returned.
    EXPECT_TRUE(Eventually([&] { return Threads() == threads; })) << Threads() << " threads";
}

}  // namespace
}  // namespace platform
