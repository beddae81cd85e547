// A song in the UltraStar text format (a ".txt" beside its audio file), read into memory: the
// headers, normalised to one unit each, and the notes of every part grouped into phrases. The
// reader checks everything it keeps; UltraStarReference (ultrastarreference.h) turns a part's
// notes into the reference lines the engine scores against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

enum class UltraStarNoteType { Normal, Golden, Freestyle, Rap, GoldenRap };  // ':' '*' 'F' 'R' 'G'

struct UltraStarNote {
    UltraStarNoteType type = UltraStarNoteType::Normal;
    int64_t nStartBeat = 0;   // absolute beat (relative mode already resolved)
    int64_t nLength = 0;      // beats
    int nPitch = 0;           // semitones from MIDI note 60
    std::string strSyllable;  // UTF-8, exactly as in the file (spaces and "~" kept)
    int nLine = 0;            // 1-based text line number in the file
};

// The notes between two line breaks: one lyric line on the screen.
struct UltraStarPhrase {
    std::vector<UltraStarNote> notes;
    int nLine = 0;  // line of its first note
};

struct UltraStarPart {
    std::vector<UltraStarPhrase> phrases;
    int nNumber = 1;  // P1 → 1, P2 → 2, P3 → 3; 1 when the file has no parts
};

struct UltraStarFile {
    std::string strTitle;
    std::string strArtist;
    std::string strAudio;  // #AUDIO, else #MP3
    std::string strCover;
    std::string strEncoding;  // as written in #ENCODING
    std::string strVersion;   // as written in #VERSION
    std::string strSingerP1;  // #DUETSINGERP1 or #P1
    std::string strSingerP2;  // #DUETSINGERP2 or #P2
    double dBpm = 0;          // as written: quarter beats are 60 / (4 × BPM) seconds
    double dGapMs = 0;        // milliseconds from the start of the audio to beat 0

    // Where the audio starts and ends and the video's offset, std::nullopt when the header is
    // absent. Files of version 2.0.0 and later write all three in milliseconds; older ones write
    // #START and #VIDEOGAP in seconds and #END in milliseconds.
    std::optional<double> startSeconds;
    std::optional<double> endMs;
    std::optional<double> videoGapSeconds;

    // Medley bounds: beats in files before 2.0.0 (#MEDLEYSTARTBEAT/#MEDLEYENDBEAT), milliseconds
    // from 2.0.0 on (#MEDLEYSTART/#MEDLEYEND). Only the pair of the file's version is set.
    std::optional<int64_t> medleyStartBeat;
    std::optional<int64_t> medleyEndBeat;
    std::optional<double> medleyStartMs;
    std::optional<double> medleyEndMs;

    bool bRelative = false;            // #RELATIVE:yes
    bool bDuet = false;                // the file has P marks
    std::vector<UltraStarPart> parts;  // in file order; [0] is P1 (or the only part)

    // Seconds from the start of the audio file to a beat: GAP / 1000 + beat × 60 / (BPM × 4).
    double BeatSeconds(double beat) const;
};

struct UltraStarProblem {
    int nLine = 0;  // 1-based line at fault; 0 for the file as a whole
    std::string
        strProblem;  // to follow the file's name, e.g. "第 12 行：音高 75 超出范围（-60 到 60）"
};

// Reads a whole .txt file (UTF-8 with or without a byte-order mark, UTF-16 with one, or an 8-bit
// code page named by #ENCODING, CP1252 when none is). Returns false with the first problem when
// the file cannot be a song; out is then unspecified. Memory stays linear in the input.
bool ReadUltraStarFile(std::string_view bytes, UltraStarFile& out, UltraStarProblem& problem);

// Reads only the headers (title, artist, audio, cover, medley bounds, …), stopping at the first
// note line, for listing a library of songs quickly; parts stay empty. Returns false when the
// bytes are not an UltraStar file (no #BPM header, or a malformed header).
bool ReadUltraStarHeaders(std::string_view bytes, UltraStarFile& out, UltraStarProblem& problem);

}  // namespace engine
