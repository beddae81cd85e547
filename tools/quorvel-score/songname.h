// What the commands take as the name of a song: one folder's name below the library's song
// folders, so that no name reaches a folder outside the library.
#pragma once

#include <string>
#include <string_view>

namespace tools {

inline constexpr const char* kBadSongName = "歌曲名不能含有“/”，也不能是“.”或“..”";

// A single, non-empty folder name: no "/", and neither "." nor "..".
inline bool IsSongName(std::string_view song) {
    return !song.empty() && song.find('/') == std::string_view::npos && song != "." && song != "..";
}

}  // namespace tools
