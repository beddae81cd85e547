// A folder the library searches for songs.
#pragma once

#include <string>
#include <vector>

namespace library {

struct LibraryRoot {
    enum class Kind {
        Singles,  // "歌曲/单曲" of the bundled library: its sub-folders are single songs
        Medleys,  // "歌曲/串烧歌曲" of the bundled library: its sub-folders are medley songs
        Collection,  // a folder the user added: the folder itself may be a song too
    };

    std::string strPath;  // as the songs' folders are named from it (relative to the working
                          // directory for the bundled library, absolute for the user's folders)
    Kind kind = Kind::Collection;

    bool operator==(const LibraryRoot&) const = default;
};

// The two roots of the bundled library below libraryFolder ("" is the working directory).
inline std::vector<LibraryRoot> BundledRoots(const std::string& libraryFolder) {
    std::string prefix = libraryFolder;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    return {{prefix + "歌曲/单曲", LibraryRoot::Kind::Singles},
            {prefix + "歌曲/串烧歌曲", LibraryRoot::Kind::Medleys}};
}

}  // namespace library
