// The check of each song's music after a scan: songs of both kinds whose music is missing, empty,
// not music or shorter than their lines are marked with the file and the reason, and what was
// found is kept until the song or its music changes.
#include "library/musiccheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/library/ultrastartext.h"
#include "tests/support/songwriter.h"
#include "tests/support/tonewav.h"

namespace {

using library::CMusicCheck;
using library::CSongCache;
using library::SongEntry;
using namespace testing_support;
namespace fs = std::filesystem;

const fs::path kDemoSong = fs::path(QUORVEL_TEST_DATA) / "../../demo/歌曲/单曲/纸船与月光";

enum class Music { Tone3s, Tone1s, Missing, Empty, Text, TruncatedMp3 };

void WriteMusic(const fs::path& file, Music music) {
    switch (music) {
        case Music::Tone3s:
            WriteTones(file.string(), {{440, 3.0}}, 8000);
            break;
        case Music::Tone1s:
            WriteTones(file.string(), {{440, 1.0}}, 8000);
            break;
        case Music::Missing:
            fs::remove(file);
            break;
        case Music::Empty:
            WriteFile(file, "");
            break;
        case Music::Text:
            WriteFile(file, "these are the words, not the music\n");
            break;
        case Music::TruncatedMp3:
            fs::resize_file(file, 60'000);  // the demo song's 52 s cut to about 4 s
            break;
    }
}

TEST(MusicCheck, MarksSongsWhoseMusicCannotBeSungWithThem) {
    const struct {
        const char* name;
        bool native;  // the demo's native song, else an UltraStar song of 1.8 s
        Music music;
        const char* problem;  // what the problem says after the music's name; "" when none
    } cases[] = {
        {"ultrastar-good", false, Music::Tone3s, ""},
        {"ultrastar-short", false, Music::Tone1s, "伴奏长 1 秒，最后一句在 1.8 秒才结束"},
        {"ultrastar-missing", false, Music::Missing, "不存在"},
        {"ultrastar-empty", false, Music::Empty, "是空文件"},
        {"ultrastar-text", false, Music::Text, "?"},
        {"native-good", true, Music::Missing, ""},
        {"native-missing", true, Music::Missing, "文件不存在"},
        {"native-truncated", true, Music::TruncatedMp3, "最后一句在"},
    };
    TemporaryFolder root;
    std::vector<SongEntry> entries;
    for (const auto& c : cases) {
        const fs::path folder = root.Path() / c.name;
        fs::path music = folder / "song.mp3";
        if (c.native) {
            fs::copy(kDemoSong, folder, fs::copy_options::recursive);
            music = folder / "music.mp3";
        } else {
            WriteFile(folder / "song.txt", UltraStarText("Band", c.name));
        }
        if (std::string(c.name) != "native-good") WriteMusic(music, c.music);
        SongEntry entry;
        entry.strName = c.name;
        entry.strFolder = folder.string();
        entry.kind = c.native ? SongEntry::Kind::Native : SongEntry::Kind::UltraStar;
        entries.push_back(entry);
    }
    const CSongCache none("");
    CSongCache::Music found;
    ASSERT_TRUE(CMusicCheck(none).Check(entries, CMusicCheck::Pass::All, found));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string problem = entries[i].strProblem;
        const std::string music = cases[i].native ? "music.mp3" : "song.mp3";
        if (*cases[i].problem == 0) {
            EXPECT_EQ(problem, "") << cases[i].name;
            if (!cases[i].native) {
                EXPECT_NEAR(entries[i].nLengthMs, 3000, 100) << cases[i].name;
            }
            continue;
        }
        EXPECT_NE(problem.find(music), std::string::npos) << cases[i].name << ": " << problem;
        if (*cases[i].problem != '?') {
            EXPECT_NE(problem.find(cases[i].problem), std::string::npos)
                << cases[i].name << ": " << problem;
        }
    }

    // What was found holds while the files stay as they were; mended music is looked at again.
    CSongCache kept("");
    kept.SetMusic(found);
    std::vector<SongEntry> again = entries;
    for (SongEntry& entry : again) {
        entry.strProblem.clear();
        entry.nLengthMs = -1;
    }
    // The music is added later: its folder's time moves on.
    const fs::path mended = root.Path() / "ultrastar-missing";
    const auto before = fs::last_write_time(mended);
    WriteMusic(mended / "song.mp3", Music::Tone3s);
    fs::last_write_time(mended, before + std::chrono::seconds(1));
    CSongCache::Music next;
    ASSERT_TRUE(CMusicCheck(kept).Check(again, CMusicCheck::Pass::Kept, next));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(again[i].strProblem,
                  std::string(cases[i].name) == "ultrastar-missing" ? "" : entries[i].strProblem)
            << cases[i].name;
    EXPECT_EQ(next.size(), std::size(cases) - 1) << "the mended song is not taken as kept";
    EXPECT_EQ(again[0].nLengthMs, entries[0].nLengthMs) << "the kept length comes with the list";
}

}  // namespace
