// Loading a song of either kind the program sings: a native song folder (the point file "断点",
// the time files, the line files, "Lyric" and "music.mp3") or an UltraStar song (a ".txt" of notes
// and syllables beside its audio). Both give the engine the same reference data, an immutable
// CSong; the engine does not know which kind it sings.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/problem.h"
#include "engine/song.h"
#include "engine/songref.h"

namespace engine {

struct SongLoadOptions {
    int nRole = 1;         // 1 or 2: the part of a duet that is sung
    bool bMedley = false;  // only a song's medley section is sung
};

// The kind of song a path names: a native song folder holds "断点"; otherwise a folder holding a
// ".txt" file, or the path of a ".txt" file, is an UltraStar song. A folder with neither is taken
// for a damaged native song (its missing "断点" is the problem a load reports).
enum class SongKind { Native, UltraStar };
SongKind SongKindOf(const std::string& path);

// The UltraStar files of a folder (".txt", any letter case), sorted by name; none when the folder
// cannot be read.
std::vector<std::string> UltraStarFilesIn(const std::string& folder);

// The folder of a library song named by its folder: "歌曲/单曲/<name>" below the library, or for a
// medley "歌曲/串烧歌曲/<name>"; an UltraStar song with medley bounds may also be sung in a medley
// from "歌曲/单曲/<name>" when the medley folder holds no song of that name.
std::string LibrarySongFolder(const std::string& library, bool medley, const std::string& name);

// The songs of the library named by their folders, as LibrarySongFolder finds them.
std::vector<SongRef> LibrarySongs(const std::string& library, bool medley,
                                  const std::vector<std::string>& names);

// Loads the song at path (a song folder, or an UltraStar ".txt" file). On failure *problem says
// why (naming the file and, for an UltraStar file, the line) and the result is null.
std::shared_ptr<const CSong> LoadSong(const std::string& path, const SongLoadOptions& options,
                                      Problem* problem);

}  // namespace engine
