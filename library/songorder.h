// The orders the song list can take: by the name listed (the first and usual one: a native song's
// folder, an UltraStar song's "Artist - Title"), by title, artist, language, year, or the songs
// sung most recently first. Songs that lack what an order goes by (a native song has no artist,
// language or year; a song never sung) follow the others, by name; ties go by name too. Names
// compare as the scan sorts them (CSongScanner::Sort: Chinese by pinyin, numbers by value).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/songentry.h"

namespace library {

enum class SongOrder { Name, Title, Artist, Language, Year, Recent };

inline constexpr SongOrder kSongOrders[] = {SongOrder::Name,   SongOrder::Title,
                                            SongOrder::Artist, SongOrder::Language,
                                            SongOrder::Year,   SongOrder::Recent};

// Its name in the settings ("name", "title", "artist", "language", "year", "recent") and back.
const char* SongOrderName(SongOrder order);
std::optional<SongOrder> SongOrderFromName(std::string_view name);

// The group an entry falls in under an order, as the list names it above its first song: the
// artist, the language or the year (its first four digits); empty for an entry that has none
// (the songs after the others), and for the orders that make no groups (name, title, recently
// sung).
std::string SongGroup(const SongEntry& entry, SongOrder order);

// Puts the entries' indices in the order. lastSungMs gives when a song was last sung (ms since
// 1970; 0 when never); only Recent asks it.
void OrderSongs(std::vector<int>& indices, const std::vector<SongEntry>& entries, SongOrder order,
                const std::function<int64_t(const SongEntry&)>& lastSungMs = {});

}  // namespace library
