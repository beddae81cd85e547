// A song in the UltraStar text format (a ".txt" beside its audio file), read into memory: the
// headers, normalised to one unit each, and the notes of every part grouped into phrases. The
// reader refuses a file only when it cannot be sung (no tempo, no notes); whatever else it cannot
// use it passes over or mends, and says so in the file's remarks. Everything it keeps holds
// together: the notes of a part come in order, never overlap and last at least one beat.
// UltraStarReference (ultrastarreference.h) turns a part's notes into the reference lines the
// engine scores against.
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
    int64_t nStartBeat = 0;  // absolute beat (relative mode already resolved)
    int64_t nLength = 0;     // beats
    int nPitch = 0;  // semitones from MIDI note 60 (some editors write MIDI numbers; both are read)
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

struct UltraStarProblem {
    int nLine = 0;  // 1-based line at fault; 0 for the file as a whole
    std::string strProblem;  // to follow the file's name, e.g. "第 2 行：#BPM 的值“0”必须大于 0"
};

struct UltraStarFile {
    std::string strTitle;
    std::string strArtist;
    std::string strAudio;     // #AUDIO, else #MP3
    std::string strCover;     // #COVER: the picture's file, beside the text
    std::string strYear;      // #YEAR, as written
    std::string strGenre;     // #GENRE
    std::string strLanguage;  // #LANGUAGE
    std::string strEncoding;  // as written in #ENCODING
    std::string strVersion;   // as written in #VERSION (even when it could not be read)
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
    // #PREVIEWSTART: where a preview of the song plays from, in seconds of the audio file.
    std::optional<double> previewStartSeconds;

    // Medley bounds: beats in files before 2.0.0 (#MEDLEYSTARTBEAT/#MEDLEYENDBEAT), milliseconds
    // from 2.0.0 on (#MEDLEYSTART/#MEDLEYEND). Only the pair of the file's version is set.
    std::optional<int64_t> medleyStartBeat;
    std::optional<int64_t> medleyEndBeat;
    std::optional<double> medleyStartMs;
    std::optional<double> medleyEndMs;

    bool bRelative = false;            // #RELATIVE:yes
    bool bDuet = false;                // the file has P marks
    std::vector<UltraStarPart> parts;  // by part number; [0] is P1 (or the only part)

    // What the reader passed over or mended, each "第 N 行：…" (or about the whole file), in the
    // order of their lines; at most about a hundred, the rest counted in a last one.
    std::vector<UltraStarProblem> remarks;

    // Seconds from the start of the audio file to a beat: GAP / 1000 + beat × 60 / (BPM × 4).
    double BeatSeconds(double beat) const;
};

// 8-bit text that names no code page is read in the one detected from its first this many bytes
// (in whole lines).
inline constexpr std::size_t kUltraStarDetectionBytes = 64 << 10;

// Reads a whole .txt file (UTF-8 with or without a byte-order mark, UTF-16 with one, or an 8-bit
// code page: the one #ENCODING names, else the one detected, else CP1252, which a remark names;
// bytes invalid in it become U+FFFD). Returns false with the problem when the file cannot be
// sung: it is no UltraStar file, has no usable #BPM, or has no notes (in P1 or P2 of a duet); out
// is then unspecified. Memory stays linear in the input.
bool ReadUltraStarFile(std::string_view bytes, UltraStarFile& out, UltraStarProblem& problem);

// Reads only the headers (title, artist, audio, cover, medley bounds, …), for listing a library
// of songs quickly: the notes are not read, and parts stay empty. The headers are those the whole
// reader finds when bytes are the file's lines through its headers or, when those hold bytes
// beyond ASCII, the whole file or more than its first kUltraStarDetectionBytes in whole lines (its
// code page is detected from these). Returns false when the bytes are not an UltraStar file or
// have no usable #BPM.
bool ReadUltraStarHeaders(std::string_view bytes, UltraStarFile& out, UltraStarProblem& problem);

}  // namespace engine
