// An UltraStar song loaded as the engine sings it: the sung part's phrases become the song's
// lines (UltraStarReference), each syllable a lyric unit under its note, and the accompaniment
// named by the file plays from #START (or from a medley section's start) to #END (or its end).
// When the named audio file is missing, one beside the text that plainly is it plays instead
// (the name in other capitals, the text's own name, or the only audio file there).
#pragma once

#include <memory>
#include <string>

#include "engine/problem.h"
#include "engine/song.h"
#include "engine/songloader.h"

namespace engine {

inline constexpr int kMedleyFadeMs = 500;  // a medley section's music fades in and out this long

// Whether the file reads as an UltraStar song (its headers are enough to say).
bool IsUltraStarText(const std::string& path);

// Loads the song of an UltraStar ".txt" file. The part sung is P1 for role 1 and P2 for role 2
// in a duet (P1 when the file has no P2), the one melody otherwise. In a medley only the phrases
// within the file's medley bounds are sung. What the reader passed over or mended, and a stand-in
// accompaniment, are in the song's remarks. On failure (the song cannot be sung) *problem names
// the file, the line and what is wrong, and the result is null.
std::shared_ptr<const CSong> LoadUltraStarSong(const std::string& path,
                                               const SongLoadOptions& options, Problem* problem);

}  // namespace engine
