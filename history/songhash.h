// The identity of a song in the history: a SHA-256 of its reference (the start and end times and
// every line's pitch values), in hex. The same song in another folder, or read from another kind
// of song file, has the same hash; a song whose melody was edited has another.
#pragma once

#include <string>

#include "engine/song.h"

namespace history {

std::string SongHash(const engine::CSong& song);

}  // namespace history
