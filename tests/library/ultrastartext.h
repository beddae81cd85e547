// UltraStar song files for the library's tests: headers, a few notes, the end mark.
#pragma once

#include <string>

namespace testing_support {

// A song file of the given artist and title (left out when empty), with extra header lines;
// a duet has two parts.
inline std::string UltraStarText(const std::string& artist, const std::string& title,
                                 const std::string& headers = "", bool duet = false) {
    std::string text;
    if (!title.empty()) text += "#TITLE:" + title + "\n";
    if (!artist.empty()) text += "#ARTIST:" + artist + "\n";
    text += "#MP3:song.mp3\n#BPM:300\n#GAP:1000\n" + headers;
    if (duet) text += "P1\n";
    text += ": 0 4 0 la\n: 4 4 2 la\n- 10\n: 12 4 4 la\n";
    if (duet) text += "P2\n: 0 4 5 oh\n: 4 4 7 oh\n";
    return text + "E\n";
}

}  // namespace testing_support
