// Telling songs of one name apart in a list.
#include "library/songhints.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using library::SongEntry;

struct Song {
    const char* name;
    const char* folder;
    bool duet;
};

std::vector<std::string> Hints(const std::vector<Song>& songs) {
    std::vector<SongEntry> entries;
    entries.reserve(songs.size());
    for (const Song& song : songs) {
        SongEntry entry;
        entry.strName = song.name;
        entry.strFolder = song.folder;
        entry.bDuet = song.duet;
        entries.push_back(entry);
    }
    std::vector<const SongEntry*> listed;
    listed.reserve(entries.size());
    for (const SongEntry& entry : entries) listed.push_back(&entry);
    return library::TellApart(listed);
}

TEST(TellApart, SongsOfOneNameGetTheLeastThatTellsThemApart) {
    const struct {
        const char* what;
        std::vector<Song> songs;
        std::vector<std::string> hints;
    } cases[] = {
        {"names listed once", {{"A", "x/A", false}, {"B", "x/B", true}}, {"", ""}},
        {"last folder names",
         {{"Q - R", "/m/Rock/Queen", false}, {"X", "/m/X", false}, {"Q - R", "/m/Covers/Q", false}},
         {"Queen", "", "Q"}},
        {"as many names as it takes",
         {{"Q", "/m/Rock/Q", false}, {"Q", "/m/Pop/Q", false}, {"Q", "/n/Pop/Q", false}},
         {"Rock/Q", "m/Pop/Q", "n/Pop/Q"}},
        {"a solo and a duet", {{"E", "/a/E", false}, {"E", "/b/E", true}}, {"", "二重唱"}},
        {"two duets and a solo",
         {{"E", "/a/E", true}, {"E", "/b/E", true}, {"E", "/c/E", false}},
         {"二重唱 · a/E", "二重唱 · b/E", "c/E"}},
        {"a bundled folder against a whole path",
         {{"S", "歌曲/单曲/S", false}, {"S", "/home/u/歌曲/单曲/S", false}},
         {"歌曲/单曲/S", "u/歌曲/单曲/S"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Hints(c.songs), c.hints) << c.what;
}

}  // namespace
