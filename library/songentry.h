// One song of the library as the lists show it: its name, where its files are, which lists take
// it and, when it cannot be read, why.
#pragma once

#include <QString>

#include <string>

#include "engine/songref.h"

namespace library {

struct SongEntry {
    enum class Kind { Native, UltraStar };

    std::string strName;    // shown: the folder's name (native) or "Artist - Title" (UltraStar)
    std::string strFolder;  // what the song is loaded from: its folder ("歌曲/单曲/<song>" in the
                            // bundled library), or its ".txt" when the folder holds several songs
    Kind kind = Kind::Native;
    bool bMedley = false;    // listed in the medley list (a native medley, or medley bounds)
    std::string strProblem;  // "file: problem" when the song cannot be read; empty when fine
    std::string strTitle;    // UltraStar #TITLE (empty for native songs)
    std::string strArtist;   // UltraStar #ARTIST (empty for native songs)
    bool bDuet = false;      // an UltraStar duet: two parts, one for each role
    std::string strCover;    // its picture, a path like strFolder's (UltraStar #COVER, or a native
                             // song's cover.jpg or cover.png); empty when it has none
    std::string strYear;     // UltraStar #YEAR, #GENRE and #LANGUAGE as written (empty for
    std::string strGenre;    // native songs and where the file gives none)
    std::string strLanguage;
    int nLengthMs = -1;  // its music's length, as the music check found it; -1: not known
    QString searchKey;   // FoldForSearch of "artist title" (or of the name)

    // The single-song list takes every UltraStar song and the native songs that are not medleys.
    bool InSingleList() const { return kind == Kind::UltraStar || !bMedley; }
    bool InList(bool medley) const { return medley ? bMedley : InSingleList(); }
    engine::SongRef Ref() const { return {strName, strFolder}; }

    bool operator==(const SongEntry&) const = default;
};

}  // namespace library
