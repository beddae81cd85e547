// `quorvel-score show [--library DIR] [--medley] [--role 1|2] [--json] [--] SONG`: prints what a
// session loads for a song of either kind (a native song folder or an UltraStar song): its title,
// artist and accompaniment, and for every line its start and end (seconds on the song's clock),
// its value count M, its values and the lyric units the display shows under its notes.
//
// SONG is one folder name below DIR/歌曲/单曲/ (DIR/歌曲/串烧歌曲/ with --medley, which also sings
// only an UltraStar song's medley section). --role picks a duet's part. With --json one object:
// {"title":S,"artist":S,"audio":S,"lines":[{"start":f,"end":f,"values":[n,…],"lyrics":[S,…]},…]}
// with floats printed as %.9g. Status 0 when the song loads; 1 when it cannot be loaded (the file
// and the problem on err); 2 for bad usage or output that cannot be written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tools {

int RunShowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools
