// What tells songs of the same name apart where a list shows them side by side: two versions of
// an UltraStar song in different folders, a solo and a duet of it, or two native songs of one
// name in different collections.
#pragma once

#include <string>
#include <vector>

#include "library/songentry.h"

namespace library {

// A short hint for each of the listed entries, in their order: empty for a name listed once.
// Where being a duet alone tells the songs of a name apart, the duet's hint is "二重唱" and the
// other's is empty; otherwise each gets the end of its folder: as few of its last folder names
// as differ from those of every other song of the name (a duet's with "二重唱 · " before it).
std::vector<std::string> TellApart(const std::vector<const SongEntry*>& listed);

}  // namespace library
