// Whether a song can be sung with its music: the span of the music file the song plays, the end
// of its last line, and what a look at the file (platform::ProbeMusic) found. The song list and
// `quorvel-score check` judge a song's music by the same words.
#pragma once

#include <string>

#include "engine/song.h"
#include "platform/audiodecoder.h"
#include "platform/player.h"
#include "platform/previewplayer.h"

namespace engine {

// The part of the music file the song plays (its #START and #END, its fades).
platform::AudioSpan MusicSpan(const SongInfo& info);

// Where the song's last line ends, in milliseconds of the song's clock; -1 for a song of no lines.
int LastLineEndMs(const CSong& song);

// What is wrong with the song's music, for the user to read after the file's name; "" when it
// plays to the end of the last line. lastLineEndMs < 0: the lines are not known. A length beyond
// kLongestMusicMs is a file's claim, not music. An estimated length (the file was too long to
// count in time) is believed to within kEstimateSlackMs.
std::string MusicProblem(const platform::MusicProbe& probe, const platform::AudioSpan& span,
                         int lastLineEndMs);

// The preview of the song at path (as LoadSong takes it): its music file and its #PREVIEWSTART.
// False when the song cannot be loaded. Reads the song's files: not for the user-interface thread.
bool SongPreviewMusic(const std::string& path, platform::PreviewMusic& music);

inline constexpr int kLongestMusicMs = 24 * 60 * 60 * 1000;
inline constexpr int kEstimateSlackMs = 2000;

}  // namespace engine
