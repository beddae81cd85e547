// The song list's orders: each with the songs that lack what it goes by after the others.
#include "library/songorder.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace {

using library::SongEntry;
using library::SongOrder;

SongEntry UltraStar(const std::string& artist, const std::string& title,
                    const std::string& language, const std::string& year) {
    SongEntry entry;
    entry.kind = SongEntry::Kind::UltraStar;
    entry.strName = artist + " - " + title;
    entry.strArtist = artist;
    entry.strTitle = title;
    entry.strLanguage = language;
    entry.strYear = year;
    return entry;
}

SongEntry Native(const std::string& name) {
    SongEntry entry;
    entry.strName = name;
    entry.strFolder = name;
    return entry;
}

TEST(SongOrderTest, EachOrderPutsTheSongsWithoutItsKeyLastByName) {
    const std::vector<SongEntry> entries = {
        UltraStar("Queen", "Yesterday", "English", "1975"),      // 0
        UltraStar("ABBA", "Waterloo", "English", "1974-04-06"),  // 1
        UltraStar("Zaz", "Je veux", "French", ""),               // 2
        UltraStar("Jay Chou", "Dao Xiang", "Chinese", "2008"),   // 3
        Native("Moonlight"),                                     // 4
        Native("Blue Moon"),                                     // 5
    };
    // When each was last sung (by its name); the others never were.
    const std::map<std::string, int64_t> sung = {
        {"Zaz - Je veux", 5000}, {"Blue Moon", 9000}, {"Queen - Yesterday", 1000}};
    const struct {
        SongOrder order;
        std::vector<int> expected;
    } cases[] = {
        // The names listed, titles (a native song's is its name), then artists, languages,
        // years, the latest sung.
        {SongOrder::Name, {1, 5, 3, 4, 0, 2}},   {SongOrder::Title, {5, 3, 2, 4, 1, 0}},
        {SongOrder::Artist, {1, 3, 0, 2, 5, 4}}, {SongOrder::Language, {3, 1, 0, 2, 5, 4}},
        {SongOrder::Year, {1, 0, 3, 5, 4, 2}},   {SongOrder::Recent, {5, 2, 0, 1, 3, 4}},
    };
    for (const auto& c : cases) {
        std::vector<int> indices(entries.size());
        std::iota(indices.begin(), indices.end(), 0);
        library::OrderSongs(indices, entries, c.order, [&](const SongEntry& entry) {
            const auto found = sung.find(entry.strName);
            return found == sung.end() ? int64_t{0} : found->second;
        });
        EXPECT_EQ(indices, c.expected) << library::SongOrderName(c.order);
        EXPECT_EQ(library::SongOrderFromName(library::SongOrderName(c.order)), c.order);
    }
    EXPECT_EQ(library::SongOrderFromName("size"), std::nullopt);

    // The groups the list names: a year by its four digits, nothing where there is none.
    EXPECT_EQ(library::SongGroup(entries[1], SongOrder::Year), "1974");
    EXPECT_EQ(library::SongGroup(UltraStar("A", "B", "", "'74"), SongOrder::Year), "");
    EXPECT_EQ(library::SongGroup(entries[3], SongOrder::Language), "Chinese");
    EXPECT_EQ(library::SongGroup(entries[4], SongOrder::Artist), "");
    EXPECT_EQ(library::SongGroup(entries[0], SongOrder::Title), "");
}

}  // namespace
