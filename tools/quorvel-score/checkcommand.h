// `quorvel-score check [--library DIR] [--medley] [--] SONG...`: checks song folders before they
// are shared.
//
// Each SONG is a folder under DIR/歌曲/单曲/ (or DIR/歌曲/串烧歌曲/ with --medley; DIR defaults
// to the working directory). Its reference data is loaded exactly as a session loads it, the
// accompaniment "music.mp3" is opened as the player opens it (a last line that ends after the
// music is reported), and the lyric file "Lyric" (code page 936 or UTF-8 text) is looked at.
// Every problem gives one line on out, "<file>: <problem>"; a song whose reference data fails
// shows the first problem the loader met. An UltraStar song is a problem only when it cannot be
// sung (no tempo, no notes in a part a role sings, no music); what its reader passed over or
// mended is a remark, one a line in the same form ("<file>: 第 N 行：…（已忽略）"), which leaves
// the status alone. Nothing is printed for a sound song. Files are opened as
// the loaders open them (CInputFile: never blocking, regular files only, song files up to 16 MiB);
// the accompaniment is scanned as a stream. A SONG is one folder name (no "/", "." or ".."); after
// "--" every word is a SONG. Control characters in names are printed escaped (see Printable).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tools {

// args are the words after "check". Returns 0 when every song can be sung (remarks or none), 1
// when problems were found, 2 for bad usage (with the usage on err) or when out cannot be
// written (said on err).
int RunCheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools
