// Where a song's files lie: the folder of the song below "歌曲/单曲/" (single songs) or
// "歌曲/串烧歌曲/" (medley songs), below the library folder ("" is the working directory).
#pragma once

#include <string>

namespace engine {

inline std::string SongFolderPath(const std::string& library, bool medley,
                                  const std::string& song) {
    std::string folder = library;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + (medley ? "歌曲/串烧歌曲/" : "歌曲/单曲/") + song;
}

}  // namespace engine
