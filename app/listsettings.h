// The song list's order the user chose (title, artist, language, year, recently sung), kept in
// the user's Qt settings file (organisation and application "Quorvel") beside the other
// settings, by its name ("title", "artist", "language", "year", "recent"). Anything else read
// back is Title.
#pragma once

#include "library/songorder.h"

class CListSettings {
public:
    library::SongOrder order = library::SongOrder::Name;

    static CListSettings Load();
    // Writes the settings; false when the file cannot be written.
    bool Save() const;
};
