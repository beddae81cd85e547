// A song as the singer picked it: the name the lists show and the folder that holds its files.
// Native songs are named by their folder; UltraStar songs by "Artist - Title".
#pragma once

#include <string>

namespace engine {

struct SongRef {
    std::string strName;  // as the lists and messages show it
    std::string
        strFolder;  // the song's folder ("…/歌曲/单曲/<song>", or any folder of a collection)

    bool operator==(const SongRef&) const = default;
};

}  // namespace engine
